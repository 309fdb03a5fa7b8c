// stand-in until the transfer framework and its engines exist
#include "transfer/xfer.h"

#include "core/fmt.h"

int parsexfer(int, const char*) {
    return aberr("File transfer is not built yet\r\n");
}
int timefile(const char*) {
    return aberr("Transfer time estimates are not built yet\r\n");
}
int ulsend(const char*, int) {
    return aberr("Unformatted send is not built yet\r\n");
}
int rcvzmodem() {
    return aberr("ZMODEM receive is not built yet\r\n");
}
