#pragma once
#include "screen/vscreen.h" // eminit
// The emulator's output entry: every received byte and every message reaches the screen here.

void ttyout(int c);

// Emulator set-up and block mode (interim definitions in interim_found.cpp until the emulators
// land).
extern int emreset;  // set by anything that reset the emulator during an escape command
extern int blokmode; // block mode of the TeleVideo emulations
void emulate(int mode, int redisplay);
int doblock(int key);
// The emulation mode word: one bit per emulation; bit 0 is the display driver's batch flag,
// and the value 1 alone marks plain output while a procedure owns the screen.
extern int vemode;

// Emulation mode bits, the values kept in `vemode` and `emode`. VT102 shares the VT100 bit.
enum : int {
    EM_MENU = 1, // alone: a procedure owns the screen (bit 0 is otherwise the batch flag)
    EM_WYSE60 = 2,
    EM_TTY = 4,
    EM_VT100 = 8,
    EM_VT52 = 16,
    EM_TV925 = 32,
    EM_TV912 = 64,
    EM_WYSE50 = 128,
    EM_ANSI = 256,
    EM_ADM1 = 512,
    EM_IB3101 = 1024,
    EM_TV950 = 2048,
    EM_VT2207 = 4096,
    EM_VT2208 = 8192,
    EM_PCTERM = 16384,
    EM_SCOANSI = 32768,
    EM_VT220 = EM_VT2207 | EM_VT2208,
    EM_DEC = EM_VT100 | EM_VT52 | EM_ANSI | EM_VT220 | EM_SCOANSI, // emvt100's emulations
    EM_TVFAMILY = EM_TV950 | EM_TV925 | EM_TV912 | EM_WYSE50 | EM_WYSE60 | EM_ADM1,
};

// Keyboard modes the emulators set and the keyboard (fnkey) reads.
inline int appcur = 0;   // cursor keys send application sequences
inline int appkey = 0;   // keypad application mode
inline int vtc18out = 0; // replies and keys use 8-bit C1 introducers
inline int vbsdel = 1;   // the backspace key sends DEL in the VT220 emulations
