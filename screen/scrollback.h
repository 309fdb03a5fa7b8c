#pragma once
// Scrollback and screen pages.
//
// Scrollback: rows that scroll off the top of the whole terminal-mode screen (or are cleared
// away) on page 0 are copied into a ring of `sblinemax` rows, made once by sbinit; each row
// keeps the screen's width (at most MAXCOLS cells) without its trailing blanks. Viewing swaps the
// live row pointers out for a view block that holds copies of the stored and live rows, so whatever
// is written while the view is shown never reaches the live screen or the ring; returning puts the
// live pointers, cursor and rendition back and redraws. One-row moves scroll the console by one row
// and draw only the new row.
//
// Pages: up to MAXPAGES screens, each its own block of cells; switching exchanges the row
// pointers, line attributes, cursor, rendition and panning limits with the page's record and
// redraws. No cell is copied.
//
// Memory is bounded by the setting: at most SBMAXROWS rows are ever kept.
#include <cstdint>

constexpr int SBMAXROWS = 100000; // the largest scrollback kept, whatever is asked
constexpr int MAXPAGES = 7;       // page records 0..6

extern int vscrollback; // rows of scrollback asked for (the `scrollback` setting)
extern int sblinemax;   // rows of scrollback kept (0 = none)
extern int sbcurline;   // how many rows the view is scrolled back (0 = the live screen)
extern int vcurpage;    // the page on screen

// Offers screen row `row` to the scrollback before it scrolls away.
void sbaddline(int row);
// Offers the rows of a screen about to be cleared: rows 0..n-1 up to the last non-blank one.
void sbaddrows(int n);
// Creates the scrollback of `rows` rows (only once; a second, different size is refused with
// "Scrollback buffer unchanged"). Rows below 1 do nothing; above SBMAXROWS, SBMAXROWS.
int sbinit(int rows);
// Shows the screen `offset` rows back (0 = the live screen); moves the view n rows back or
// forward, a row at a time; the bell rings on a page other than 0.
void sbdisplay(int offset);
void sbprev(int n);
void sbnext(int n);
// Looks back from the row above the view's top for a stored row holding `text`; shows it at
// the top. False (and the view as it was, redrawn) when none does.
bool sbsearch(const char* text);
// Draws the view as it is again (after a prompt was written over it).
void sbredraw();

// Creates the sessions for `mode`, the screen pages (n).
int createsess(int mode);
int crpages(int n);
// Switches to page n (0-based); with `redraw` the screen is drawn again. A page without a record
// rings the bell and says "[Page #n not defined]" (1-based, as hosts number them).
void selpage(int page, int redraw = 1);
void selnext();
void selprev();

// `set` hooks for the settings table: `scrollback n` and `pages n` (1..6).
int setscrollback(int rows);
int setpages(int n);

// Power-on state (no scrollback, one page), for tests.
void sbreset();
