// Character sets, the VT52 escapes and the VT220 device-control string.
//
// stand-in until character sets exist: printable bytes are shown as they are, designations,
// shifts and device-control strings are swallowed without effect, and of the VT52 escapes only
// the way back to VT100 (ESC <) is honoured, so a host can never leave the emulator stuck.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/settings.h"

// Printable bytes stand for themselves (through the display translation table when loaded);
// the screen shows the cell.
int grconvert(int c, int show) {
    c &= 0xff;
    if (disptab) c = disptab[c];
    if (show) gttyout(c);
    return c;
}

int vtpcontrol(int) {
    return 0;
}

void vt52escape(int c) {
    if (c == '<') {
        emode = EM_VT100;
        vemode = EM_VT100 | (vemode & 1);
    }
}

// Swallows the string up to its terminator: ESC \, 0x9C in VT200 8-bit mode, CAN or SUB.
int dcstring(int c) {
    if (vdcstate == 1) {
        vtdcson = 0;
        vdcstate = 0;
        return 0;
    }
    if (c == 27) {
        vdcstate = 1;
    } else if ((c == 0x9c && vt200mode == 2) || c == 24 || c == 26) {
        vtdcson = 0;
        vdcstate = 0;
    }
    return 0;
}

void vics200(int) {}
void setcset(int) {}
void vtlshift(int) {}
void vtrshift(int) {}
void vt_ss2() {}
void vt_ss3() {}
