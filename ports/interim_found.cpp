// Interim definitions until the line settings, the serial and pseudo-terminal drivers and the
// service directory land (delete this file then).
#include "ports/interim_found.h"

#include "core/fmt.h"

#include <string>

int serset(int, int) {
    return 0;
}
long sergbaud(int, int) {
    return 0;
}

namespace {
int serialinit(int, const char*) {
    zzprintf("Serial transport is not built yet\r\n");
    return -1;
}
int ptyinit(int, const char*) {
    zzprintf("Pseudo-terminal transport is not built yet\r\n");
    return -1;
}
int answer0() {
    return 0;
}
int answer0i(int) {
    return 0;
}
int answer0s(const char*) {
    return -1;
}
} // namespace

ComDriver asyfuncs = {serialinit, answer0s, answer0, fdst,    fdstnh,  fdin,      fdout, fdbout,
                      answer0i,   answer0i, answer0, answer0, answer0, nullbauds, 0,     COMBUFSIZ};
ComDriver ptyfuncs = {ptyinit,  answer0s, answer0, fdst,    fdstnh,  fdin,      fdout, fdbout,
                      answer0i, answer0i, answer0, answer0, answer0, nullbauds, 258,   COMBUFSIZ};

// A port name is the transport; "nul:" and the like connect the null line.
int connservice(const char* name, int) {
    comexit();
    if (cominit(name) < 0) return 0;
    return COM->vt(name) < 0 ? 0 : 1;
}
int try3conn(const char*) {
    return -1;
}
int getsrvtype(const char*) {
    return 0;
}
