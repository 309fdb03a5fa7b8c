#pragma once
// The ZMODEM engine (protocols ZMODEM and WVornCRC): receiver and sender on the frame layer of
// transfer/zmframe.h, plugged into the framework's engine table.
//
// Principles of operation. The receiver invites with ZRINIT (CANFDX, CANOVIO, CANBRK, CANFC32),
// takes each ZFILE through rcvname() and a part file, asks for data with ZRPOS, and writes
// subpackets as they come; damage makes it ask again from the last good position. The sender
// streams subpackets without waiting, inside a window acknowledged every quarter window
// (ZCRCQ), and polls the reverse channel between subpackets so a ZRPOS turns it back at once.
// A refused or skipped file does not end the batch; the result is then 1, so a script sees
// that not everything arrived.
//
// A command frame (ZCOMMAND) from the peer runs only in remote command mode or server mode,
// and a command that starts a shell ("!") needs `zmshell` as well; otherwise it is answered
// with a non-zero completion.

#include <string>

// Settings.
inline int escctl = 0;  // escape every control byte on the line
inline int esc8bit = 0; // the line passes 7 bits (WVornCRC armoured form)
inline int zmauto = 1;  // a ZRQINIT arriving in terminal mode starts a receive
inline int zmshell = 0; // a peer's "!" command may run a shell (with remote command mode)
inline int zmcmdok = 0; // set while server mode receives: the peer's commands may run
// The WVornCRC destination word sent with each file (`xfer`'s destination).
inline std::string zmdest;
// A command for the peer: the sender sends it in a ZCOMMAND instead of files.
inline std::string zmcmd;

// The machine byte of a WVornCRC header's ZF1 (protocol level 1, system code 3). It marks a
// peer that is another copy of this program: only then are the private extensions used (the
// armoured 7-bit form), so a plain ZMODEM peer never receives them.
constexpr int ZVORNBITS = 0x13;
// The peer's machine type from its machine byte.
int setvornbits(int b);

void sndzmodem();
// Runs `cmd` on the peer (the script command `remote`): 0 when it ran there with result 0.
int zmremote(const std::string& cmd);
void rcvzm();
// Terminal mode hands every received byte here; true when the start of a ZRQINIT was seen.
bool zmautostart(int c);
// Terminal mode calls this after showing received bytes: when zmautostart saw a ZRQINIT, a
// ZMODEM receive into the current directory runs now.
void zmautorcv();
// Server mode: receive batches, the peer's commands allowed.
int rcvzmodem();
