#pragma once
// Interim declarations of the virtual screen, keyboard and scrollback state that start-up and
// terminal mode use, until those land with their own headers; then this file and
// interim_found.cpp go.
#include "screen/display.h"
#include "emulators/emulate.h" // vemode
#include "screen/keyboard.h"
#include "screen/vscreen.h"

#include <string>

// Virtual screen (the rest is in screen/vscreen.h).
extern int vpages;    // screen pages to create
extern int vfromhost; // set while a received byte is drawn

// Keyboard.
extern int gold;      // a gold key is pending
extern int compose;   // a compose sequence is pending
extern int kdisable;  // keyboard input is dropped
extern int vcapslock; // caps lock of the emulated keyboard
extern int kbtype;    // 4 = scan-code keyboard
extern int vkbtype;   // keyboard type; bit 128 asks for scan-code mode
int toscancode(int key);

// Scrollback and sessions.
extern int vscrollback;
extern int sblinemax;
int createsess(int mode);
int crpages(int n);
int sbinit(int rows);
void sbdisplay(int offset);
void sbprev(int n);
void sbnext(int n);
