#pragma once
// The emulator's output entry: every received byte and every message reaches the screen here.

void ttyout(int c);

// Emulator set-up and block mode (interim definitions in interim_found.cpp until the emulators
// land).
extern int emreset;  // set by anything that reset the emulator during an escape command
extern int blokmode; // block mode of the TeleVideo emulations
void eminit(int cols);
void emulate(int mode, int redisplay);
int doblock(int key);
// The emulation mode word: one bit per emulation; bit 0 is the display driver's batch flag,
// and the value 1 alone marks plain output while a procedure owns the screen.
extern int vemode;
