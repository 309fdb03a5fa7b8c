#pragma once
// Script windows: while one is open, screen output goes into it instead of the screen.

extern int wactive; // a script window is open
// Writes one byte into the open window.
void wputc(int c);
// Shows what the open window holds.
void flushwindow();
