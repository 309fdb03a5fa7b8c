// Interim definitions until the serial driver lands (delete this file then).
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
