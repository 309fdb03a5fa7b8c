#pragma once
// Wire format of the native block protocol (all three variants), with no I/O.
//
// Stop-and-wait: one block out, one single-byte answer back. Control bytes outside blocks:
//   R request to send (sender, every 2 s in the handshake); Y/X/M the receiver's answer:
//   VornCRC / Vorn5 / OldVorn; S single-file receiver; F header block; G data block, and the
//   receiver's positive answer; B negative answer; K header acknowledgement block (VornCRC);
//   E end of file; D end of batch; ^C abort.
//
// Block framing (numbers little-endian):
//   OldVorn  type, data[N], xor of data
//   Vorn5    type, count, data[N], xor of count and data
//   VornCRC  type, count, seq, data[N], crc lo, crc hi  (crc = ~CRC-16/KERMIT of count..data)
// N is fixed per block kind: 128 for data and VornCRC/Vorn5 headers, 12 for the OldVorn header,
// 32 for the K block. The count is the number of valid bytes (data), 32 / 18 (headers) or 16
// (K); a count of 0 or above N is never valid.
//
// VornCRC header (count 32): 0 machine type, 1-14 name (NUL-padded), 15 zero, 16-17 mode,
// 18 version (2), 19-26 reserved, 27-30 size (signed 32-bit), 31 flags: bit 0 restart asked,
// bit 1 the data will be LZW-compressed. Vorn5 header (count 18): bytes 0-17 only.
// OldVorn header (N 12): 0, name (8) and extension (3), upper case, space-padded.
// K block (count 16): 0 machine type, 9 bit 0 restart accepted, 10-13 restart offset,
// 14-15 the receiver's option flags (0x0800 Z: do not compress).
#include <cstddef>
#include <cstdint>
#include <string>

enum class Variant { OldVorn, Vorn5, VornCRC };

namespace vorn {
constexpr uint8_t R = 'R', Y = 'Y', X = 'X', M = 'M', S = 'S', F = 'F', G = 'G', B = 'B', K = 'K',
                  E = 'E', D = 'D', ETX = 3;
constexpr int DATAN = 128, OLDHDRN = 12, KN = 32;
constexpr int CRCHDRCOUNT = 32, V5HDRCOUNT = 18, KCOUNT = 16;
constexpr int NAMELEN = 14;
constexpr uint8_t HF_RESTART = 1, HF_COMPRESS = 2;
constexpr int OPT_Z = 0x0800;
} // namespace vorn

// CRC-16/KERMIT four bits at a time (constant 0x1081); 0 bytes return `crc` unchanged.
uint16_t ccittcrc(uint16_t crc, const uint8_t* p, size_t n);

// Bytes on the line for one block of `n` data bytes in `v`.
size_t framelen(Variant v, int n);
// Frames one block into `out` (framelen bytes); returns its length.
size_t frameblk(Variant v, uint8_t type, const uint8_t* data, int n, int count, int seq,
                uint8_t* out);
// Checks the bytes after the type byte (framelen - 1 of them). Returns the count (OldVorn: n)
// when the check holds and 1 <= count <= n, else 0. The sequence goes to *seq (VornCRC).
int checkblk(Variant v, const uint8_t* after, int n, int* seq);

struct VornHeader {
    int machine = 1;
    std::string name; // the field as sent, cut at its first NUL
    int mode = 0;
    int version = 0;
    long size = -1; // -1: not announced
    int flags = 0;  // HF_ bits
};
// Builds a header's data (N bytes: 128, or 12 for OldVorn); false when the name does not fit.
bool packheader(Variant v, const VornHeader& h, uint8_t* data);
// Reads a header block's data that passed its check; false for a wrong count.
bool parseheader(Variant v, const uint8_t* data, int count, VornHeader& h);

struct VornKblock {
    int machine = 1;
    bool restart = false;
    long offset = 0;
    int options = 0;
};
void packk(const VornKblock& k, uint8_t data[vorn::KN]);
// False for a wrong count.
bool parsek(const uint8_t data[vorn::KN], int count, VornKblock& k);
