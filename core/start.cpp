#include "core/start.h"

#include "core/fmt.h"
#include "screen/display.h"

#include <cstdlib>

// Placeholder until the start-up sequence is written: prints the banner and exits.
int vornmain(int, char**) {
    zzprintf("VORN Communications Software\r\n");
    doneterm(0);
}

void doneterm(int status) {
    oflush();
    std::exit(status);
}
