#pragma once
// Dialing, answering, login and logout over a Hayes-style modem, and the dialog language.
//
// Every wait for the modem works in one-second ticks of wall-clock time, so a modem that keeps
// talking without ever sending what is awaited still runs out of time. Received text is kept,
// with bit 7 cleared, in a match buffer of MATCHSIZE characters that is emptied at the start of
// every wait and, when full, keeps only the tail an awaited string could still end in; NUL bytes
// match like any other byte.
//
// Dialog language (login, logout, server start and stop): printable text is collected and sent
// at the next action; ^S sends and starts a string to wait for (up to the next ^S), "|" ^S text
// ^S adds alternatives (up to 10), ^Tnn sets the wait time-out (00 means the default 30), ^Lnn
// sets a loop point and count, ^W pauses a second, ^F discards input, ^B sends a break, ^Z
// queues a NUL, ^K takes the next character literally, ^N makes the following waits take no
// alternatives, ^Rdd ends with `_retval` d and result d (1 when absent), "|" outside a wait
// ends with 0. A dialog runs at most 60 seconds, checked after each wait. An alternative's
// actions may contain further waits only after ^N.
#include "ports/settings.h" // scmd

#include <string>
#include <vector>

// Modem and dialog settings (the modem strings themselves live with the other text settings).
inline std::string loginstr;  // login dialog, empty = none
inline std::string logoutstr; // logout dialog, empty = none
inline std::string startstr;  // server start dialog
inline std::string stopstr;   // server stop dialog
inline std::string modemfile; // command file whose procedures call, answer and hang up
inline int dredial = 2;       // extra dialing passes over the number list
inline int dtimout = 60;      // seconds to wait for the connect string
inline int ddtr = 1;          // drop DTR while hanging up
inline int hardwired = 0;     // the line needs no dialing
inline std::string cnumber;   // the number last dialed

constexpr int MATCHSIZE = 511; // characters kept for matching modem and dialog replies
constexpr int MAXCASES = 10;   // strings one wait can match

// Results of the waits below.
enum : int { MW_MATCH = 0, MW_TIMEOUT = 1, MW_ABORT = 2 };

// Answer modes, as listed by the escape command's answer menu.
enum : int { ANS_WAIT = 0, ANS_AUTO = 1, ANS_NOW = 2, ANS_OFF = 3 };

// Waits `ticks` seconds for `text` from the modem. The abort key aborts, except while 2, 3 or 4
// ticks remain, when it only uses up a tick.
int okwait(const char* text, int ticks);
// The same for any of `alts`; on a match `*which` is its index.
int mwait(const std::vector<std::string>& alts, int ticks, int* which);
// Waits up to `seconds` for any of `alts` (at most MAXCASES); on a match `*which` is its index.
int waitany(const std::vector<std::string>& alts, int seconds, int* which);
// Pauses `seconds`, letting queued output go out and keeping what arrives.
void mpause(double seconds);
// Prints "Modem not responding, %s aborted\r\n"; 1.
int mabort(const char* what);
// Prints `message`, sends a carriage return, pauses 2 seconds and discards input; 1.
int hangerr(const char* message);

// Runs a dialog: 0 done (with `gtimeout` set when it timed out), the ^R result, 2 on abort,
// 1 after "Bad multiple case" or "Too many cases".
int dialog(const char* text);
int dologin();
int dologout();
// Runs the login dialog after a connection: 0 success, else the dialog's result (1 when it
// timed out); a failure hangs up unless the line is hard-wired.
int chklogin();
int dostserver(int start);

// 1 when `text` is a list of numbers to dial rather than a service or an address.
bool isnumber(const char* text);
// Dials one number: 0 connected, 1 failed, 2 aborted.
int call2(const char* number);
// Connects to "none", a service or address, or a ";" list of numbers with redialing.
int docall(const char* text, int mode);
int answer(int mode);
// 1 logout first (user hang-up), 2 between redials, 0 any other: the logout result, or 1 when
// the line could not be re-opened.
int hangup(int mode);
int hangcmd();
// Re-opens the current line with its settings (nothing for network lines): 0 or 1.
int reopenline();

// Power-on state, for tests.
void modemreset();
