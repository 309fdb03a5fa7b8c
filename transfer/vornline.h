#pragma once
// Line helpers of the native engine (sender and receiver).
#include "transfer/vornwire.h"

#include <cstdint>

// Where line bytes come from: the port layer's comwait, or (fuzzing, tests) a replacement that
// returns a byte, -1 for the abort key or -2 for a time-out without waiting.
inline int (*vlinehook)(int seconds) = nullptr;

// Variant in force for the batch.
inline Variant vvar = Variant::VornCRC;
// The next byte from the line: the queue first, else a wait of up to `seconds`; -1 the abort
// key, -2 time-out.
int vgetc(int seconds);
// Reads `n` bytes each waited for up to `seconds`; false on a time-out.
bool vgetn(uint8_t* p, int n, int seconds);
// Sends one control byte.
void vputc(int c);
// Frames and sends one block.
void vsendblk(uint8_t type, const uint8_t* data, int n, int count, int seq);
// Discards input until the line has been quiet for `quietms` milliseconds.
void vpurge(int quietms = 150);
// Checks the keyboard for the abort key while data flows (the queue path never waits).
bool vkeyabort();
// Fatal end: the message, ^C to the peer (unless the peer aborted), done(code).
[[noreturn]] void vfatal(const char* msg, int code, bool sendetx = true);
// A lone ^C means abort only when the line goes quiet after it; data right behind it is noise.
bool vetxquiet();
