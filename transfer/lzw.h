#pragma once
// LZW compression of file data on the fly (native VornCRC and the ZMODEM engine).
//
// Principles of operation. The coder is the classic block-mode LZW with variable code width
// (9 to 12 bits), a 5003-entry open-addressing hash table and a CLEAR code (256) sent whenever
// the compression ratio falls after the table filled; the first free string code is 257.
// Codes are packed least significant bit first in groups of eight codes, so a group of width n
// occupies n bytes; when the width changes or after CLEAR the current group is written out in
// full (only when it holds a code) and the new width starts on a fresh group. The stream
// begins with the 3-byte header 1C 92 8C (magic, then 12-bit maximum with block mode) and ends
// with the last code and the partial group cut to whole bytes.
//
// The coder is pushed input bytes and accumulates output; senders pull packets from it:
//   - native protocol: exactly `paksiz` bytes per packet, a short (maybe empty) last one;
//   - ZMODEM: at least `paksiz` bytes, always ending on a group boundary, so a packet can be
//     up to paksiz + 23 bytes (one input byte may flush a code and then a CLEAR group).
// `pos()` is the number of uncompressed bytes represented by the codes already emitted, the
// only position both ends can agree on; after a seek the sender starts a new coder.
//
// The decoder is pushed packets and writes the decoded bytes through a sink. It decodes a group
// only once the whole group is buffered (or the input is known complete), so packets may split
// anywhere, even inside a code or a CLEAR. Anything the coder never produces (bad header, a code
// above the next free one, a string code right after the header or a CLEAR, a chain longer than
// the table) is an error; so is output beyond a set limit (a decompression bomb against an
// announced size). Fixed tables, no allocation per byte.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr uint8_t LZW_MAGIC0 = 0x1C, LZW_MAGIC1 = 0x92, LZW_FLAGS = 0x8C;
constexpr int LZW_HSIZE = 5003;
constexpr int LZW_MAXBITS = 12;
constexpr int LZW_MAXMAX = 1 << LZW_MAXBITS; // 4096: a sentinel, codes stay below it
constexpr int LZW_CLEAR = 256, LZW_FIRST = 257;
constexpr int LZW_CHECKGAP = 10000;
constexpr int XBUFSIZ = 1048; // packet buffer of the senders: paksiz + 23 always fits

class LzwCoder {
  public:
    // Starts a file: header written, tables clear.
    void start();
    // Codes `n` bytes.
    void put(const uint8_t* p, size_t n);
    // End of input: the pending string and the final partial group are written.
    void finish();
    // Bytes ready to be taken.
    size_t avail() const { return out_.size() - head_; }
    // True when the bytes ready end exactly on a group boundary (ZMODEM packets end there).
    bool atgroup() const { return offset_ == 0; }
    // Takes up to `max` ready bytes into `dst`; returns how many.
    size_t take(uint8_t* dst, size_t max);
    bool finished() const { return finished_; }
    long incount() const { return nin_; } // bytes coded
    long bytesout() const { return bytes_out_; }
    long pos() const { return pos_; }      // uncompressed bytes represented by emitted codes
    int clears() const { return clears_; } // CLEAR codes written

  private:
    void output(int code);
    void clblock();
    void clhash();
    void emit(const uint8_t* p, size_t n);
    std::vector<int32_t> htab_ = std::vector<int32_t>(LZW_HSIZE);
    std::vector<uint16_t> codetab_ = std::vector<uint16_t>(LZW_HSIZE);
    std::vector<uint16_t> len_ = std::vector<uint16_t>(LZW_MAXMAX); // string length per code
    std::vector<uint8_t> out_;
    size_t head_ = 0;
    uint8_t buf_[LZW_MAXBITS + 2] = {};
    int offset_ = 0, n_bits_ = 9, maxcode_ = 511, free_ent_ = LZW_FIRST, clear_flg_ = 0;
    long ratio_ = 0, checkpoint_ = LZW_CHECKGAP, in_count_ = 1, bytes_out_ = 3, pos_ = 0, nin_ = 0;
    int ent_ = -1; // -1: no first character yet
    int clears_ = 0;
    bool finished_ = false;
};

class LzwDecoder {
  public:
    using Sink = std::function<bool(const uint8_t*, size_t)>; // false: write error
    enum Status { OK = 0, BADMAGIC = 1, BADCODE = 2, WRITEERR = 3, TOOLONG = 4, SHORT = 5 };
    // `limit` < 0: no limit on the decoded size.
    void start(Sink sink, long limit = -1);
    // Adds received bytes and decodes every group that is complete.
    Status push(const uint8_t* p, size_t n);
    // The input is complete: decodes the rest. SHORT when bytes are left that cannot be a code.
    Status finish();
    long decoded() const { return outcount_; }
    bool headerseen() const { return gothdr_; }
    size_t pending() const { return in_.size() - inpos_; } // bytes not decoded yet

  private:
    Status decode(bool final);
    Status flushout();
    Sink sink_;
    std::vector<uint8_t> in_;
    size_t inpos_ = 0;
    uint16_t prefix_[LZW_MAXMAX] = {};
    uint8_t suffix_[LZW_MAXMAX] = {};
    uint16_t dlen_[LZW_MAXMAX] = {}; // string length per code
    // Where each string code's string last appeared in the output (absolute position). While
    // that place is still in the buffer the string is copied from there instead of walking
    // its prefix chain.
    int64_t doff_[LZW_MAXMAX] = {};
    // The output buffer keeps the last OHIST bytes already handed to the sink as the window
    // strings are copied from; OSLACK covers the longest string plus the over-wide copies.
    static constexpr size_t OBUFSIZ = 262144, OHIST = 65536, OSLACK = LZW_MAXMAX + 32;
    std::vector<uint8_t> obuf_ = std::vector<uint8_t>(OBUFSIZ + OSLACK);
    size_t olen_ = 0, ostart_ = 0; // bytes in the buffer, first byte not yet sunk
    int64_t obase_ = 0;            // absolute output position of obuf_[0]
    int64_t prevpos_ = 0;          // absolute position where the previous code's string began
    uint8_t grp_[LZW_MAXBITS + 2] = {};
    int grpbits_ = 0, grpoff_ = 0; // bits usable in the current group, bits consumed
    int n_bits_ = 9, maxcode_ = 511, free_ent_ = LZW_FIRST, clear_flg_ = 0;
    int oldcode_ = -1, finchar_ = 0;
    bool gothdr_ = false, afterclear_ = true;
    long outcount_ = 0, limit_ = -1;
    Status err_ = OK;
};

// "%d.%02d%%" of num/den in hundredths of a percent, the classic ratio display.
std::string prratio(long num, long den);
