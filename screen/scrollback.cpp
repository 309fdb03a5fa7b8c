#include "screen/scrollback.h"

// stand-in until scrollback exists: rows that leave the screen are not kept.
void sbaddline(int) {}
