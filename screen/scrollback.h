#pragma once
// Scrollback: rows leaving the top of the screen are kept for viewing later.

// Offers screen row `row` to the scrollback buffer before it scrolls away or is cleared.
void sbaddline(int row);
// Makes screen page `page` (0-based) the one shown and written.
void selpage(int page);

extern int vscrollback; // rows of scrollback asked for
extern int sblinemax;   // rows of scrollback kept (0 = none)
// Creates the sessions for `mode`, the screen pages (n), and the scrollback of `rows` rows.
int createsess(int mode);
int crpages(int n);
int sbinit(int rows);
// Shows the screen `offset` rows back in the scrollback (0 = the live screen), or moves the
// view n rows back or forward.
void sbdisplay(int offset);
void sbprev(int n);
void sbnext(int n);
