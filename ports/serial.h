#pragma once
// The serial line driver (the port layer's `asyfuncs`) on Linux termios.
//
// asyinit locks the device through the lock manager, opens it without waiting for carrier
// under an alarm, puts it into raw mode and starts the port layer; asyvt applies the speed and
// format; asyexit drops DTR (unless `exitdtr`), closes and unlocks. serset turns a line-format
// word into character size, stop bits, parity and flow control (Xon/Xoff from the word, Rts/Cts
// when the line protocol is Rts/Cts); sersbaud sets the speed, and speed 0 (B0) drops DTR.
// The same routines serve the line on standard input in server mode.
#include <string>
#include <termios.h>

struct BaudEntry;

// Settings.
extern int exitdtr;          // keep DTR up when the line is closed (HUPCL off)
extern int preoflag;         // open the device blocking once before the real open
extern int cfloflag;         // keep the console's XON/XOFF in raw mode
extern std::string partopen; // device paths with this prefix are opened blocking
extern int vmin;             // VMIN of the line [1]
extern int vtime;            // VTIME of the line, tenths of a second [1]

// State.
extern int ixonset; // the console's IXON/IXANY bits as found at start
extern int tospeed; // the speed code last set or read

// Rates and termios speed codes, ended by a 0 rate.
extern const BaudEntry serbauds[];

// Driver operations.
int asyinit(int variant, const char* name);
int asyvt(const char* parameters);
int asyexit();
int asyset(int word);
int asybaud(int code);
int asybrk();

// Low-level routines.
// Raw mode on a line: no echo, no editing, no signals, no output processing, VMIN/VTIME from
// the settings, CLOCAL, HUPCL unless `exitdtr`; pending input is discarded. -1 when `fd` is not
// a terminal.
int serraw(int fd);
int serset(int fd, int word);
// What serset changes in `t` for a line-format word.
void serword(termios& t, int word);
int sersbaud(int fd, int code);
long sergbaud(int fd, int remember);
int serbrk(int fd);
// Clears (blocking = 1) or sets O_NONBLOCK.
int readwait(int fd, int blocking);
int getio(int fd, termios* t);
int setio(int fd, const termios* t);
// Switches the console's own flow control (as found at start) on or off.
void consxon(int on);
// open() that gives up when `seconds` pass (the alarm interrupts it); -1 with `*timedout` set
// then.
int guardedopen(const char* path, int flags, unsigned seconds, bool* timedout);

// Back to the power-on settings (for tests).
void serreset();
