// stand-in until script windows exist: no window is ever open.
#include "script/window.h"

#include "screen/display.h"

int wactive = 0;
void wputc(int c) {
    _ttyout(c);
}
