#pragma once
// Line glue of the ZMODEM engine, shared by its receiver and sender.
#include "ports/com.h"
#include "transfer/zmframe.h"

// The line as a byte source for the frame readers; the abort key reads as ABORT. It takes
// what the line queue holds in one run (the frame readers then read it inline); what is left
// when it ends goes back to the head of the queue, for terminal mode.
class LineSource : public zm::ZmSource {
  public:
    LineSource();
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;
    ~LineSource() override;
    int get(int seconds) override;
    // A byte already waiting, or TIMEOUT at once.
    int poll();
    // Hands `c` (the byte just read) out again as the next byte.
    void unget(int c);
    // Forgets the bytes taken from the line and not read yet.
    void drop() { p_ = e_ = nullptr; }
    // How many runs of bytes came from the line so far: a change shows that something
    // arrived, even when it made no header.
    unsigned long runs() const { return runs_; }

  private:
    bool aborted();
    int take(); // the next run from comq; its first byte
    unsigned count_ = 0;
    unsigned long runs_ = 0;
    long keyseen_ = 0;         // when the abort key was last looked for
    uint8_t buf_[1 + COMQBIG]; // one byte in front for unget
};

inline constexpr const char* lostmsg = "Line lost";

// Writes out what the frame layer prepared.
void zflush(zm::ZmOut& o);
// A hex header with a position (or flags in ZF0..ZF3 order), sent at once.
void zhex(zm::ZmOut& o, int type, uint32_t pos);
// Discards input until the line has been quiet for about `ms` milliseconds.
void zpurge(LineSource& src, int ms);
// The cancel string: ten CAN, ten backspaces.
void canit(zm::ZmOut& o);
// Garbage allowance of a header hunt: 1400 plus the line speed, the speed clamped to 115200.
long zallowance();
// Milliseconds of a monotonic clock.
long zmnow();
// The receiver for files the peer sends for our command (a GET): `rqhdr` is the peer's
// ZRQINIT. Returns at the end of the batch, 0 when every file arrived, else 1; fails the
// transfer through done() like any receive.
int rcvz2(LineSource& line, const uint8_t* rqhdr);
