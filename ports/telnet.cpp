// stand-in until the telnet and rlogin transports exist
#include "core/fmt.h"
#include "ports/com.h"

namespace {
int telinit(int, const char*) {
    aberr("Telnet transport is not built yet\r\n");
    return -1;
}
int rloginit(int, const char*) {
    aberr("Rlogin transport is not built yet\r\n");
    return -1;
}
int acsinit(int, const char*) {
    aberr("ACS transport is not built yet\r\n");
    return -1;
}
int zero() {
    return 0;
}
int three() {
    return 3;
}
int zeroi(int) {
    return 0;
}
int fail(const char*) {
    return -1;
}
} // namespace

// clang-format off
ComDriver bsdfuncs = {rloginit, fail, zero, fdst, fdstnh, fdin, fdout, fdbout, zeroi, zeroi,
                      zero, three, zero, nullbauds, 7, COMBUFSIZ};
ComDriver tnetfuncs = {telinit, fail, zero, fdst, fdstnh, fdin, fdout, fdbout, zeroi, zeroi,
                       zero, three, zero, nullbauds, 11, COMBUFSIZ};
ComDriver acsfuncs = {acsinit, fail, zero, fdst, fdstnh, fdin, fdout, fdbout, zeroi, zeroi,
                      zero, three, zero, nullbauds, 139, COMBUFSIZ};
// clang-format on

int telinput(int byte) {
    return byte;
}
