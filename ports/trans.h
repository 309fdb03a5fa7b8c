#pragma once
// The key-sequence matcher: turns the console's byte stream into characters and key numbers.
//
// A table holds up to TRMAXENT patterns (byte strings such as the console's "ESC [ A"), each
// with a replacement of 16-bit values (usually one key number), kept longest pattern first.
// trans() feeds one byte: every pattern part-way through that does not continue with the byte
// drops out, and the bytes held only for it are released to the output queue in their order;
// the patterns that continue advance and the byte is held; the first pattern completed queues
// its replacement in place of the held bytes. A byte no pattern takes goes out as it is.
//
// The output queue must take a whole release at once (the held bytes plus a replacement), so
// traddstr grows it to fit the longest pattern. Patterns longer than TRMAXPAT bytes are
// refused, which bounds the held buffer whatever the console description contains.
#include "ports/queue.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int TRMAXENT = 120; // patterns per table
inline constexpr int TRMAXPAT = 120; // bytes per pattern
inline constexpr int TRMAXREP = 8;   // values per replacement

struct TransEntry {
    std::string pattern;           // bytes to recognise
    std::vector<uint16_t> replace; // what is queued instead
    int pos = 0;                   // bytes matched so far
};

struct TransTable {
    CharQueue* queue = nullptr;  // output queue (iqueue for the console)
    std::vector<TransEntry> ent; // longest pattern first
    uint8_t held[TRMAXPAT] = {}; // bytes held while a match is in progress
    int nheld = 0;
    // The console's table: a key string in the terminal's own syntax (ESC [ params final, or
    // ESC O and one byte) that no pattern takes is dropped whole, never passed on as typed.
    bool dropunknown = false;
    int skipping = 0;     // 1 inside such a CSI string, 2 before such an SS3 string's last byte
    bool escheld = false; // an ESC held only to see whether such a string follows
};

// The console's table, feeding the decoded-key queue iqueue.
extern TransTable itrans;
// While on, strings from the console that no key describes (the markers of a bracketed paste,
// mouse reports) go on as they are instead of being dropped: the host asked for them.
void transpassunknown(bool on);

// Empties the table and makes `queue` its output.
void trinit(TransTable& t, CharQueue& queue);
// Adds a pattern before the first shorter one. 1 added; 0 when the table is full, the
// pattern is empty or too long, or the replacement is empty or too long.
int traddstr(TransTable& t, const std::string& pattern, const std::vector<uint16_t>& replace);
// Feeds one console byte (or a pseudo-key above 255, which no pattern takes).
void trans(int byte, TransTable& t);
// Releases whatever is held (a partial match that will not be completed) in order;
// returns how many bytes were released.
int trflush(TransTable& t);
// Bytes held by a match in progress.
inline int trheld(const TransTable& t) {
    return t.nheld;
}
// Copies a zero-terminated 16-bit string.
std::vector<uint16_t> str16save(const uint16_t* s);
