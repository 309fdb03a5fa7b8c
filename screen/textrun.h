#pragma once
// Runs of printable text in received data, found without looking at each byte on its own.
#include <cstdint>
#include <cstring>

// How many of the first n bytes at p are printable ASCII (0x20..0x7e). Text comes in long runs:
// eight bytes are judged at a time.
inline int vprintrun(const unsigned char* p, int n) {
    constexpr uint64_t ones = 0x0101010101010101, highs = 0x8080808080808080;
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        uint64_t x;
        std::memcpy(&x, p + k, 8);
        // A byte below 0x20, or one from 0x7f up, sets its high bit in one of the two terms.
        if (((x - 0x20 * ones) & ~x & highs) | (((x + ones) | x) & highs)) break;
    }
    while (k < n && p[k] >= 0x20 && p[k] <= 0x7e)
        k++;
    return k;
}
