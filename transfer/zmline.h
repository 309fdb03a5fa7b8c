#pragma once
// Line glue of the ZMODEM engine, shared by its receiver and sender.
#include "transfer/zmframe.h"

// The line as a byte source for the frame readers; the abort key reads as ABORT.
class LineSource : public zm::ZmSource {
  public:
    int get(int seconds) override;
    // A byte already waiting, or TIMEOUT at once.
    int poll();
    // Hands `c` out again as the next byte.
    void unget(int c) { back_ = c; }

  private:
    bool aborted();
    unsigned count_ = 0;
    int back_ = -1;
    long keyseen_ = 0; // when the abort key was last looked for
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
