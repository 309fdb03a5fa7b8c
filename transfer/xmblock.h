#pragma once
// Blocks of the XMODEM family (XMODEM, MODEM7, YMODEM), as pure functions over buffers.
//
// A block on the line is SOH (128 data bytes) or STX (1024), the block number modulo 256, its
// complement 255 - number, the data, then either the 8-bit sum of the data or the CRC-16/XMODEM
// of the data (polynomial 0x1021, initial 0, high byte first). YMODEM's block 0 carries the
// file name, a NUL and the size in decimal; a block 0 whose name is empty ends the batch.
#include <cstddef>
#include <cstdint>
#include <string>

namespace xm {
inline constexpr uint8_t SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, BS = 0x08, NAK = 0x15,
                         CAN = 0x18, CRCSTART = 'C', SUB = 0x1A;
inline constexpr int SMALL = 128, BIG = 1024;
// Bytes of a block after its SOH/STX: number, complement, data, check.
constexpr int restlen(int n, bool crc) {
    return 2 + n + (crc ? 2 : 1);
}
} // namespace xm

uint16_t mdm7crc(const uint8_t* p, size_t n);

// Frames block `blk` of `n` (128 or 1024) data bytes into `out` (room for n + 5); returns the
// length.
size_t xmframe(uint8_t* out, int blk, const uint8_t* data, int n, bool crc);

// Checks the bytes that followed a SOH/STX (`rest`, restlen(n, crc) long): the number must
// match its complement and the check the data. Returns the block number, or -1 when bad.
int xmcheck(const uint8_t* rest, int n, bool crc);

struct YHeader {
    bool end = false; // an empty name: the batch is over
    std::string name; // up to the first NUL, never past the block
    long size = -1;   // -1 unknown
};
// Reads a block 0 of `n` bytes. Only the name and the size are taken: the size is the decimal
// digits after the name up to a space or NUL; anything else (none, a sign, an overflow) leaves
// it unknown.
YHeader parseyhdr(const uint8_t* data, int n);
// Writes the block 0 for `name` and `size` into `out` (1024 bytes of room); returns the block
// size used (128, or 1024 when the name needs it), or 0 when the name does not fit.
int packyhdr(const std::string& name, long size, uint8_t* out);
