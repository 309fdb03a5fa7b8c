#pragma once
// Interim declarations of line settings, the serial driver, the key-sequence matcher's tables
// and the service directory, until those land with their own headers; then this file and
// interim_found.cpp go.
#include "ports/com.h"

// Line settings, translation and pacing.
extern int amode;                  // 1: binary (input tables apply)
extern int prot;                   // line protocol: 0 none, 1 Xon/Xoff, 2 Etx/Ack, 3 Rts/Cts
extern int quiet;                  // captured data is not shown
extern int dcdchk;                 // watch carrier
extern int vmaskpar;               // keep the low 7 bits of received bytes
extern int addlf;                  // show CR as CR LF
extern int addcr;                  // precede LF with CR
extern int cdelay;                 // delay units after every character sent
extern long baud;                  // line speed
extern unsigned char inigtab[256]; // bytes ignored on input (non-zero = drop)
extern unsigned char* intrtab;     // input translation table, or nullptr
int xcomout(int c);
int dcomout(int c);
int setprot(int p);
int setparms(const char* text);
int setstat();
int serset(int fd, int word);
long sergbaud(int fd, int remember);

// Service directory.
int connservice(const char* name, int interactive);
int try3conn(const char* name);
int getsrvtype(const char* transport);
