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
        prefix_[i] = 0, suffix_[i] = static_cast<uint8_t>(i);
    obuf_.clear();
    grpbits_ = grpoff_ = 0;
    n_bits_ = 9, maxcode_ = 511, free_ent_ = LZW_FIRST, clear_flg_ = 0;
    oldcode_ = -1, finchar_ = 0;
    gothdr_ = false, afterclear_ = true;
    outcount_ = 0, limit_ = limit;
    err_ = OK;
}

LzwDecoder::Status LzwDecoder::flushout() {
    if (!obuf_.empty()) {
        bool ok = sink_ ? sink_(obuf_.data(), obuf_.size()) : true;
        obuf_.clear();
        if (!ok) return err_ = WRITEERR;
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
    for (;;) {
        // getcode: a new group when the current one is used up, the width grew, or after CLEAR.
        if (clear_flg_ > 0 || grpoff_ >= grpbits_ || free_ent_ > maxcode_) {
            if (free_ent_ > maxcode_) {
                n_bits_++;
                maxcode_ = n_bits_ == LZW_MAXBITS ? LZW_MAXMAX : (1 << n_bits_) - 1;
            }
            if (clear_flg_ > 0) n_bits_ = 9, maxcode_ = 511, clear_flg_ = 0;
            grpbits_ = grpoff_ = 0; // used up until a group is read
            size_t avail = in_.size() - inpos_;
            size_t take = static_cast<size_t>(n_bits_);
            if (avail < take) {
                if (!final || avail == 0) return OK;
                take = avail;
            }
            std::memset(grp_, 0, sizeof grp_);
            std::memcpy(grp_, in_.data() + inpos_, take);
            inpos_ += take;
            grpbits_ = static_cast<int>(take) * 8 - (n_bits_ - 1);
            if (grpbits_ <= 0) continue; // a tail too short to hold a code
        }
        const int byte = grpoff_ >> 3, r = grpoff_ & 7;
        const uint32_t v = grp_[byte] | (grp_[byte + 1] << 8) | (grp_[byte + 2] << 16);
        int code = static_cast<int>((v >> r) & ((1u << n_bits_) - 1));
        grpoff_ += n_bits_;

        if (oldcode_ < 0) { // the first code of the stream is a plain character
            if (code >= 256) return err_ = BADCODE;
            oldcode_ = finchar_ = code;
            afterclear_ = false;
            obuf_.push_back(static_cast<uint8_t>(code));
            outcount_++;
        } else if (code == LZW_CLEAR) {
            clear_flg_ = 1;
            free_ent_ = LZW_FIRST - 1;
            afterclear_ = true;
            continue;
        } else {
            if (afterclear_ && code >= 256) return err_ = BADCODE;
            if (code > free_ent_) return err_ = BADCODE;
            const int incode = code;
            int sp = 0;
            if (code == free_ent_) {
                stack_[sp++] = static_cast<uint8_t>(finchar_);
                code = oldcode_;
            }
            while (code >= 256) {
                if (sp >= LZW_MAXMAX) return err_ = BADCODE;
                stack_[sp++] = suffix_[code];
                code = prefix_[code];
            }
            finchar_ = suffix_[code];
            stack_[sp++] = static_cast<uint8_t>(finchar_);
            if (limit_ >= 0 && outcount_ + sp > limit_) return err_ = TOOLONG;
            outcount_ += sp;
            while (sp > 0)
                obuf_.push_back(stack_[--sp]);
            if (free_ent_ < LZW_MAXMAX) {
                prefix_[free_ent_] = static_cast<uint16_t>(oldcode_);
                suffix_[free_ent_] = static_cast<uint8_t>(finchar_);
                free_ent_++;
            }
            oldcode_ = incode;
            afterclear_ = false;
        }
        if (limit_ >= 0 && outcount_ > limit_) return err_ = TOOLONG;
        if (obuf_.size() >= 16384) {
            if (Status s = flushout(); s != OK) return s;
        }
    }
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
