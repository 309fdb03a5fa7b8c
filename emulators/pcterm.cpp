// The PC-term interpreter.
#include "emulators/emulate.h"

// stand-in until the PC-term emulation exists.
void empcterm(int c) {
    emunbuilt("PC-term", c);
}
