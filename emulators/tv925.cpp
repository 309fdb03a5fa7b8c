// The TeleVideo, Wyse and ADM interpreter.
#include "emulators/emulate.h"

// stand-in until the TeleVideo/Wyse/ADM emulations exist.
void emtv925(int c) {
    emunbuilt("TeleVideo/Wyse/ADM", c);
}
int doblock(int) {
    return 0;
}
