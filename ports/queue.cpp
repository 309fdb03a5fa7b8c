#include "ports/queue.h"

#include "core/fmt.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

// A ring of n entries holds at most n - 1: equal positions mean empty, so one slot stays free.

int qinit(CharQueue& q, int n) {
    if (n < 2) n = 2;
    if (q.size != n || !q.buf) {
        q.buf.reset();
        q.size = 0;
        try {
            q.buf = std::make_unique<uint16_t[]>(static_cast<size_t>(n));
        } catch (const std::bad_alloc&) {
            q.wpos = q.rpos = 0;
            aberr("\aOut of RAM memory (Error #%d)\r\n", 7);
            return -1;
        }
        q.size = n;
    }
    q.wpos = q.rpos = 0;
    return 0;
}

int qchar(int value, CharQueue& q) {
    if (!q.buf || q.size <= 0) return -1;
    int next = q.wpos + 1 == q.size ? 0 : q.wpos + 1;
    if (next == q.rpos) return -1; // full: the new entry is dropped, never the unread ones
    q.buf[q.wpos] = static_cast<uint16_t>(value);
    q.wpos = next;
    return 0;
}

int unqchar(CharQueue& q) {
    if (q.wpos == q.rpos || !q.buf) return -1;
    int v = q.buf[q.rpos];
    q.rpos = q.rpos + 1 == q.size ? 0 : q.rpos + 1;
    return v;
}

int qwrite(CharQueue& q, const unsigned char* p, int n) {
    if (!q.buf || q.size <= 0 || n <= 0) return 0;
    int done = 0;
    while (done < n) {
        // Up to the end of the ring or the last free slot before the reader, whichever first.
        int room = q.rpos > q.wpos ? q.rpos - 1 - q.wpos : q.size - q.wpos - (q.rpos == 0);
        int k = std::min(room, n - done);
        if (k <= 0) break; // full: the rest is dropped, never the unread entries
        uint16_t* __restrict dst = q.buf.get() + q.wpos;
        const unsigned char* __restrict src = p + done;
        for (int i = 0; i < k; i++)
            dst[i] = src[i];
        done += k;
        q.wpos = q.wpos + k == q.size ? 0 : q.wpos + k;
    }
    return done;
}

int unqbytes(CharQueue& q, unsigned char* out, int max, int stop) {
    if (!q.buf) return 0;
    int n = 0;
    while (n < max && q.rpos != q.wpos) {
        // The unread entries up to the end of the ring in one pass.
        int k = std::min((q.wpos > q.rpos ? q.wpos : q.size) - q.rpos, max - n);
        const uint16_t* __restrict src = q.buf.get() + q.rpos;
        unsigned char* __restrict dst = out + n;
        int i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Four entries at a time while none of them ends the run.
        constexpr uint64_t lanes = 0x0001000100010001, highs = 0x8000800080008000;
        const bool stops = stop >= 0 && stop <= 0xff;
        const uint64_t stopx = lanes * static_cast<uint64_t>(stops ? stop : 0);
        for (; i + 4 <= k; i += 4) {
            uint64_t x;
            std::memcpy(&x, src + i, 8);
            if (x & 0xff00ff00ff00ff00) break; // a key or a signal, not a byte
            uint64_t y = x ^ stopx;
            if (stops && ((y - lanes) & ~y & highs)) break; // an entry is the stop byte
            uint32_t b = static_cast<uint32_t>((x & 0xff) | ((x >> 8) & 0xff00) |
                                               ((x >> 16) & 0xff0000) | ((x >> 24) & 0xff000000));
            std::memcpy(dst + i, &b, 4);
        }
#endif
        for (; i < k; i++) {
            int v = src[i];
            if (v > 0xff || v == stop) break;
            dst[i] = static_cast<unsigned char>(v);
        }
        n += i;
        q.rpos = q.rpos + i == q.size ? 0 : q.rpos + i;
        if (i < k) break;
    }
    return n;
}

int qcount(const CharQueue& q) {
    if (q.size <= 0) return 0;
    int n = q.wpos - q.rpos;
    return n < 0 ? n + q.size : n;
}

int qroom(const CharQueue& q) {
    return q.size > 0 ? q.size - 1 - qcount(q) : 0;
}

void qclear(CharQueue& q) {
    q.wpos = q.rpos = 0;
}

int qpeek(const CharQueue& q) {
    if (q.wpos == q.rpos || !q.buf) return -1;
    return q.buf[q.rpos];
}

bool qtake(CharQueue& q, int value) {
    if (!q.buf || q.size <= 0) return false;
    for (int i = q.rpos; i != q.wpos; i = i + 1 == q.size ? 0 : i + 1) {
        if (q.buf[i] != value) continue;
        // Close the gap: every later entry moves one place towards the reader.
        for (int j = i, k = i + 1 == q.size ? 0 : i + 1; k != q.wpos;
             j = k, k = k + 1 == q.size ? 0 : k + 1)
            q.buf[j] = q.buf[k];
        q.wpos = q.wpos == 0 ? q.size - 1 : q.wpos - 1;
        return true;
    }
    return false;
}

int qresize(CharQueue& q, int n) {
    const int count = qcount(q);
    if (n < count + 1) n = count + 1;
    if (n < 2) n = 2;
    if (n == q.size && q.buf) return 0;
    std::unique_ptr<uint16_t[]> nb;
    try {
        nb = std::make_unique<uint16_t[]>(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (int i = 0; i < count; i++)
        nb[static_cast<size_t>(i)] = q.buf[static_cast<size_t>((q.rpos + i) % q.size)];
    q.buf = std::move(nb);
    q.size = n;
    q.rpos = 0;
    q.wpos = count;
    return 0;
}
