// The IBM 3101 interpreter.
#include "emulators/emulate.h"

// stand-in until the IBM 3101 emulation exists.
void em3101(int c) {
    emunbuilt("IBM 3101", c);
}
