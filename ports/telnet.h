#pragma once
// The network drivers: telnet (variants "telnet", "telnetb", "telnete"), rlogin and acs, all
// over TCP, IPv4 or IPv6.
//
// An address is host, host:port or host#port; an IPv6 literal is written in brackets
// ("[::1]:2323") or bare with "#" before the port ("::1#2323"), since its own colons would
// otherwise be read as the port separator. A port must be 1..65535; without one the `netport`
// setting, else the service's standard port, is used.
//
// The telnet receive filter (telinput) is a small state machine that accepts BINARY, ECHO,
// SUPPRESS-GO-AHEAD, TERMINAL-TYPE and NAWS and refuses everything else once per request. It
// answers TERMINAL-TYPE SEND with the emulation's name and NAWS with the emulated screen size,
// sent again whenever that size changes. A peer's WILL ECHO means the host echoes (full
// duplex), WONT ECHO that the program must (half duplex); the user's own duplex mode comes back
// when the connection closes.
//
// "telnetb" is raw TCP after a binary request: it sends WILL and DO BINARY and then switches
// the filter off for the rest of the connection, for serial-to-network boxes that want a clean
// 8-bit path; the peer's answers then arrive as data.
//
// rlogin connects from a reserved local port, which only root can bind: run the program as
// root for rlogin rather than installing it setuid. The rlogin start string always gives the
// speed 9600, the server's first NUL arrives as data, and window sizes are not sent.
#include <cstdint>
#include <string>

inline int waitconn = 30; // connection time-out in seconds
inline int netport = -1;  // port used when an address gives none (-1: the service's own)

// Telnet command bytes and options.
enum : int {
    T_SE = 240,
    T_BRK = 243,
    T_SB = 250,
    T_WILL = 251,
    T_WONT = 252,
    T_DO = 253,
    T_DONT = 254,
    T_IAC = 255,
    TO_BINARY = 0,
    TO_ECHO = 1,
    TO_SGA = 3,
    TO_TTYPE = 24,
    TO_NAWS = 31,
};

// Driver operations (the rows of the rlogin, telnet and acs tables).
int bsdinit(int variant, const char* name);
int bsdvt(const char* address);
int bsdexit();
int bsdbrk();
int telout(int byte);
int telbout(const uint8_t* buf, int len);

// Splits an address into host and port: 0 on success (port 0 when none was given), -1 when
// the port is not a number in 1..65535 or the host is empty.
int splitaddr(const char* address, std::string& host, int& port);
// Resolves and connects: the socket, or -1 unknown host, -2 unknown service ("Unknown service
// family"), -3/-4 no reserved port, -5 connection failed or timed out.
int isdconnect(const char* host, const char* service, int port);
// The terminal-type name of an emulation (the TTY emulation sends TERM when it is at most 40
// printable characters, else "dumb").
std::string getemname(int mode);
// The rlogin start string for `user` in emulation `mode`.
std::string rloginstart(const std::string& user, int mode);

// Resets the filter and sends the variant's opening negotiation.
void telinit(int variant);
// Sends IAC command option as three raw bytes.
void telanswer(int command, int option);
// Sends the window size again if NAWS is on and the emulated size changed since last sent.
void telwinch();

// Filter state, for tests and the fuzz target.
struct TelnetState {
    int state = 0;          // receive state 0..8
    int sbopt = -1;         // option of the subnegotiation being read
    int sblen = 0;          // its data bytes seen (only the first few are kept)
    uint8_t sbdata[4] = {}; // first bytes of its data
    uint8_t hiswill[256] = {};
    uint8_t hisdo[256] = {};
    uint8_t asked[256] = {};          // bit 1: we sent DO, bit 2: we sent WILL, awaiting the answer
    int nawsrows = -1, nawscols = -1; // size last sent
    int userdup = -1;                 // the user's duplex mode, put back at the close
};
extern TelnetState tn;
// Power-on state.
void telreset();
