// ZMODEM frame readers under hostile input: the first byte picks the escape settings and the
// format of a header assumed already read, the rest is the line. Headers and subpackets are
// read until the input runs out; every subpacket must fit the buffer it was given, and the
// armoured decoder must never report more bytes than it may write.
#include "transfer/zmframe.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    zm::StrSource src(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    zm::ZmIn in(src);
    in.ctlesc = mode & 1;
    in.esc8 = mode & 2;
    in.allowance = 64 + (mode >> 4) * 64;
    static const int forms[] = {0, 'A', 'C', 'D'};
    in.frameind = forms[(mode >> 2) & 3];
    const size_t cap = (mode & 0x80) ? 16 : zm::MAXBLK;
    std::vector<uint8_t> buf(cap);
    for (int rounds = 0; rounds < 1000 && src.pos() < size - 1; rounds++) {
        const int t = (rounds + mode) % 2 ? in.zgethdr() : in.zrdata(buf.data(), cap);
        if (in.rxcount > cap) __builtin_trap();
        if (t == zm::TIMEOUT) break;
    }
    uint8_t out[64];
    const long n = zm::conv43(data, size & ~size_t{3}, out, sizeof out);
    if (n > static_cast<long>(sizeof out)) __builtin_trap();
    return 0;
}
