// The Kermit packet parser under each check type, the Send-Init reader and data decoder on
// arbitrary bytes, with every combination of prefixes.
#include "transfer/kermpkt.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int n = size > 12000 ? 12000 : static_cast<int>(size);
    for (int bct = 1; bct <= 3; bct++)
        for (int at = 0; at < n;) {
            int used = 0;
            const int maxlong = (bct & 1) ? kp::MAXLONG : 0;
            KPacket k = kparse(data + at, n - at, used, bct, maxlong);
            const int most = maxlong ? maxlong - bct : 93 - bct;
            if (used < 0 || used > n - at || (k.ok && static_cast<int>(k.data.size()) > most))
                __builtin_trap();
            if (used == 0) break;
            at += used;
        }
    KParams p = rpar(data, n > 94 ? 94 : n);
    if (p.maxl < 10 || p.maxl > 94 || p.npad < 0 || p.npad > 94 || p.window < 1 || p.window > 31 ||
        p.maxlx < 10 || p.maxlx > kp::MAXLONG)
        __builtin_trap();
    for (int combo = 0; combo < 8; combo++) {
        KCoding k;
        k.qbin = combo & 1 ? '&' : 0;
        k.rept = combo & 2 ? '~' : 0;
        k.image = !(combo & 4);
        std::vector<uint8_t> out;
        kdecode(data, n, k, out, 255);
        if (out.size() > 255) __builtin_trap();
    }
    return 0;
}
