// Local files of a transfer: reading with text conversion and compression, writing received
// data through conversion, decompression and the part file.
#include "core/os.h"
#include "ports/settings.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

// ---- sending -----------------------------------------------------------------------------

bool SendFile::open(const std::string& path, long opts) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        close();
        return false;
    }
    size_ = static_cast<long>(st.st_size);
    opts_ = opts;
    pending_ = -1;
    in_.clear();
    inpos_ = 0;
    coder_.reset();
    zin_.clear();
    zinpos_ = 0;
    return true;
}

void SendFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    coder_.reset();
}

bool SendFile::seek(long off) {
    pending_ = -1; // a held-back LF belongs to the old position
    if (opts_ & OPT_T) return false;
    if (off < 0 || off > size_) return false;
    in_.clear();
    inpos_ = 0;
    zin_.clear();
    zinpos_ = 0;
    if (lseek(fd_, off, SEEK_SET) != off) return false;
    if (coder_) coder_->start();
    return true;
}

void SendFile::compress(bool on) {
    if (on) {
        coder_ = std::make_unique<LzwCoder>();
        coder_->start();
    } else {
        coder_.reset();
    }
}

bool SendFile::fill() {
    if (inpos_ < in_.size()) return true;
    in_.resize(32768);
    inpos_ = 0;
    ssize_t k;
    while ((k = read(fd_, in_.data(), in_.size())) < 0 && errno == EINTR) {
    }
    in_.resize(k > 0 ? static_cast<size_t>(k) : 0);
    return k > 0;
}

int SendFile::rdraw(uint8_t* buf, int len) {
    if (fd_ < 0) return 0;
    int got = 0;
    if (!(opts_ & OPT_T)) {
        while (got < len && fill()) {
            size_t k = std::min(in_.size() - inpos_, static_cast<size_t>(len - got));
            std::memcpy(buf + got, in_.data() + inpos_, k);
            inpos_ += k, got += static_cast<int>(k);
        }
        return got;
    }
    // Text conversion: ignore table, translation table, CR/LF expansion.
    while (got < len) {
        if (pending_ >= 0) {
            buf[got++] = static_cast<uint8_t>(pending_);
            pending_ = -1;
            continue;
        }
        if (!fill()) break;
        uint8_t c = in_[inpos_++];
        if (ouigtab[c]) continue;
        if (outrtab) c = outrtab[c];
        if (c == '\r' && addlf) {
            buf[got++] = '\r';
            pending_ = '\n';
        } else if (c == '\n' && addcr) {
            buf[got++] = '\r';
            pending_ = '\n';
        } else {
            buf[got++] = c;
        }
    }
    return got;
}

int SendFile::rdfile(uint8_t* buf, int len) {
    int n;
    if (!coder_) {
        n = rdraw(buf, len);
    } else {
        uint8_t in[8192];
        while (coder_->avail() < static_cast<size_t>(len) && !coder_->finished()) {
            int k = rdraw(in, sizeof in);
            if (k <= 0)
                coder_->finish();
            else
                coder_->put(in, static_cast<size_t>(k));
        }
        n = static_cast<int>(coder_->take(buf, static_cast<size_t>(len)));
    }
    if (n < len) std::memset(buf + n, fillchar, static_cast<size_t>(len - n));
    return n;
}

int SendFile::rdzpacket(uint8_t* buf, int paksiz, bool& last) {
    LzwCoder& c = *coder_;
    const auto want = static_cast<size_t>(paksiz);
    // One byte at a time, so the packet ends at the first group boundary past `paksiz`.
    while (!(c.avail() >= want && c.atgroup()) && !c.finished()) {
        if (zinpos_ == zin_.size()) {
            zin_.resize(8192);
            const int k = rdraw(zin_.data(), static_cast<int>(zin_.size()));
            zin_.resize(k > 0 ? static_cast<size_t>(k) : 0);
            zinpos_ = 0;
            if (k <= 0) {
                c.finish();
                break;
            }
        }
        c.put(zin_.data() + zinpos_++, 1);
    }
    const int n = static_cast<int>(c.take(buf, c.avail()));
    last = c.finished() && c.avail() == 0;
    return n;
}

// ---- receiving ---------------------------------------------------------------------------

void RcvFile::begin(long opts, bool docomp, long limit) {
    opts_ = opts;
    docomp_ = docomp;
    conv_ = (opts & OPT_CONV) != 0;
    synccount_ = rcvsync;
    err.clear();
    if (docomp_) dec_.start([this](const uint8_t* p, size_t n) { return wrconv(p, n); }, limit);
}

void RcvFile::restart(long limit) {
    if (docomp_) dec_.start([this](const uint8_t* p, size_t n) { return wrconv(p, n); }, limit);
}

bool RcvFile::drain() {
    if (!docomp_ || dec_.pending() == 0) return true;
    if (dec_.finish() == LzwDecoder::OK) return true;
    err = deabmsg;
    return false;
}

bool RcvFile::wrconv(const uint8_t* p, size_t n) {
    fbytcnt += static_cast<long>(n);
    if (!conv_) {
        if (!part.write(p, n)) return false;
    } else {
        cbuf_.clear();
        const bool cr2lf = (opts_ & OPT_C) && hismachine == 2;
        const bool stripeol = !cr2lf && (opts_ & (OPT_M | OPT_U | OPT_C));
        const bool crlf = (opts_ & OPT_M) != 0;
        for (size_t i = 0; i < n; i++) {
            uint8_t c = p[i];
            if (opts_ & OPT_T) {
                if (inigtab[c]) continue;
                if (intrtab) c = intrtab[c];
                if (c == '\n' && addcr) cbuf_.push_back('\r');
                if (c == '\r' && addlf) {
                    cbuf_.push_back('\r');
                    c = '\n';
                }
            }
            if (cr2lf && c == '\r') {
                c = '\n';
            } else if (stripeol) {
                if (c == '\r' || c == 0x1a || c == 0) continue;
                if (crlf && c == '\n') cbuf_.push_back('\r');
            }
            cbuf_.push_back(c);
        }
        if (!part.write(cbuf_.data(), cbuf_.size())) return false;
    }
    if (rcvsync > 0 && (synccount_ -= static_cast<long>(n)) <= 0) {
        synccount_ = rcvsync;
        part.sync();
    }
    return true;
}

bool RcvFile::wrfile(const uint8_t* p, int n) {
    if (n <= 0) return true;
    if (!docomp_) {
        if (!wrconv(p, static_cast<size_t>(n))) {
            err = weabmsg;
            return false;
        }
        return true;
    }
    switch (dec_.push(p, static_cast<size_t>(n))) {
    case LzwDecoder::OK:
        return true;
    case LzwDecoder::WRITEERR:
        err = weabmsg;
        return false;
    case LzwDecoder::BADMAGIC:
        err = bmabmsg;
        return false;
    default:
        err = deabmsg;
        return false;
    }
}

bool RcvFile::finish() {
    if (docomp_) {
        switch (dec_.finish()) {
        case LzwDecoder::OK:
            break;
        case LzwDecoder::WRITEERR:
            err = weabmsg;
            return false;
        case LzwDecoder::SHORT:
            err = dlabmsg;
            return false;
        case LzwDecoder::BADMAGIC:
            err = bmabmsg;
            return false;
        default:
            err = deabmsg;
            return false;
        }
    }
    if (addeof && (opts_ & OPT_M)) {
        const uint8_t z = 0x1a;
        if (!part.write(&z, 1)) {
            err = weabmsg;
            return false;
        }
    }
    return true;
}
