#pragma once
// Start-up and the single exit path.
//
// vornmain() reads the program name, the options (command line, VORNFLAGS, the `vornflags`
// option word), runs the start-up scripts, prepares the console, the screen and the line,
// prints the banner and runs the terminal-mode loop. Every end of the program, including
// SIGHUP and SIGTERM (seen as flags by the loops), goes through doneterm(), which runs the exit
// script once, closes everything and restores the console.
#include <csignal>
#include <cstdint>
#include <string>

// Start-up flags; all start at 0.
inline uint8_t aflag = 0; // key set-up also takes bare BS left / CR down arrow keys
inline int cflag = 0;     // remote command mode: ACK from the line starts a command line
inline uint8_t fflag = 0; // a mode option or a file argument was given
inline uint8_t iflag = 0; // handed to the lock manager
inline uint8_t mflag = 0; // inverts the start-up menu decision (-m, or started as "vt")
inline uint8_t qflag = 0; // quiet: console not read, standard output to /dev/null
inline uint8_t uflag = 0; // no banner, no hint line
inline uint8_t xflag = 0; // server mode: standard input is the line
inline uint8_t zflag = 0; // null line: no real line open
inline int echoflag = 0;  // leave the console's full-screen mode alone
inline int viewflag = 0;  // show what dialing and login send
inline int vtdebug = 0;   // debug trace level
inline int dupmode = 1;   // duplex mode: 0 TALK 1 FULL 2 HALF 3 DUMP 4 MNEMONIC 5 CONTROL
inline int emode = 8;     // current emulation (bit value of the terminal list)
inline int errprot = 0;   // current transfer protocol number
inline int prbufsiz = 0;  // printer buffer size
inline int intbufsiz = 0; // set by -b; nothing reads it
inline int orgemode = 8;  // emulation in force at start
inline int msave = 0;     // modem status at start
inline int gerrno = 0;    // result of the last background command
inline int quitflag = 0;  // a script asked the server loop to end

inline std::string portlist;  // port list or service opened at start
inline std::string parmptr;   // line parameters for server mode on standard input (-s)
inline std::string vornflags; // option word set by the script command `flags`

// Set by the SIGHUP/SIGTERM handlers to the signal's number; the wait that sees it calls
// doneterm, so the exit script never runs inside a signal handler.
inline volatile sig_atomic_t donesig = 0;
// The handler osinit installs for SIGHUP and SIGTERM.
void donecatch(int sig);

constexpr const char* VORN_OPTIONS = "ab:cdefhikl:mop:qs:tuvxz1257";
constexpr const char* VORN_VERSION = "1.0";
constexpr const char* VORN_RELEASE = "05 Dec 2026";
// "VORN v1.0 <release date> [<system identification>] Linux", built once and kept.
const std::string& versionline();
constexpr int PATHMAX = 64; // longest path getpath leaves in its buffer

[[noreturn]] int vornmain(int argc, char** argv);
[[noreturn]] void doneterm(int status);

// Parses options from *argc/*argv (argv[0] is the program name) and advances both past them.
void getopts(int* argc, char*** argv);
// Applies one option word such as "-qu", as from VORNFLAGS.
void applyflags(const std::string& word);
// The -x pre-scan of the leading option words: sets xflag when an x is among the letters.
void xprescan(int argc, char** argv);
// Runs a start-up script: 1 system, 0 user, 2 exit. 0 when none was found.
int runvornrc(int which);
// Searches the home directory, then VORNDIR (or "/usr/vorn"), never the current directory, for
// `name`, passing over copies others may write; the path found (at most PATHMAX characters) is
// left in `buf`, which holds PATHMAX + 1 bytes. 1 when found.
int getpath(char* buf, const char* name);
void banner();
// Prints the hint line naming the menu and help keys.
void hintline();
// Returns the start-up flags and strings to their power-on values.
void startreset();
