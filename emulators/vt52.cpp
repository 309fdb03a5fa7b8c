// The VT52 escapes.
//
// stand-in until VT52 mode exists: of the VT52 escapes only the way back to VT100 (ESC <) is
// honoured, so a host can never leave the emulator stuck.
#include "core/start.h"
#include "emulators/emulate.h"

void vt52escape(int c) {
    if (c == '<') {
        emode = EM_VT100;
        vemode = EM_VT100 | (vemode & 1);
    }
}
