// stand-in until capture and printing exist
#include "transfer/capture.h"

#include "core/fmt.h"

int castat = 0;
int prstat = 0;
int nocapt = 0;

int setcapt(int state) {
    if (state == 0) return 0;
    return aberr("Capture is not built yet\r\n");
}
void captstatus(int) {}
int captfile(const char*, int) {
    return aberr("Capture is not built yet\r\n");
}
const char* captname() {
    return "";
}
int capture(int) {
    return 0;
}
int setprint(int) {
    return 0;
}
bool printing() {
    return false;
}

// stand-in until printing exists: screen printing has nowhere to go.
int tprint(int) {
    return -1;
}
int tprlin(const vcell*, int) {
    zzprintf("Printing is not built yet\r\n");
    return -1;
}
int emprint(int) {
    return 0;
}
