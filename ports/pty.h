#pragma once
// The pseudo-terminal line: a local program - by default the user's shell - runs on the slave
// side of a pseudo-terminal and the master becomes the line, so everything the program prints
// passes through the emulator like the output of a remote host.
//
// ptyvt() splits its argument into the program's argument vector, opens a master through the
// Unix 98 multiplexer (posix_openpt, grantpt, unlockpt, ptsname; grantpt gives the slave its
// owner and mode), picks TERM from the current emulation, and forks the program with the slave
// as its controlling terminal, standard input, output and error. SIGCHLD only sets a flag;
// ptypoll() and ptyexit() reap the program. When the program ends its process group is hung up,
// the master reads end of file, and the port layer reports "[Disconnected]". Closing the line
// (ptyexit) hangs the program's process group up and reaps it.
#include <csignal>
#include <string>
#include <sys/types.h>

constexpr int PTYMAXARGS = 9;    // words of the program's argument vector
constexpr int PTYARGBUF = 255;   // bytes of the argument buffer
constexpr int PTYEXIT_NOMEM = 1; // exit codes printed as "[PTY Driver Exit: %d]"
constexpr int PTYEXIT_EXEC = 30;
constexpr int PTYEXIT_NOPTY = 32;

// Driver operations of the `ptyfuncs` table.
int ptyvt(const char* command);
int ptyexit();
int ptybrk();

// Prepares the settings, starts the program and returns the master (non-blocking), or -1.
int dopty();
// Opens a free master; its slave's name goes to `result`. 0 on success, 1 when none is left.
int get_pty(int* master, std::string& result);
// SIGCHLD handler while the program runs: sets `ptychld` only.
void reapchild(int sig);
// Hangs the program's group up, closes the master, and reports the lost line through
// dodisconnect; a non-zero code is printed as "\r\n[PTY Driver Exit: %d]\r\n" on stderr.
void Cleanup(int code);
// Reaps the program when SIGCHLD was seen; once it has ended its process group is hung up so
// the master reaches end of file. 1 when the program has ended.
int ptypoll();

// Tells the program on the line a new window size (the kernel signals it with SIGWINCH). 1 when
// the size changed; 0 when it was already so or no program runs on a pseudo-terminal line.
int ptysetsize(int rows, int cols);

// Splits `command` at spaces and tabs into at most PTYMAXARGS words; the number of words.
int ptysplit(const char* command);
// The program's argument vector from the last ptysplit (null-terminated), empty = the shell.
char* const* ptyargv();
// TERM for the program: the current emulation's name when the terminal database has it, else
// the first of "vt102", "vt100", "ansi", "dumb" that it has; nullptr when none.
const char* ptytermname(int mode);
// True when the system's terminal database (terminfo) has an entry for `name`.
bool termexists(const char* name);

inline volatile sig_atomic_t ptychld = 0; // SIGCHLD seen since the last reap
inline pid_t ptypid = -1;                 // the program (and its process group), -1 none
inline int ptystatus = -1;                // its wait status once reaped

// Power-on state (no program, empty argument vector), for tests. Does not close a line.
void ptyreset();
