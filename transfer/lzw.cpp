#include "transfer/lzw.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// ---- coder -----------------------------------------------------------------------------

void LzwCoder::start() {
    out_.clear();
    head_ = 0;
    const uint8_t hdr[3] = {LZW_MAGIC0, LZW_MAGIC1, LZW_FLAGS};
    out_.insert(out_.end(), hdr, hdr + 3);
    offset_ = 0, n_bits_ = 9, maxcode_ = 511, free_ent_ = LZW_FIRST, clear_flg_ = 0;
    ratio_ = 0, checkpoint_ = LZW_CHECKGAP, in_count_ = 1, bytes_out_ = 3, pos_ = 0, nin_ = 0;
    ent_ = -1;
    clears_ = 0;
    finished_ = false;
    for (int i = 0; i < 256; i++)
        len_[i] = 1;
    clhash();
}

void LzwCoder::clhash() {
    std::fill(htab_.begin(), htab_.end(), -1);
}

void LzwCoder::emit(const uint8_t* p, size_t n) {
    if (head_ > 65536 && head_ * 2 > out_.size()) { // keep the buffer from growing forever
        out_.erase(out_.begin(), out_.begin() + static_cast<long>(head_));
        head_ = 0;
    }
    out_.insert(out_.end(), p, p + n);
    bytes_out_ += static_cast<long>(n);
}

size_t LzwCoder::take(uint8_t* dst, size_t max) {
    size_t n = std::min(max, avail());
    std::memcpy(dst, out_.data() + head_, n);
    head_ += n;
    return n;
}

// Places one code in the current group; -1 flushes the partial group cut to whole bytes.
void LzwCoder::output(int code) {
    if (code < 0) {
        if (offset_ > 0) emit(buf_, static_cast<size_t>((offset_ + 7) / 8));
        offset_ = 0;
        return;
    }
    if (code != LZW_CLEAR) pos_ += len_[code];
    int r = offset_ & 7;
    uint8_t* bp = buf_ + (offset_ >> 3);
    uint32_t v = static_cast<uint32_t>(code) << r;
    bp[0] = static_cast<uint8_t>((bp[0] & ((1 << r) - 1)) | (v & 0xff));
    bp[1] = static_cast<uint8_t>(v >> 8);
    if (r + n_bits_ > 16) bp[2] = static_cast<uint8_t>(v >> 16);
    offset_ += n_bits_;
    if (offset_ == n_bits_ * 8) {
        emit(buf_, static_cast<size_t>(n_bits_));
        offset_ = 0;
    }
    // A width change or CLEAR starts a fresh group; the rest of the current one goes out whole
    // so that the decoder, which reads whole groups, skips it at the same code.
    if (free_ent_ > maxcode_ || clear_flg_) {
        if (offset_ > 0) emit(buf_, static_cast<size_t>(n_bits_));
        offset_ = 0;
        if (clear_flg_) {
            n_bits_ = 9, maxcode_ = 511, clear_flg_ = 0;
        } else {
            n_bits_++;
            maxcode_ = n_bits_ == LZW_MAXBITS ? LZW_MAXMAX : (1 << n_bits_) - 1;
        }
    }
}

// The table is full: every LZW_CHECKGAP input bytes the ratio is compared with the best seen,
// and when it fell the table starts again.
void LzwCoder::clblock() {
    checkpoint_ = in_count_ + LZW_CHECKGAP;
    long rat;
    if (in_count_ > 0x007fffff) {
        long d = bytes_out_ >> 8;
        rat = d == 0 ? 0x7fffffff : in_count_ / d;
    } else {
        rat = (in_count_ << 8) / bytes_out_;
    }
    if (rat > ratio_) {
        ratio_ = rat;
    } else {
        ratio_ = 0;
        clhash();
        free_ent_ = LZW_FIRST;
        clear_flg_ = 1;
        clears_++;
        output(LZW_CLEAR);
    }
}

void LzwCoder::put(const uint8_t* p, size_t n) {
    nin_ += static_cast<long>(n);
    size_t k = 0;
    if (ent_ < 0 && n > 0) ent_ = p[k++];
    for (; k < n; k++) {
        const int c = p[k];
        in_count_++;
        const int32_t fcode = (c << LZW_MAXBITS) + ent_;
        int i = (c << 4) ^ ent_;
        if (htab_[i] == fcode) {
            ent_ = codetab_[i];
            continue;
        }
        if (htab_[i] >= 0) {
            const int disp = i == 0 ? 1 : LZW_HSIZE - i;
            bool hit = false;
            for (;;) {
                i -= disp;
                if (i < 0) i += LZW_HSIZE;
                if (htab_[i] == fcode) {
                    hit = true;
                    break;
                }
                if (htab_[i] < 0) break;
            }
            if (hit) {
                ent_ = codetab_[i];
                continue;
            }
        }
        output(ent_);
        const int prev = ent_;
        ent_ = c;
        if (free_ent_ < LZW_MAXMAX) {
            len_[free_ent_] = static_cast<uint16_t>(len_[prev] + 1);
            codetab_[i] = static_cast<uint16_t>(free_ent_++);
            htab_[i] = fcode;
        } else if (in_count_ >= checkpoint_) {
            clblock();
        }
    }
}

void LzwCoder::finish() {
    if (finished_) return;
    if (ent_ >= 0) output(ent_);
    output(-1);
    finished_ = true;
}

// ---- decoder ---------------------------------------------------------------------------

void LzwDecoder::start(Sink sink, long limit) {
    sink_ = std::move(sink);
    in_.clear();
    inpos_ = 0;
    for (int i = 0; i < 256; i++)
        prefix_[i] = 0, suffix_[i] = static_cast<uint8_t>(i), dlen_[i] = 1;
    olen_ = ostart_ = 0;
    obase_ = prevpos_ = 0;
    grpbits_ = grpoff_ = 0;
    n_bits_ = 9, maxcode_ = 511, free_ent_ = LZW_FIRST, clear_flg_ = 0;
    oldcode_ = -1, finchar_ = 0;
    gothdr_ = false, afterclear_ = true;
    outcount_ = 0, limit_ = limit;
    err_ = OK;
}

LzwDecoder::Status LzwDecoder::flushout() {
    if (olen_ > ostart_) {
        bool ok = sink_ ? sink_(obuf_.data() + ostart_, olen_ - ostart_) : true;
        ostart_ = olen_;
        if (!ok) return err_ = WRITEERR;
    }
    if (olen_ >= OBUFSIZ) { // keep only the window the next strings may be copied from
        const size_t drop = olen_ - OHIST;
        std::memmove(obuf_.data(), obuf_.data() + drop, OHIST);
        obase_ += static_cast<int64_t>(drop);
        olen_ = ostart_ = OHIST;
    }
    return OK;
}

LzwDecoder::Status LzwDecoder::push(const uint8_t* p, size_t n) {
    if (err_ != OK) return err_;
    if (inpos_ > 65536) {
        in_.erase(in_.begin(), in_.begin() + static_cast<long>(inpos_));
        inpos_ = 0;
    }
    in_.insert(in_.end(), p, p + n);
    Status s = decode(false);
    if (s == OK) s = flushout();
    return s;
}

LzwDecoder::Status LzwDecoder::finish() {
    if (err_ != OK) return err_;
    Status s = decode(true);
    if (s == OK) s = flushout();
    if (s == OK && !gothdr_) s = err_ = SHORT;
    return s;
}

LzwDecoder::Status LzwDecoder::decode(bool final) {
    if (!gothdr_) {
        if (in_.size() - inpos_ < 3) return OK;
        const uint8_t* h = in_.data() + inpos_;
        if (h[0] != LZW_MAGIC0 || h[1] != LZW_MAGIC1 || h[2] != LZW_FLAGS) return err_ = BADMAGIC;
        inpos_ += 3;
        gothdr_ = true;
    }
    // The hot state lives in locals: the output is written through byte pointers, which would
    // otherwise make the compiler reload every member after each byte.
    int n_bits = n_bits_, maxcode = maxcode_, free_ent = free_ent_, clear_flg = clear_flg_;
    int grpoff = grpoff_, grpbits = grpbits_, oldcode = oldcode_, finchar = finchar_;
    bool afterclear = afterclear_;
    long outcount = outcount_;
    size_t olen = olen_, inpos = inpos_;
    uint16_t* const prefix = prefix_;
    uint8_t* const suffix = suffix_;
    uint16_t* const dlen = dlen_;
    int64_t* const doff = doff_;
    int64_t obase = obase_, prevpos = prevpos_;
    uint8_t* const obuf = obuf_.data();
    const uint8_t* const in = in_.data();
    const size_t insize = in_.size();
    Status st = OK;
    for (;;) {
        // getcode: a new group when the current one is used up, the width grew, or after CLEAR.
        if (clear_flg > 0 || grpoff >= grpbits || free_ent > maxcode) {
            if (free_ent > maxcode) {
                n_bits++;
                maxcode = n_bits == LZW_MAXBITS ? LZW_MAXMAX : (1 << n_bits) - 1;
            }
            if (clear_flg > 0) n_bits = 9, maxcode = 511, clear_flg = 0;
            grpbits = grpoff = 0; // used up until a group is read
            size_t avail = insize - inpos;
            size_t take = static_cast<size_t>(n_bits);
            if (avail < take) {
                if (!final || avail == 0) break;
                take = avail;
            }
            std::memset(grp_, 0, sizeof grp_);
            std::memcpy(grp_, in + inpos, take);
            inpos += take;
            grpbits = static_cast<int>(take) * 8 - (n_bits - 1);
            if (grpbits <= 0) continue; // a tail too short to hold a code
        }
        const int byte = grpoff >> 3, r = grpoff & 7;
        const uint32_t v = grp_[byte] | (grp_[byte + 1] << 8) | (grp_[byte + 2] << 16);
        int code = static_cast<int>((v >> r) & ((1u << n_bits) - 1));
        grpoff += n_bits;

        if (oldcode < 0) { // the first code of the stream is a plain character
            if (code >= 256) {
                st = BADCODE;
                break;
            }
            if (limit_ >= 0 && outcount + 1 > limit_) {
                st = TOOLONG;
                break;
            }
            oldcode = finchar = code;
            afterclear = false;
            prevpos = obase + static_cast<int64_t>(olen);
            obuf[olen++] = static_cast<uint8_t>(code);
            outcount++;
        } else if (code == LZW_CLEAR) {
            clear_flg = 1;
            free_ent = LZW_FIRST - 1;
            afterclear = true;
            continue;
        } else {
            if ((afterclear && code >= 256) || code > free_ent) {
                st = BADCODE;
                break;
            }
            // The string being defined (code == free_ent) is the old string plus its own
            // first character; every other string is already in the table.
            const bool kwkwk = code == free_ent;
            const int src = kwkwk ? oldcode : code;
            const int slen = dlen[src];
            const int len = kwkwk ? slen + 1 : slen;
            if (len > LZW_MAXMAX) {
                st = BADCODE;
                break;
            }
            uint8_t* const dst = obuf + olen;
            const int64_t here = obase + static_cast<int64_t>(olen);
            if (src < 256) {
                *dst = static_cast<uint8_t>(src);
            } else if (const int64_t off = doff[src]; off >= obase && off + slen <= here) {
                // Copied from where it was last written, in 16-byte steps: the source ends
                // before the destination starts, so a step never reads a byte it or an earlier
                // step wrote that the string needs; the overshoot lands in the slack.
                const uint8_t* const from = obuf + (off - obase);
                for (int i = 0; i < slen; i += 16) {
                    uint8_t t[16];
                    std::memcpy(t, from + i, 16);
                    std::memcpy(dst + i, t, 16);
                }
            } else {
                // Out of the window: the prefix chain gives the string last character first,
                // straight into place, and the string's new place is remembered.
                int c = src;
                uint8_t* end = dst + slen - 1;
                while (c >= 256 && end > dst) {
                    *end-- = suffix[c];
                    c = prefix[c];
                }
                if (end != dst || c >= 256) { // a length that does not match the chain
                    st = BADCODE;
                    break;
                }
                *end = suffix[c];
                doff[src] = here;
            }
            finchar = *dst;
            if (kwkwk) dst[slen] = static_cast<uint8_t>(finchar);
            if (limit_ >= 0 && outcount + len > limit_) {
                st = TOOLONG;
                break;
            }
            outcount += len;
            olen += static_cast<size_t>(len);
            if (free_ent < LZW_MAXMAX) {
                prefix[free_ent] = static_cast<uint16_t>(oldcode);
                suffix[free_ent] = static_cast<uint8_t>(finchar);
                dlen[free_ent] = static_cast<uint16_t>(std::min(dlen[oldcode] + 1, LZW_MAXMAX));
                doff[free_ent] = prevpos; // the old string, then this one's first character
                free_ent++;
            }
            prevpos = here;
            oldcode = code;
            afterclear = false;
        }
        if (olen >= OBUFSIZ) {
            olen_ = olen;
            if (flushout() != OK) {
                st = WRITEERR;
                olen = olen_;
                break;
            }
            olen = olen_;
            obase = obase_;
        }
    }
    n_bits_ = n_bits, maxcode_ = maxcode, free_ent_ = free_ent, clear_flg_ = clear_flg;
    grpoff_ = grpoff, grpbits_ = grpbits, oldcode_ = oldcode, finchar_ = finchar;
    afterclear_ = afterclear, outcount_ = outcount, olen_ = olen, inpos_ = inpos;
    prevpos_ = prevpos;
    if (st != OK) err_ = st;
    return st;
}

std::string prratio(long num, long den) {
    long q = 0;
    if (den > 1) q = num < 214749 ? num * 10000 / den : num / (den / 10000 ? den / 10000 : 1);
    char buf[48];
    const char* sign = q < 0 ? "-" : "";
    if (q < 0) q = -q;
    snprintf(buf, sizeof buf, "%s%ld.%02ld%%", sign, q / 100, q % 100);
    return buf;
}
