#include "ports/queue.h"

#include "core/fmt.h"

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

int qcount(const CharQueue& q) {
    if (q.size <= 0) return 0;
    int n = q.wpos - q.rpos;
    return n < 0 ? n + q.size : n;
}

void qclear(CharQueue& q) {
    q.wpos = q.rpos = 0;
}
