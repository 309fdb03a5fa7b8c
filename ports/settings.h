#pragma once
// Line settings, translation and pacing.
//
// The line's settings (speed, parity, size, stop bits, line protocol, DTR, RTS) live here as
// plain globals. Every change rebuilds the line-format word (linestat) and hands it to the
// current driver's `set`; the speed goes to the driver's `baud` with the code found in the
// driver's own baud table. While the system start-up script runs (`insysfile`) settings are
// only recorded.
//
// The byte path from the program to the line also lives here: xcomout (typed characters:
// ignore table, translation table, CR/LF expansion), tcomout and dcomout (one byte with its
// pacing delays), qcomout (blocks) and scmd (strings for the modem). Pacing is a busy wait in
// units of DELAYUNIT_NS, so a zero delay costs nothing and larger delays wait proportionally.
//
// Line-format word: parity bits 0-1 (1 odd, 3 even), stop bits 2-3 (4 one, 12 two), RTS 16,
// DTR 32, size 6-7 (0 five, 128 six, 64 seven, 192 eight), IXOFF 256, IXON 512, console XON 1024.
#include <cstdint>

// ---- line settings ---------------------------------------------------------------------
extern long baud;     // speed in bits per second [9600]
extern int parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space [0]
extern int wdlen;     // character size 5-8 [8]
extern int stopbits;  // 1 or 2 [1]
extern int prot;      // line protocol: 0 none, 1 Xon/Xoff, 2 Etx/Ack, 3 Rts/Cts [1]
extern int dtr;       // DTR on [1]
extern int rts;       // RTS on [1]
extern int resetixon; // set while the settings saved for a transfer are put back
extern int insysfile; // the system start-up script runs: record settings, do not apply them

// Settings saved by xferprot for the length of a transfer.
extern int savparity, savwdlen, savstopbits, savprot, saved;

// ---- terminal-mode flags ---------------------------------------------------------------
extern int quiet;    // received data is captured but not shown
extern int dcdchk;   // watch carrier
extern int vmaskpar; // received bytes and keys are masked to 7 bits

// ---- translation -----------------------------------------------------------------------
extern int amode;                  // 0 "Ascii", 1 "Binary"; the tables apply only when 1
extern int addcr;                  // a line feed is preceded by a carriage return
extern int addlf;                  // a carriage return is followed by a line feed
extern unsigned char* outrtab;     // output translation table, nullptr when not set
extern unsigned char* intrtab;     // input translation table, nullptr when not set
extern unsigned char ouigtab[256]; // bytes dropped on output (non-zero entry)
extern unsigned char inigtab[256]; // bytes dropped on input (non-zero entry)
extern unsigned char* disptab;     // display translation table, nullptr when not set

// The translation table, created as the identity when absent: 0 output, 1 input, 2 display.
unsigned char* mktrtab(int which);
// Removes the three translation tables.
void cleartrans();
// Removes both translation tables and clears both ignore tables.
void cleartrtab();

// ---- pacing ----------------------------------------------------------------------------
extern int cdelay;                    // delay units after every character sent
extern int ldelay;                    // delay units after a line feed
extern int tdelay;                    // delay units after a tab
constexpr long DELAYUNIT_NS = 100000; // one delay unit: 0.1 ms of busy waiting
// Busy-waits `units` delay units; returns at once for 0 or less.
void delayunits(long units);

// ---- carrier ---------------------------------------------------------------------------
// 1 while the line has carrier. A serial line with modem-control lines reports its DCD
// signal; lines without them (pseudo-terminals, network connections, a serial line whose
// driver has no modem status) have carrier while the other end holds the connection open,
// that is until it hangs up. The null line never has carrier.
int carrier();

// ---- operations ------------------------------------------------------------------------
// The line-format word of the current settings.
int linestat();
// Applies the current word through the driver's set (after DTR changes).
int setstat();
// Validates and applies a speed (shorthands 9, 19, 38, 57, 115 and n < 50 as n * 100);
// -1 after listing the driver's speeds.
int setbaud(long rate);
// The current driver's code for `rate`, or -1 when its table lacks it.
int baudcode(long rate);
// "speed,parity,size,stop" with empty fields keeping the current values; 0 or -1.
int setparms(const char* text);
int setparity(int p);
int setwdlen(int n);
int setstbits(int n);
int setprot(int p);
// Transparent 8N1 without a line protocol for a transfer, and back.
int xferprot();
int restprot();

// Sends a typed character through the ignore and translation tables and CR/LF expansion.
int xcomout(int c);
// Sends one byte with every pacing delay that applies to it.
int tcomout(int c);
// Sends one byte with the character delay only.
int dcomout(int c);
// Sends a block; `show` also echoes each byte to the console.
int qcomout(const uint8_t* buf, int len, int show);
// Sends a string with dcomout.
int scmd(const char* text);

// Back to the power-on settings (for tests).
void settingsreset();
