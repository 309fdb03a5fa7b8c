// ZMODEM framing: escaping, headers, data subpackets and CRCs.
#include "transfer/zmframe.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zm {

namespace {

constexpr std::array<uint16_t, 256> mkcrctab() {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; i++) {
        unsigned c = i << 8;
        for (int k = 0; k < 8; k++)
            c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        t[i] = static_cast<uint16_t>(c);
    }
    return t;
}
constexpr std::array<uint32_t, 256> mkcr3tab() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}
// Slicing by eight: table k advances a byte through k more zero bytes, so eight bytes are
// taken per step (data subpackets are checked on every byte of a transfer, both ways).
constexpr std::array<std::array<uint32_t, 256>, 8> mkcr3slice() {
    std::array<std::array<uint32_t, 256>, 8> t{};
    t[0] = mkcr3tab();
    for (int k = 1; k < 8; k++)
        for (int i = 0; i < 256; i++)
            t[k][i] = t[0][t[k - 1][i] & 0xff] ^ (t[k - 1][i] >> 8);
    return t;
}
constexpr auto crctab = mkcrctab();
constexpr auto cr3s = mkcr3slice();
constexpr const auto& cr3tab = cr3s[0];

inline uint16_t upd16(uint16_t crc, uint8_t b) {
    return static_cast<uint16_t>(crctab[((crc >> 8) ^ b) & 0xff] ^ (crc << 8));
}
// The running (uncomplemented) CRC-32 register.
inline uint32_t upd32(uint32_t crc, uint8_t b) {
    return cr3tab[(crc ^ b) & 0xff] ^ (crc >> 8);
}

const char hexdigit[] = "0123456789abcdef";

} // namespace

uint16_t crc16(uint16_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i++)
        crc = upd16(crc, p[i]);
    return crc;
}

uint32_t crc32(uint32_t crc, const uint8_t* p, size_t n) {
    crc = ~crc;
    auto le32 = [](const uint8_t* q) {
        return static_cast<uint32_t>(q[0]) | static_cast<uint32_t>(q[1]) << 8 |
               static_cast<uint32_t>(q[2]) << 16 | static_cast<uint32_t>(q[3]) << 24;
    };
    for (; n >= 8; p += 8, n -= 8) {
        const uint32_t lo = crc ^ le32(p), hi = le32(p + 4);
        crc = cr3s[7][lo & 0xff] ^ cr3s[6][(lo >> 8) & 0xff] ^ cr3s[5][(lo >> 16) & 0xff] ^
              cr3s[4][lo >> 24] ^ cr3s[3][hi & 0xff] ^ cr3s[2][(hi >> 8) & 0xff] ^
              cr3s[1][(hi >> 16) & 0xff] ^ cr3s[0][hi >> 24];
    }
    for (; n > 0; n--)
        crc = upd32(crc, *p++);
    return ~crc;
}

void stohdr(uint8_t hdr[4], uint32_t pos) {
    for (int i = 0; i < 4; i++)
        hdr[i] = static_cast<uint8_t>(pos >> (8 * i));
}

uint32_t rclhdr(const uint8_t hdr[4]) {
    return static_cast<uint32_t>(hdr[0]) | static_cast<uint32_t>(hdr[1]) << 8 |
           static_cast<uint32_t>(hdr[2]) << 16 | static_cast<uint32_t>(hdr[3]) << 24;
}

std::string conv34(const uint8_t* p, size_t n) {
    std::string s;
    s.reserve((n + 2) / 3 * 4);
    for (size_t i = 0; i < n; i += 3) {
        const unsigned b0 = p[i];
        const unsigned b1 = i + 1 < n ? p[i + 1] : 0;
        const unsigned b2 = i + 2 < n ? p[i + 2] : 0;
        s += static_cast<char>(0x20 + (b0 & 63));
        s += static_cast<char>(0x20 + (((b1 << 2) | (b0 >> 6)) & 63));
        if (i + 1 >= n) {
            s += "pp";
            break;
        }
        s += static_cast<char>(0x20 + (((b2 << 4) | (b1 >> 4)) & 63));
        if (i + 2 >= n) {
            s += 'p';
            break;
        }
        s += static_cast<char>(0x20 + (b2 >> 2));
    }
    return s;
}

long conv43(const uint8_t* s, size_t n, uint8_t* out, size_t max) {
    if (n % 4) return -1;
    size_t k = 0;
    for (size_t i = 0; i < n; i += 4) {
        unsigned v[4];
        int got = 4; // characters before the first 'p'
        for (int j = 0; j < 4; j++) {
            const unsigned c = s[i + j] & 0x7f;
            if (c == 'p') {
                if (got == 4) got = j;
                v[j] = 0;
                continue;
            }
            if (got < 4 || c < 0x20 || c > 0x5f) return -1; // data after the end, or out of range
            v[j] = c - 0x20;
        }
        if (got < 2) return -1;
        const size_t bytes = static_cast<size_t>(got - 1);
        if (k + bytes > max) return -1;
        out[k++] = static_cast<uint8_t>(v[0] | (v[1] << 6));
        if (bytes > 1) out[k++] = static_cast<uint8_t>((v[1] >> 2) | (v[2] << 4));
        if (bytes > 2) out[k++] = static_cast<uint8_t>((v[2] >> 4) | (v[3] << 2));
        if (bytes < 3 && i + 4 != n) return -1; // a short group ends the data
    }
    return static_cast<long>(k);
}

// ---- output ------------------------------------------------------------------------------

void ZmOut::zsendline(uint8_t c) {
    if ((c & 0x60) && (c & 0x7f) != 0x7f) {
        buf += static_cast<char>(last_ = c);
        return;
    }
    bool esc;
    switch (c) {
    case ZDLE:
    case 0x10:
    case 0x90:
    case XON:
    case XON | 0x80:
    case XOFF:
    case XOFF | 0x80:
        esc = true;
        break;
    case 0x0d:
    case 0x8d:
        esc = ctlesc || (last_ & 0x7f) == '@';
        break;
    case 0x7f:
    case 0xff:
        if (ctlesc) {
            buf += static_cast<char>(ZDLE);
            buf += static_cast<char>(last_ = c == 0x7f ? ZRUB0 : ZRUB1);
            return;
        }
        esc = false;
        break;
    default:
        esc = ctlesc;
    }
    if (esc) {
        buf += static_cast<char>(ZDLE);
        c ^= 0x40;
    }
    buf += static_cast<char>(last_ = c);
}

void ZmOut::mktab() {
    for (int c = 0; c < 256; c++) {
        uint8_t k;
        if ((c & 0x60) && (c & 0x7f) != 0x7f)
            k = 0;
        else if (c == ZDLE || (c & 0x7f) == 0x10 || (c & 0x7f) == XON || (c & 0x7f) == XOFF)
            k = 1;
        else if ((c & 0x7f) == 0x0d)
            k = ctlesc ? 1 : 2;
        else if ((c & 0x7f) == 0x7f)
            k = ctlesc ? 3 : 0;
        else
            k = ctlesc ? 1 : 0;
        esc_[c] = k;
    }
    tabfor_ = ctlesc;
}

// The escaped bytes of `p` appended to buf in one pass; the same bytes zsendline would give.
// Runs of bytes that go out as they are are copied whole.
void ZmOut::zsendrun(const uint8_t* p, size_t n) {
    if (n == 0) return;
    if (tabfor_ != static_cast<int>(ctlesc)) mktab();
    const size_t old = buf.size();
    buf.resize(old + 2 * n);
    char* const start = buf.data() + old;
    char* o = start;
    const uint8_t* const end = p + n;
    uint8_t last = last_;
    while (p != end) {
        const uint8_t* q = p;
        while (q != end && esc_[*q] == 0)
            q++;
        if (q != p) {
            std::memcpy(o, p, static_cast<size_t>(q - p));
            o += q - p;
            last = q[-1];
            p = q;
            if (p == end) break;
        }
        const uint8_t c = *p++;
        switch (esc_[c]) {
        case 2:
            if ((last & 0x7f) != '@') {
                *o++ = static_cast<char>(last = c);
                break;
            }
            [[fallthrough]];
        case 1:
            *o++ = static_cast<char>(ZDLE);
            *o++ = static_cast<char>(last = c ^ 0x40);
            break;
        default:
            *o++ = static_cast<char>(ZDLE);
            *o++ = static_cast<char>(last = c == 0x7f ? ZRUB0 : ZRUB1);
        }
    }
    last_ = last;
    buf.resize(old + static_cast<size_t>(o - start));
}

void ZmOut::zshhdr(int type, const uint8_t hdr[4]) {
    uint8_t b[5] = {static_cast<uint8_t>(type), hdr[0], hdr[1], hdr[2], hdr[3]};
    buf += "**";
    buf += static_cast<char>(ZDLE);
    buf += 'B';
    auto hex = [&](unsigned v) {
        buf += hexdigit[(v >> 4) & 15];
        buf += hexdigit[v & 15];
    };
    for (uint8_t x : b)
        hex(x);
    const uint16_t crc = crc16(0, b, 5);
    hex(crc >> 8);
    hex(crc & 0xff);
    buf += "\r\n";
    if (type != ZFIN && type != ZACK) buf += static_cast<char>(XON);
    crc32_ = false;
}

void ZmOut::zsbhdr(int type, const uint8_t hdr[4], bool use32) {
    uint8_t b[5] = {static_cast<uint8_t>(type), hdr[0], hdr[1], hdr[2], hdr[3]};
    buf += static_cast<char>(ZPAD);
    buf += static_cast<char>(ZDLE);
    if (esc8) {
        const uint16_t crc = crc16(0, b, 5);
        const uint8_t six[6] = {hdr[0],
                                hdr[1],
                                hdr[2],
                                hdr[3],
                                static_cast<uint8_t>(crc >> 8),
                                static_cast<uint8_t>(crc)};
        buf += static_cast<char>(ZARM);
        buf += static_cast<char>(0x20 + type);
        buf += conv34(six, 6);
        crc32_ = false;
        return;
    }
    buf += static_cast<char>(use32 ? ZBIN32 : ZBIN);
    for (uint8_t x : b)
        zsendline(x);
    if (use32) {
        uint32_t crc = crc32(0, b, 5);
        for (int i = 0; i < 4; i++, crc >>= 8)
            zsendline(static_cast<uint8_t>(crc));
    } else {
        const uint16_t crc = crc16(0, b, 5);
        zsendline(static_cast<uint8_t>(crc >> 8));
        zsendline(static_cast<uint8_t>(crc));
    }
    crc32_ = use32;
}

void ZmOut::zsdata(const uint8_t* p, size_t n, int frameend) {
    const uint8_t fe = static_cast<uint8_t>(frameend);
    if (esc8) {
        buf += conv34(p, n);
        buf += static_cast<char>(ZDLE);
        buf += static_cast<char>(fe);
        const uint16_t crc = crc16(crc16(0, p, n), &fe, 1);
        const uint8_t c2[2] = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
        buf += conv34(c2, 2).substr(0, 3);
        buf += '\r';
    } else if (crc32_) {
        zsendrun(p, n);
        const uint32_t crc0 = ~crc32(0, p, n);
        uint32_t crc = ~upd32(crc0, fe);
        buf += static_cast<char>(ZDLE);
        buf += static_cast<char>(fe);
        for (int i = 0; i < 4; i++, crc >>= 8)
            zsendline(static_cast<uint8_t>(crc));
    } else {
        zsendrun(p, n);
        uint16_t crc = upd16(crc16(0, p, n), fe);
        buf += static_cast<char>(ZDLE);
        buf += static_cast<char>(fe);
        zsendline(static_cast<uint8_t>(crc >> 8));
        zsendline(static_cast<uint8_t>(crc));
    }
    if (frameend == ZCRCW || frameend == ZCRCN) buf += static_cast<char>(XON);
}

// ---- input -------------------------------------------------------------------------------

int ZmIn::zdlread() {
    int c;
    for (;;) {
        c = rd();
        if (c < 0) return c;
        if (c & 0x60) {
            if (esc8 && c == 0x7f) continue;
            return c;
        }
        if (c == ZDLE) break;
        if ((c & 0x7f) == XON || (c & 0x7f) == XOFF) continue;
        if (ctlesc) continue;
        return c;
    }
    for (;;) {
        c = rd();
        if (c < 0) return c;
        if (c == CAN) {
            int n = 1; // the ZDLE counts as the first
            while (c == CAN && ++n < 5) {
                c = rd();
                if (c < 0) return c;
            }
            if (n >= 5) return GOTCAN;
        }
        switch (c) {
        case ZCRCE:
        case ZCRCG:
        case ZCRCQ:
        case ZCRCW:
        case ZCRCN:
            return c | GOTOR;
        case ZRUB0:
            return 0x7f;
        case ZRUB1:
            return 0xff;
        case XON:
        case XON | 0x80:
        case XOFF:
        case XOFF | 0x80:
            continue;
        default:
            if (ctlesc && !(c & 0x60)) continue;
            if (esc8 && c == 0x7f) continue;
            if ((c & 0x60) == 0x40) return c ^ 0x40;
            return ERROR;
        }
    }
}

// A byte for the header hunt: parity stripped, XON/XOFF dropped, control bytes dropped when
// the peer escapes them.
namespace {
int noxrd7(ZmIn& in, int (*rd)(ZmIn&), bool ctlesc) {
    for (;;) {
        int c = rd(in);
        if (c < 0) return c;
        c &= 0x7f;
        if (c == XON || c == XOFF) continue;
        if (ctlesc && c != ZDLE && !(c & 0x60) && c != '\r' && c != '\n') continue;
        return c;
    }
}
} // namespace

int ZmIn::zgethex() {
    int v = 0;
    for (int i = 0; i < 2; i++) {
        int c = noxrd7(
            *this, [](ZmIn& z) { return z.rd(); }, ctlesc);
        if (c < 0) return c;
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return ERROR;
        v = v << 4 | d;
    }
    return v;
}

int ZmIn::zrhhdr() {
    uint8_t b[7];
    for (auto& x : b) {
        int c = zgethex();
        if (c < 0) return c;
        x = static_cast<uint8_t>(c);
    }
    if (crc16(0, b, 7) != 0) return ERROR;
    for (int i = 0; i < 4; i++)
        hdr[i] = b[i + 1];
    // The CR LF (and the XON) after a hex header: take the CR and one more byte if it comes.
    int c = src_.get(1);
    if (c >= 0 && (c & 0x7f) == '\r') src_.get(1);
    return b[0];
}

int ZmIn::zrbhdr(bool use32) {
    uint8_t b[9];
    const int n = use32 ? 9 : 7;
    for (int i = 0; i < n; i++) {
        int c = zdlread();
        if (c < 0) return c;
        if (c & ~0xff) return c == GOTCAN ? ZCAN : ERROR;
        b[i] = static_cast<uint8_t>(c);
    }
    if (use32) {
        const uint32_t want = rclhdr(b + 5);
        if (crc32(0, b, 5) != want) return ERROR;
    } else if (crc16(0, b, 7) != 0) {
        return ERROR;
    }
    for (int i = 0; i < 4; i++)
        hdr[i] = b[i + 1];
    return b[0];
}

int ZmIn::zrahdr() {
    int t = rd();
    if (t < 0) return t;
    t &= 0x7f;
    if (t < 0x20 || t > 0x20 + ZSTDERR) return ERROR;
    uint8_t s[8], six[6];
    for (auto& x : s) {
        int c = rd();
        if (c < 0) return c;
        x = static_cast<uint8_t>(c);
    }
    if (conv43(s, 8, six, 6) != 6) return ERROR;
    uint8_t b[7] = {static_cast<uint8_t>(t - 0x20), six[0], six[1], six[2], six[3], six[4], six[5]};
    if (crc16(0, b, 7) != 0) return ERROR;
    for (int i = 0; i < 4; i++)
        hdr[i] = six[i];
    return b[0];
}

int ZmIn::zgethdr() {
    long n = allowance;
    frameind = 0;
    auto rd7 = [](ZmIn& z) { return z.rd(); };
    for (;;) {
        int cancount = 5;
        int c = rd();
        for (;;) { // CAN counting
            if (c != CAN) break;
            if (--cancount <= 0) return ZCAN;
            c = src_.get(1);
            if (c == TIMEOUT) {
                c = rd();
                continue;
            }
            if (c == ZCRCW) {
                c = ERROR;
                break;
            }
        }
        if (c < 0) return c;
        if ((c & 0x7f) != ZPAD) {
            if ((c & 0x7f) != XON && --n <= 0) return ERROR;
            continue;
        }
        // ZPAD seen: more pads, then ZDLE and the format letter.
        do
            c = noxrd7(*this, rd7, ctlesc);
        while (c == ZPAD);
        if (c < 0) return c;
        if (c != ZDLE) {
            if (--n <= 0) return ERROR;
            continue;
        }
        c = noxrd7(*this, rd7, ctlesc);
        if (c < 0) return c;
        int t;
        switch (c) {
        case ZBIN:
            t = zrbhdr(false);
            break;
        case ZBIN32:
            t = zrbhdr(true);
            break;
        case ZHEX:
            t = zrhhdr();
            break;
        case ZARM:
            t = zrahdr();
            break;
        default:
            if (--n <= 0) return ERROR;
            continue;
        }
        if (t >= 0) frameind = c;
        if (t > ZSTDERR) return ERROR; // unknown frame type: treat as garbage
        return t;
    }
}

int ZmIn::zrdarm(uint8_t* p, size_t max) {
    std::string s;
    int c;
    for (;;) {
        c = rd();
        if (c < 0) return c;
        if (c == ZDLE) break;
        if (c == '\r' || c == '\n' || c == XON || c == XOFF) continue;
        if (s.size() >= (max + 2) / 3 * 4) return ERROR;
        s += static_cast<char>(c);
    }
    const int fe = rd();
    if (fe < 0) return fe;
    if (fe != ZCRCE && fe != ZCRCG && fe != ZCRCQ && fe != ZCRCW && fe != ZCRCN) {
        return fe == CAN ? ZCAN : ERROR;
    }
    uint8_t cs[4] = {0, 0, 0, 'p'}, crc[2];
    for (int i = 0; i < 3; i++) {
        int k = rd();
        if (k < 0) return k;
        cs[i] = static_cast<uint8_t>(k);
    }
    const long got = conv43(reinterpret_cast<const uint8_t*>(s.data()), s.size(), p, max);
    if (got < 0 || conv43(cs, 4, crc, 2) != 2) return ERROR;
    const uint8_t f = static_cast<uint8_t>(fe);
    const uint16_t want = crc16(crc16(0, p, static_cast<size_t>(got)), &f, 1);
    if (want != (crc[0] << 8 | crc[1])) return ERROR;
    rxcount = static_cast<size_t>(got);
    return fe | GOTOR;
}

namespace {
// Bytes the subpacket reader must hand to zdlread: ZDLE, the flow-control bytes it drops, and
// (second table, when the peer escapes every control byte) all raw control bytes, which are
// noise then. Every other byte stands for itself.
constexpr std::array<std::array<bool, 256>, 2> mkstop() {
    std::array<std::array<bool, 256>, 2> t{};
    for (int c = 0; c < 256; c++) {
        const bool ctl = !(c & 0x60);
        const bool flow = (c & 0x7f) == XON || (c & 0x7f) == XOFF;
        t[0][c] = c == ZDLE || (ctl && flow);
        t[1][c] = c == ZDLE || ctl;
    }
    return t;
}
constexpr auto plainstop = mkstop();
} // namespace

int ZmIn::zrdata(uint8_t* p, size_t max) {
    rxcount = 0;
    if (frameind == ZARM) return zrdarm(p, max);
    const bool use32 = frameind == ZBIN32;
    const auto& stop = plainstop[ctlesc ? 1 : 0];
    size_t k = 0;
    for (;;) {
        // The run of plain bytes the source already holds is copied in one go; zdlread takes
        // the byte that ends it (an escape, a flow-control byte, or a refill of the source).
        if (!esc8) {
            const uint8_t* s = src_.p_;
            const uint8_t* lim = s + std::min(static_cast<size_t>(src_.e_ - s), max - k);
            const uint8_t* q = s;
            while (q != lim && !stop[*q])
                q++;
            std::copy(s, q, p + k);
            k += static_cast<size_t>(q - s);
            src_.p_ = q;
        }
        int c = zdlread();
        if (c < 0) return c;
        if (c & ~0xff) {
            if (c == GOTCAN) return ZCAN;
            const uint8_t fe = static_cast<uint8_t>(c);
            uint8_t cb[4];
            const int nc = use32 ? 4 : 2;
            for (int i = 0; i < nc; i++) {
                int d = zdlread();
                if (d < 0) return d;
                if (d & ~0xff) return d == GOTCAN ? ZCAN : ERROR;
                cb[i] = static_cast<uint8_t>(d);
            }
            if (use32) {
                if (crc32(crc32(0, p, k), &fe, 1) != rclhdr(cb)) return ERROR;
            } else if (crc16(crc16(crc16(0, p, k), &fe, 1), cb, 2) != 0) {
                return ERROR;
            }
            rxcount = k;
            return c;
        }
        if (k >= max) return ERROR;
        p[k++] = static_cast<uint8_t>(c);
    }
}

} // namespace zm
