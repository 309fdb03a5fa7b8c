#include "screen/scrollback.h"

// stand-in until scrollback exists: rows that leave the screen are not kept.
void sbaddline(int) {}
// stand-in until screen pages exist: there is only page 0.
void selpage(int) {}
