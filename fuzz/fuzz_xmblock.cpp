// The XMODEM family's block decoder and block 0 parser on arbitrary bytes.
#include "transfer/xmblock.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (int n : {xm::SMALL, xm::BIG}) {
        for (bool crc : {false, true}) {
            const size_t need = static_cast<size_t>(xm::restlen(n, crc));
            std::vector<uint8_t> rest(need, 0);
            for (size_t i = 0; i < need && i < size; i++)
                rest[i] = data[i];
            int blk = xmcheck(rest.data(), n, crc);
            if (blk < -1 || blk > 255) __builtin_trap();
        }
    }
    for (int n : {0, 1, 128, 1024}) {
        std::vector<uint8_t> b(data, data + (size < static_cast<size_t>(n) ? size : n));
        YHeader h = parseyhdr(b.data(), static_cast<int>(b.size()));
        if (h.name.size() > b.size() || h.size < -1) __builtin_trap();
    }
    return 0;
}
