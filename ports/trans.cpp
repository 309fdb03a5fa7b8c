#include "ports/trans.h"

#include "ports/com.h"

#include <algorithm>

TransTable itrans = [] {
    TransTable t;
    t.queue = &iqueue;
    t.dropunknown = true;
    return t;
}();

void transpassunknown(bool on) {
    itrans.dropunknown = !on;
}

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
    t.skipping = 0;
    t.escheld = false;
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

namespace {
// CSI parameter and intermediate bytes, and the final byte of CSI and SS3 strings.
bool csimid(int b) {
    return b >= 0x20 && b <= 0x3f;
}
bool seqfinal(int b) {
    return b >= 0x40 && b <= 0x7e;
}

// An unknown key string is being dropped: true when `byte` belongs to it.
bool skipbyte(TransTable& t, int byte) {
    bool ss3 = t.skipping == 2;
    t.skipping = 0;
    if (ss3) return byte >= 0x20 && byte <= 0x7e;
    if (csimid(byte)) {
        t.skipping = 1;
        return true;
    }
    return seqfinal(byte); // anything else ends the string and is taken as typed
}

// ESC and its introducer were held and no pattern continues: the string is the terminal's and
// unknown here. true when `byte` was part of it (dropped with it).
bool dropheld(TransTable& t, int byte) {
    bool ss3 = t.held[1] == 'O';
    int n = t.nheld;
    t.nheld = 0;
    if (ss3) return n == 2 && byte >= 0x20 && byte <= 0x7e;
    if (csimid(byte)) {
        t.skipping = 1;
        return true;
    }
    return seqfinal(byte);
}
} // namespace

void trans(int byte, TransTable& t) {
    if (t.skipping && skipbyte(t, byte)) return;
    if (t.escheld) {
        t.escheld = false;
        t.nheld = 0;
        if (byte == '[' || byte == 'O') {
            t.skipping = byte == '[' ? 1 : 2;
            return;
        }
        out(t, 27);
    }
    // Entries part-way through that do not continue with this byte drop out; the bytes that
    // only they were holding go out first, in the order they came.
    int before = maxpos(t);
    for (TransEntry& e : t.ent)
        if (e.pos > 0 && static_cast<uint8_t>(e.pattern[e.pos]) != byte) e.pos = 0;
    if (before > 0) {
        int after = maxpos(t);
        bool intro = t.nheld >= 2 && t.held[0] == 27 && (t.held[1] == '[' || t.held[1] == 'O');
        if (t.dropunknown && after == 0 && intro) {
            if (dropheld(t, byte)) return;
        } else if (t.dropunknown && after == 0 && t.nheld == 1 && t.held[0] == 27 &&
                   (byte == '[' || byte == 'O')) {
            t.nheld = 0;
            t.skipping = byte == '[' ? 1 : 2;
            return;
        } else {
            release(t, t.nheld - after);
        }
    }

    bool taken = false;
    for (TransEntry& e : t.ent) {
        if (byte > 255 || static_cast<uint8_t>(e.pattern[e.pos]) != byte) continue;
        e.pos++;
        taken = true;
    }
    if (!taken) {
        if (t.dropunknown && byte == 27 && t.nheld == 0) {
            // No pattern begins with ESC, yet the terminal's own strings must not get through.
            t.held[0] = 27;
            t.nheld = 1;
            t.escheld = true;
            return;
        }
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
    t.escheld = false;
    t.skipping = 0;
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
