// The VT52 escapes: ESC and one byte, or ESC Y with a row and a column byte. VT52 mode is a
// mode of the DEC family interpreter (emvt100), entered by resetting private mode 2 or by
// selecting the emulation, and left by ESC <; the bytes between escapes are the interpreter's.
#include "core/start.h"
#include "emulators/emulate.h"
#include "transfer/capture.h"

#include <algorithm>

namespace {
int vt52row = 0; // the row byte of ESC Y, until its column arrives

// Moves the cursor without scrolling and tells the console.
void vt52move(int row, int col) {
    vdestline = std::clamp(row, 0, vlines - 1);
    vdestcol = std::clamp(col, 0, fvcols() - 1);
    cgoto();
}
} // namespace

void vt52escape(int c) {
    switch (c) {
    case '<': // leave VT52
        emode = EM_VT100;
        vemode = EM_VT100 | (vemode & 1);
        break;
    case '=': // keypad application mode
        appkey = 1;
        break;
    case '>': // keypad numeric mode
        appkey = 0;
        break;
    case 'A': // cursor up
        vt52move(vdestline - 1, vdestcol);
        break;
    case 'B': // cursor down
        vt52move(vdestline + 1, vdestcol);
        break;
    case 'C': // cursor right
        vt52move(vdestline, vdestcol + 1);
        break;
    case 'D': // cursor left
        vt52move(vdestline, vdestcol - 1);
        break;
    case 'F': // graphics on
        vcharset = 2;
        break;
    case 'G': // graphics off
        vcharset = 0;
        break;
    case 'H': // home
        vt52move(0, 0);
        break;
    case 'I': // reverse line feed
        vt_ri();
        cgoto();
        break;
    case 'J': // erase to end of screen
        vclreos(vdestline, vdestcol);
        break;
    case 'K': // erase to end of line
        vclreol(vdestline, vdestcol);
        break;
    case 'V': // print the cursor row
        prcurlin(vdestline);
        break;
    case 'W': // printer controller on
        setprint(4);
        break;
    case 'Y': // direct cursor address: the row and column bytes follow
        state = 10;
        break;
    case 'Z': // identify
        vt_ident(0);
        break;
    case ']': // print the screen
        prscreen();
        break;
    case '^': // auto print on
        prauto = 1;
        break;
    case '_': // auto print off
        prauto = 0;
        break;
    default:
        break;
    }
}

void vt52cursor(int c) {
    if (state == 10) {
        vt52row = c - 32;
        state = 11;
        return;
    }
    state = 0;
    cpos(std::max(vt52row, 0), std::max(c - 32, 0));
}
