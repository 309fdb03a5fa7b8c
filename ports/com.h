#pragma once
// The port layer: one line (COM) whatever the transport behind it.
//
// A transport name ("telnet", "pty", "/dev/ttyS0", "nul:") picks a driver from the transport
// table `ilist`; the driver is a table of operations. The layer owns the line's receive queue
// (comq), the console's raw input (ttyq) and the decoded keys (iqueue), and the program's single
// wait, waitread(), which multiplexes the console and the line with select.
#include "ports/queue.h"

#include <cstdint>
#include <string>

struct BaudEntry {
    long rate; // bits per second; 0 ends the table
    int code;  // driver's own speed code (termios speed for the serial driver)
};

// A driver's operations, in the order of the system's driver tables.
struct ComDriver {
    int (*init)(int variant, const char* name); // prepare for port `name`; <0 = unusable
    int (*vt)(const char* node);                // connect; <0 = failure
    int (*exit)();                              // close the connection
    int (*st)();                                // 1 if a received byte is ready; waits once
    int (*stnh)();                              // same, never waits
    int (*in)();                                // next received byte, waiting
    int (*out)(int byte);                       // send one byte
    int (*bout)(const uint8_t* buf, int len);   // send a block
    int (*set)(int word);                       // apply the line-format word
    int (*baud)(int code);                      // set the speed; 0 drops DTR
    int (*unused)();                            // always answers 0
    int (*mstat)();                             // modem status bits
    int (*brk)();                               // send a break
    const BaudEntry* bauds;                     // speeds the driver accepts
    int flags;                                  // COMF_* bits
    int combufsiz;                              // block size for senders, 1200
};

// Driver flags word.
enum : int {
    COMF_PIPEBREAK = 1,  // a SIGPIPE means the connection broke
    COMF_CONNECTION = 2, // a connection, not a modem: hang-up closes it
    COMF_MAGICPORT = 4,  // connect from a reserved local port
    COMF_TELNET = 8,     // bytes pass through the telnet filter
    COMF_ACS = 128,      // connect to service "acs" instead of "telnet"
};

struct Transport {
    const char* prefix;
    int variant;
    ComDriver* driver;
};

constexpr int COMQSIZE = 2500;
constexpr int COMQBIG = 16385; // the line queue during a file transfer: reads of 16 KiB
constexpr int CONSREAD = 128;  // bytes taken from the console in one read
constexpr int TTYQSIZE = 1025; // console ring: eight full reads (one slot always stays free)
constexpr int OUTQMAX = 65536; // line bytes queued before a writer waits for the line
constexpr int COMBUFSIZ = 1200;

// Driver tables.
// Not const: the script variable `_combufsiz` sets the current table's block size.
extern ComDriver nulfunc;
extern ComDriver bsdfuncs;
extern ComDriver tnetfuncs;
extern ComDriver acsfuncs;
extern ComDriver ptyfuncs;
extern ComDriver asyfuncs;
extern const Transport ilist[]; // ended by a row with a null prefix
// The speeds of every driver but the serial one, with a dummy code 1.
extern const BaudEntry nullbauds[];
// Transport lookup: the first row whose prefix begins `name`, or nullptr.
const Transport* findtransport(const char* name);

// Line state.
extern ComDriver* COM; // the current driver
extern int comfd;      // the line's descriptor, -1 when closed
extern int ttyfd;      // the console's descriptor
extern CharQueue comq, ttyq, iqueue;
extern uint8_t connected;
extern std::string comline; // port name in use
extern std::string curtransport;
extern int reinit; // keep curtransport while reconnecting
extern int selmaxfd;
extern uint16_t consbuf[81]; // pending key string, zero-terminated
extern int consp;            // read index into consbuf, -1 when none pending
extern int escloop;          // polls for the byte after an ESC
extern int xorqflag;         // server or quiet mode: no console input
extern int canabort;         // comwait returns -1 for the abort key
extern int exitdisc;         // a lost line ends the program

// Opening and closing.
int cominit(const char* list);
int comexit();
int startcom(int size);
void closecom();
void startsel(int console);
int doxqz();
int setdtr(int on);
void dodisconnect();

// Line I/O.
int fdin();
int fdst();
int fdstnh();
int fdout(int byte);
int fdbout(const uint8_t* buf, int len);
// Sends bytes on the line without ever blocking in write(): what the line cannot take yet is
// queued behind what already waits, and goes out from later sends and from every wait
// (waitread). Nothing queued is dropped. With `wait`, a sender whose queue has grown past
// OUTQMAX waits (poll) for the line to take some; the command key typed at the console, SIGTERM
// and SIGHUP end that wait, the queued bytes (and keys typed ahead of the command key) are
// discarded and -1 is returned. Without `wait`
// (answers to the line's status requests) bytes that would grow the queue past OUTQMAX are
// dropped instead. `len`, or -1 when the line failed or the wait was ended.
int lineput(const uint8_t* buf, int len, bool wait);
// While one lives, the line stays non-blocking, so a writer that sends many blocks (a file
// transfer) does not switch the descriptor's mode around each write; the mode is restored when
// it ends. Reads are unaffected: the line is read only after select says a byte is there.
class LineNonblock {
  public:
    LineNonblock();
    ~LineNonblock();
    LineNonblock(const LineNonblock&) = delete;
    LineNonblock& operator=(const LineNonblock&) = delete;

  private:
    int fd_ = -1, fl_ = 0;
};
// Bytes queued for the line and not yet taken.
int linepending();
// Before a line closes: gives what is queued, in the program and in the driver, at most
// `seconds` to go out, then throws away what a line that stopped taking bytes still holds, so
// the close and the settings applied on the way out never block.
void linesettle(double seconds = 2);
// An answer the line asked for (a status report): sent, or queued, never waited for.
int comreply(const uint8_t* buf, int len);
int _comin();
int _comst(int wait);
int netread(int fd, void* buf, int len);
int comwait(int seconds);
void comflush();
void waitread(int block);

// Telnet option filter: the byte to queue, or -1 to drop it.
int telinput(int byte);

// Console input.
int _chrdy(int flush);
int xchrdy(int flush);
// Moves everything typed so far into the decoded-key queue without taking a key, so a caller
// can look for one key (the abort key) and leave the rest for whoever reads keys.
void keysahead();
int chrdy();
int chrdynh();
int chrin();
int chwait(int* byte);
// The byte that starts a remote command when it comes from the line (6), or -1 while remote
// commands are off.
int remotebyte();
// Whether a request from the line (the letter after the ACK, then its text) may run. Only "R"
// (receive into a directory), "S" (send files) and ":" with a transfer command (xfer, send,
// get, rcv) or cd are taken, and every name in them must be relative and stay inside the
// current directory. With `ctlfull` anything is taken but a change of the remote-command
// setting.
bool remoteok(const std::string& request);
// Set only from the console or a script (`set control full`): remote requests may run any
// command, a local shell included.
inline int ctlfull = 0;
void consraw();
void consnorm();

// Resets the layer to its power-on state (the null line, empty queues) for tests.
void comreset();
