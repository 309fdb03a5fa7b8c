#pragma once
// Character queues: rings of 16-bit entries, so key numbers above 255 and the lost-line
// pseudo-key 448 travel beside bytes. Empty when the read and write positions are equal.
#include <cstdint>
#include <memory>

struct CharQueue {
    int wpos = 0;                    // next entry written here
    int rpos = 0;                    // next entry read from here
    int size = 0;                    // capacity in entries
    std::unique_ptr<uint16_t[]> buf; // the ring
};

// Allocates n entries unless the capacity is already n, and empties the queue.
// -1 (after the out-of-memory message) when allocation fails.
int qinit(CharQueue& q, int n);
// Appends one entry; returns 0, or -1 when the queue is full (the entry is dropped).
int qchar(int value, CharQueue& q);
// Next entry, or -1 when the queue is empty.
int unqchar(CharQueue& q);
// Appends n bytes as qchar would one by one; returns how many went in (the rest are dropped
// when the queue fills).
int qwrite(CharQueue& q, const unsigned char* p, int n);
// Takes entries from the head as bytes, at most max of them, into out; stops before an entry
// equal to stop or above 0xff. Returns how many were taken.
int unqbytes(CharQueue& q, unsigned char* out, int max, int stop);
inline bool qempty(const CharQueue& q) {
    return q.wpos == q.rpos;
}
int qcount(const CharQueue& q);
// Entries that can still be appended.
int qroom(const CharQueue& q);
// The next entry without taking it, or -1 when the queue is empty.
int qpeek(const CharQueue& q);
// Takes the first entry equal to `value` out of the queue wherever it stands, keeping the order
// of the others; false when there is none.
bool qtake(CharQueue& q, int value);
void qclear(CharQueue& q);
// Gives the queue room for n entries, keeping what it holds (never fewer entries than that);
// -1 when allocation fails (the queue is then unchanged).
int qresize(CharQueue& q, int n);
