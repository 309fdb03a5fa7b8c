// Interim definitions until the emulator framework lands (delete this file then).
#include "emulators/emulate.h"

#include "screen/interim_found.h"

int emreset = 0;
int blokmode = 0;
void emulate(int mode, int) {
    vemode = mode;
}
int doblock(int) {
    return 0;
}
