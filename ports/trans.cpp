#include "ports/trans.h"

#include "ports/com.h"

#include <algorithm>

TransTable itrans = [] {
    TransTable t;
    t.queue = &iqueue;
    return t;
}();

namespace {
constexpr int TRMINQUEUE = 128; // as the console's own queue

void out(TransTable& t, int v) {
    if (t.queue) qchar(v, *t.queue);
}

// Releases the first n held bytes and shifts the rest down.
void release(TransTable& t, int n) {
    n = std::min(n, t.nheld);
    for (int i = 0; i < n; i++)
        out(t, t.held[i]);
    std::copy(t.held + n, t.held + t.nheld, t.held);
    t.nheld -= n;
}

int maxpos(const TransTable& t) {
    int m = 0;
    for (const TransEntry& e : t.ent)
        m = std::max(m, e.pos);
    return m;
}

// The queue must hold a whole release: held bytes plus a replacement, or a full pattern's
// worth of bytes released at once, and one free slot that tells a full ring from an empty one.
void fitqueue(TransTable& t, int need) {
    if (!t.queue) return;
    if (t.queue->size < need + 1) qinit(*t.queue, std::max(need + 1, TRMINQUEUE));
}
} // namespace

void trinit(TransTable& t, CharQueue& queue) {
    t.queue = &queue;
    t.ent.clear();
    t.nheld = 0;
}

int traddstr(TransTable& t, const std::string& pattern, const std::vector<uint16_t>& replace) {
    if (static_cast<int>(t.ent.size()) >= TRMAXENT) return 0;
    if (pattern.empty() || pattern.size() > static_cast<size_t>(TRMAXPAT)) return 0;
    if (replace.empty() || replace.size() > static_cast<size_t>(TRMAXREP)) return 0;
    auto at = std::find_if(t.ent.begin(), t.ent.end(),
                           [&](const TransEntry& e) { return e.pattern.size() < pattern.size(); });
    t.ent.insert(at, TransEntry{pattern, replace, 0});
    // A pattern added mid-match would not line up with what is held: start afresh.
    for (TransEntry& e : t.ent)
        e.pos = 0;
    t.nheld = 0;
    size_t longest = t.ent.front().pattern.size();
    fitqueue(t, static_cast<int>(longest) + TRMAXREP);
    return 1;
}

void trans(int byte, TransTable& t) {
    if (t.ent.empty()) {
        out(t, byte);
        return;
    }
    // Entries part-way through that do not continue with this byte drop out; the bytes that
    // only they were holding go out first, in the order they came.
    int before = maxpos(t);
    for (TransEntry& e : t.ent)
        if (e.pos > 0 && static_cast<uint8_t>(e.pattern[e.pos]) != byte) e.pos = 0;
    if (before > 0) release(t, t.nheld - maxpos(t));

    bool taken = false;
    for (TransEntry& e : t.ent) {
        if (byte > 255 || static_cast<uint8_t>(e.pattern[e.pos]) != byte) continue;
        e.pos++;
        taken = true;
    }
    if (!taken) {
        out(t, byte);
        return;
    }
    if (t.nheld < TRMAXPAT) t.held[t.nheld++] = static_cast<uint8_t>(byte);
    for (TransEntry& e : t.ent) {
        if (e.pos != static_cast<int>(e.pattern.size())) continue;
        release(t, t.nheld - e.pos);
        for (uint16_t v : e.replace)
            out(t, v);
        t.nheld = 0;
        for (TransEntry& x : t.ent)
            x.pos = 0;
        return;
    }
}

int trflush(TransTable& t) {
    int n = t.nheld;
    release(t, n);
    for (TransEntry& e : t.ent)
        e.pos = 0;
    return n;
}

std::vector<uint16_t> str16save(const uint16_t* s) {
    std::vector<uint16_t> v;
    if (s)
        while (*s)
            v.push_back(*s++);
    return v;
}
