#include "emulators/emulate.h"

#include "screen/display.h"

// Until the emulators exist, output goes straight to the console driver.
void ttyout(int c) { _ttyout(c); }
