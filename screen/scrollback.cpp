#include "screen/scrollback.h"

// stand-in until scrollback exists: rows that leave the screen are not kept.
void sbaddline(int) {}
// stand-in until screen pages exist: there is only page 0.
void selpage(int) {}

int vscrollback = 0;
int sblinemax = 0;
// stand-in until sessions exist: there is one.
int createsess(int) {
    return 0;
}
// stand-in until screen pages exist: there is only page 0.
int crpages(int) {
    return 0;
}
// stand-in until scrollback exists: nothing is kept, so there is nothing to show or move through.
int sbinit(int) {
    return 0;
}
void sbdisplay(int) {}
void sbprev(int) {}
void sbnext(int) {}
