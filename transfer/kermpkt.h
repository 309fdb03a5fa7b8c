#pragma once
// Kermit packets and their data encoding, as pure functions over buffers.
//
// A packet is MARK (SOH), LEN, SEQ, TYPE, DATA, CHECK, then the receiver's end-of-line. LEN is
// the count of the characters after it (SEQ, TYPE, DATA, CHECK) plus 32; SEQ is the sequence
// number modulo 64 plus 32. The check covers LEN, SEQ, TYPE and DATA. Type 1 is the single
// character 32 + ((s + ((s & 0xC0) >> 6)) & 63), s their sum; type 2 is their 12-bit sum in
// two 6-bit characters; type 3 is their CRC-16 (polynomial 0x1021 taken bit-reversed, start 0)
// in three characters of 4, 6 and 6 bits. A long packet (agreed in Send-Init) has a blank LEN,
// then SEQ, TYPE, the length of DATA and CHECK in two characters (times 95, plus), a type-1
// check of LEN..those two, DATA and CHECK; its check covers everything from LEN to the end of
// DATA. Send-Init and its answer always use type 1. Data are
// printable: a control character (in its low 7 bits) goes as QCTL + (c ^ 64), a byte with bit 7 set
// as the 8-bit prefix plus the rest when 8-bit prefixing was agreed, and a run as the repeat
// prefix, a count and the character when repeats were agreed. Everything is validated here, since
// every byte comes off the line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kp {
inline constexpr uint8_t MARK = 0x01;
inline constexpr int MAXDATA = 91;   // LEN of at most 94: SEQ, TYPE and a 1-character check
inline constexpr int MAXLONG = 9024; // the longest long packet: 95 * 95 - 1
inline constexpr int CAP_LONG = 2, CAP_WINDOWS = 4;
constexpr uint8_t tochar(int x) {
    return static_cast<uint8_t>(x + 32);
}
constexpr int unchar(uint8_t c) {
    return c - 32;
}
} // namespace kp

// The negotiated parameters of one side (as it sends or reads them in S, I and their Y).
struct KParams {
    int maxl = 80; // longest packet accepted, 10..94
    int time = 10; // seconds before the peer should time out
    int npad = 0;  // pad characters wanted, 0..94
    uint8_t padc = 0;
    uint8_t eol = 13;
    uint8_t qctl = '#';
    uint8_t qbin = 'N'; // 8-bit prefix offer: 'Y', 'N' or the prefix character
    uint8_t chkt = '1';
    uint8_t rept = ' '; // the repeat prefix, ' ' for none
    int capas = 0;      // capabilities (CAP_LONG, CAP_WINDOWS); 0 sends only the nine fields
    int window = 1;     // window slots, 1..31
    int maxlx = 500;    // longest long packet accepted, 10..MAXLONG
};
// The Send-Init fields: the nine basic ones, then with `capas` the capability mask, the window
// size and the long-packet length.
std::string spar(const KParams& p);
// Reads the peer's fields (any length, 0..94): absent or out-of-range values take the
// published defaults (MAXL below 10 or above 94 → 80/94, TIME 0 → 10, EOL 0 → CR, no
// capabilities, window 1, long packets of 500).
KParams rpar(const uint8_t* data, int len);
// The longest packet data the peer takes under `capas` agreed by both sides (long packets), or
// the basic limit; room is left for the header and a check of type `bct`.
int kroom(const KParams& peer, int capas, int bct);

// What both sides agreed: the prefixes in use (0 = off).
struct KCoding {
    uint8_t qctl = '#';
    uint8_t qbin = 0;
    uint8_t rept = 0;
    bool image = true; // false: text, LF goes as CR LF and a received CR is dropped
};
// Settles the 8-bit and repeat prefixes from what this side offered and the peer answered:
// 8-bit prefixing when one says 'Y' and the other a prefix character, or both the same
// character; repeats when both name the same prefix. A prefix equal to QCTL (or to each other)
// is switched off.
KCoding agree(const KParams& mine, const KParams& peer);

// Appends the encoding of `c` to `out`.
void kencode(uint8_t c, const KCoding& k, std::string& out);
// Decodes packet data; false (with nothing promised about `out`) on a bad repeat count or a
// prefix with nothing after it. `out` never grows past `max` bytes: false instead.
bool kdecode(const uint8_t* p, int n, const KCoding& k, std::vector<uint8_t>& out,
             size_t max = 1 << 20);

uint8_t kchk1(const uint8_t* p, size_t n);
uint16_t kcrc16(const uint8_t* p, size_t n);
// The check characters of type `bct` (1, 2 or 3).
std::string kcheck(const uint8_t* p, size_t n, int bct);
// The check type both sides use: the one the peer answered when it is the one offered (2 or
// 3), else 1.
int agreechk(const KParams& mine, const KParams& peer);
// The packet bytes, EOL included. `data` too long for a LEN of 94 makes a long packet (at most
// kp::MAXLONG - bct).
std::string kpack(int seq, char type, const std::string& data, uint8_t eol, int bct = 1);

struct KPacket {
    bool ok = false;
    char type = 0;
    int seq = 0;
    std::string data;
    // A damaged long packet whose header check held: its type and sequence number are known
    // (ok stays false and data empty).
    bool head = false;
};
// Parses what follows a MARK: LEN first, then exactly LEN-32 characters (or, with a blank LEN, a
// long packet of at most `maxlong` characters of data and check). `n` is how many bytes
// are there; `used` receives how many the packet took (0 when more are needed).
KPacket kparse(const uint8_t* p, int n, int& used, int bct = 1, int maxlong = 0);
