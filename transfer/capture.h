#pragma once
// Data capture and printing.
#include "screen/vscreen.h"

extern int castat; // capture state: 2 while capturing
int setcapt(int state);
void captstatus(int onscreen);
int captfile(const char* name, int turnon);
const char* captname();
int capture(int c);
int setprint(int state);
bool printing();   // printer output is active
extern int prstat; // printer state: bit 2 printer controller on, bit 4 auto-print on
extern int nocapt; // raw screen output is not captured
// Offers a byte on its way to the screen to the printer; 1 when the printer took it.
int emprint(int c);
#include <cstdint>
// Sends one byte to the printer; -1 when there is no printer.
int tprint(int c);
// Sends a row of screen cells (characters in the low bytes) and a line end to the printer.
int tprlin(const vcell* cells, int n);
