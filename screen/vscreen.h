#pragma once
// The virtual screen: the memory of what the console shows in terminal mode.

extern int vlines, vcols;       // emulated size
extern int vdestline, vdestcol; // the cursor
extern int vbegcol, vendcol;    // virtual columns the console shows

void vredraw();
