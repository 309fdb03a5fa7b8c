#pragma once
// ZMODEM framing: escaping, headers, data subpackets and their CRCs, on both directions.
//
// Principles of operation. The frame layer knows nothing about the line: ZmOut collects the
// escaped bytes of headers and subpackets in a buffer the engine writes out in blocks, and
// ZmIn reads through a ZmSource that hands out one byte at a time (or a time-out, or the abort
// key). Every reader is a parser of peer bytes, so the lengths are exact: a hex header has
// exactly its digits, a subpacket may not hold more than the caller's buffer, and a header
// is hunted for within a garbage allowance.
//
// Wire format. A header is ZPAD ZDLE and a format letter: 'B' hex (type and four bytes as
// lower-case hex digits, CRC-16 high first, CR LF, XON unless ZFIN/ZACK), 'A' binary with
// CRC-16, 'C' binary with CRC-32 (LSB first), 'D' the armoured 7-bit form used only between
// two copies of this program (type + 0x20, then the four bytes and the CRC-16 in groups of
// three bytes as four characters 0x20-0x5F). The four bytes are ZP0..ZP3 (a position, least
// significant first) or ZF3..ZF0 (flags). A data subpacket is the escaped data, ZDLE, a frame
// end letter and the CRC over data and frame end; the CRC kind follows the last header read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zm {

// Frame types.
constexpr int ZRQINIT = 0;
constexpr int ZRINIT = 1;
constexpr int ZSINIT = 2;
constexpr int ZACK = 3;
constexpr int ZFILE = 4;
constexpr int ZSKIP = 5;
constexpr int ZNAK = 6;
constexpr int ZABORT = 7;
constexpr int ZFIN = 8;
constexpr int ZRPOS = 9;
constexpr int ZDATA = 10;
constexpr int ZEOF = 11;
constexpr int ZFERR = 12;
constexpr int ZCRC = 13;
constexpr int ZCHALLENGE = 14;
constexpr int ZCOMPL = 15;
constexpr int ZCAN = 16;
constexpr int ZFREECNT = 17;
constexpr int ZCOMMAND = 18;
constexpr int ZSTDERR = 19;

// Special bytes and letters.
constexpr int ZPAD = '*';
constexpr int ZDLE = 0x18;
constexpr int ZDLEE = ZDLE ^ 0x40;
constexpr int ZBIN = 'A';
constexpr int ZHEX = 'B';
constexpr int ZBIN32 = 'C';
constexpr int ZARM = 'D';
constexpr int ZCRCE = 'h';
constexpr int ZCRCG = 'i';
constexpr int ZCRCQ = 'j';
constexpr int ZCRCW = 'k';
constexpr int ZRUB0 = 'l';
constexpr int ZRUB1 = 'm';
constexpr int ZCRCN = 'n'; // like ZCRCW; the receiver restarts its decompressor first
constexpr int XON = 0x11;
constexpr int XOFF = 0x13;
constexpr int CAN = 0x18;

// Reader results besides byte values.
constexpr int GOTOR = 0x100;
constexpr int GOTCRCE = GOTOR | ZCRCE;
constexpr int GOTCRCG = GOTOR | ZCRCG;
constexpr int GOTCRCQ = GOTOR | ZCRCQ;
constexpr int GOTCRCW = GOTOR | ZCRCW;
constexpr int GOTCRCN = GOTOR | ZCRCN;
constexpr int GOTCAN = GOTOR | CAN;
constexpr int ERROR = -1;
constexpr int TIMEOUT = -2;
constexpr int ABORT = -3; // the local abort key
constexpr int LOST = -4;  // the line has hung up

// Capability bits of ZRINIT's ZF0.
constexpr int CANFDX = 0x01;
constexpr int CANOVIO = 0x02;
constexpr int CANBRK = 0x04;
constexpr int CANCRY = 0x08;
constexpr int CANLZW = 0x10;
constexpr int CANFC32 = 0x20;
constexpr int ESCCTL = 0x40;
constexpr int ESC8 = 0x80;

// ZFILE ZF0 (conversion), ZF1 (management, masked with ZMMASK) values.
constexpr int ZCBIN = 1;
constexpr int ZCNL = 2;
constexpr int ZCRESUM = 3;
constexpr int ZMSKNOLOC = 0x80;
constexpr int ZMMASK = 0x1f;
constexpr int ZMNEWL = 1;
constexpr int ZMCRC = 2;
constexpr int ZMAPND = 3;
constexpr int ZMCLOB = 4;
constexpr int ZMNEW = 5;
constexpr int ZMDIFF = 6;
constexpr int ZMPROT = 7;
constexpr int ZMCHNG = 8;

// Header byte indexes.
constexpr int ZF0 = 3;
constexpr int ZF1 = 2;
constexpr int ZF2 = 1;
constexpr int ZF3 = 0;
constexpr int ZP0 = 0;
constexpr int ZP1 = 1;
constexpr int ZP2 = 2;
constexpr int ZP3 = 3;

// The largest data subpacket this side reads.
constexpr size_t MAXBLK = 8192;

uint16_t crc16(uint16_t crc, const uint8_t* p, size_t n); // CRC-16/XMODEM
uint32_t crc32(uint32_t crc, const uint8_t* p, size_t n); // IEEE, as zlib: crc32(0, ...)

void stohdr(uint8_t hdr[4], uint32_t pos);
uint32_t rclhdr(const uint8_t hdr[4]);

// The armoured form: every 3 bytes as 4 characters 0x20-0x5F, a short last group ended by 'p'.
std::string conv34(const uint8_t* p, size_t n);
// Decodes `s` into `out` (at most `max` bytes); the byte count, or -1 for a bad character, a
// bad group or too many bytes.
long conv43(const uint8_t* s, size_t n, uint8_t* out, size_t max);

// Output side.
class ZmOut {
  public:
    bool ctlesc = false; // escape every control byte
    bool esc8 = false;   // the line carries 7 bits: armoured headers and data
    std::string buf;     // what is ready to go out

    void zsendline(uint8_t c);
    void zsendrun(const uint8_t* p, size_t n); // zsendline on each byte, in one pass
    void zshhdr(int type, const uint8_t hdr[4]);
    // Binary header: 'C' with `crc32`, else 'A'; 'D' when esc8.
    void zsbhdr(int type, const uint8_t hdr[4], bool crc32);
    // One subpacket ending in `frameend` (ZCRCE..ZCRCN); the CRC kind of the last header sent.
    void zsdata(const uint8_t* p, size_t n, int frameend);
    void clear() { buf.clear(); }

  private:
    void mktab();
    bool crc32_ = false;
    uint8_t last_ = 0;
    int tabfor_ = -1;  // the ctlesc value esc_ was made for
    uint8_t esc_[256]; // per byte: 0 raw, 1 escaped, 2 CR (escaped after '@'), 3 ZRUB0/ZRUB1
};

// Input side: one byte at a time. A source may hold a run of bytes in [p_, e_), which the
// readers take inline; get() is asked only when the run is used up.
class ZmSource {
  public:
    virtual ~ZmSource() = default;
    // A byte 0-255, TIMEOUT after `seconds` without one, ABORT, or LOST.
    virtual int get(int seconds) = 0;
    int next(int seconds) { return p_ != e_ ? *p_++ : get(seconds); }

  protected:
    friend class ZmIn; // the subpacket reader copies plain runs straight out of [p_, e_)
    const uint8_t* p_ = nullptr;
    const uint8_t* e_ = nullptr;
};

class ZmIn {
  public:
    explicit ZmIn(ZmSource& src) : src_(src) {}
    bool ctlesc = false;   // the peer escapes control bytes: raw ones are noise
    bool esc8 = false;     // 7-bit line: bytes are masked, armoured frames
    int timeout = 10;      // seconds per byte
    long allowance = 1400; // garbage bytes before a header hunt fails
    uint8_t hdr[4] = {};   // the last header's four bytes
    int frameind = 0;      // the last header's format letter
    size_t rxcount = 0;    // bytes of the last subpacket

    int zdlread();
    // The next header: its type, or ZCAN, ERROR, TIMEOUT, ABORT.
    int zgethdr();
    // One subpacket into `p` (at most `max` bytes): a GOTCRC* code, ERROR, TIMEOUT, ZCAN or
    // ABORT; the byte count in `rxcount`.
    int zrdata(uint8_t* p, size_t max);
    uint32_t rxpos() const { return rclhdr(hdr); }

  private:
    int rd() { // one byte from the source, masked under esc8
        const int c = src_.next(timeout);
        return c >= 0 && esc8 ? c & 0x7f : c;
    }
    int zgethex();
    int zrbhdr(bool crc32);
    int zrhhdr();
    int zrahdr();
    int zrdarm(uint8_t* p, size_t max);
    ZmSource& src_;
};

// A source over a fixed string, for tests and fuzzing: TIMEOUT at the end. It hands the
// bytes out in runs of `chunk` (as the line does in the reads it gets), or all in one.
class StrSource : public ZmSource {
  public:
    explicit StrSource(std::string s, size_t chunk = SIZE_MAX)
        : s_(std::move(s)), chunk_(chunk ? chunk : 1) {}
    StrSource(const StrSource&) = delete;
    StrSource& operator=(const StrSource&) = delete;
    int get(int) override {
        const size_t at = pos();
        if (at >= s_.size()) return TIMEOUT;
        const auto* b = reinterpret_cast<const uint8_t*>(s_.data());
        p_ = b + at + 1;
        e_ = b + at + std::min(chunk_, s_.size() - at);
        return b[at];
    }
    // Bytes handed out so far.
    size_t pos() const {
        return p_ ? static_cast<size_t>(p_ - reinterpret_cast<const uint8_t*>(s_.data())) : 0;
    }

  private:
    std::string s_;
    size_t chunk_;
};

} // namespace zm
