#include "transfer/kermpkt.h"

#include <algorithm>

namespace {
bool prefixchar(uint8_t c) {
    return (c >= 0x21 && c <= 0x3E) || (c >= 0x60 && c <= 0x7E);
}
} // namespace

std::string spar(const KParams& p) {
    std::string s;
    s += static_cast<char>(kp::tochar(p.maxl));
    s += static_cast<char>(kp::tochar(p.time));
    s += static_cast<char>(kp::tochar(p.npad));
    s += static_cast<char>(p.padc ^ 0x40);
    s += static_cast<char>(kp::tochar(p.eol));
    s += static_cast<char>(p.qctl);
    s += static_cast<char>(p.qbin);
    s += static_cast<char>(p.chkt);
    s += static_cast<char>(p.rept);
    if (p.capas) {
        s += static_cast<char>(kp::tochar(p.capas & 0x3e));
        s += static_cast<char>(kp::tochar(p.window));
        s += static_cast<char>(kp::tochar(p.maxlx / 95));
        s += static_cast<char>(kp::tochar(p.maxlx % 95));
    }
    return s;
}

KParams rpar(const uint8_t* d, int len) {
    KParams p;
    p.rept = ' ';
    if (len > 0) {
        int m = kp::unchar(d[0]);
        p.maxl = m < 10 ? 80 : m > 94 ? 94 : m;
    }
    if (len > 1) {
        int t = kp::unchar(d[1]);
        p.time = t <= 0 || t > 94 ? 10 : t;
    }
    if (len > 2) {
        int n = kp::unchar(d[2]);
        p.npad = n < 0 || n > 94 ? 0 : n;
    }
    if (len > 3) p.padc = d[3] ^ 0x40;
    if (len > 4) {
        int e = kp::unchar(d[4]);
        p.eol = e <= 0 || e >= 32 ? 13 : static_cast<uint8_t>(e);
    }
    if (len > 5) p.qctl = prefixchar(d[5]) ? d[5] : '#';
    p.qbin = len > 6 ? d[6] : 'N';
    p.chkt = len > 7 ? d[7] : '1';
    if (len > 8) p.rept = d[8];
    // The capability mask, continued while its low bit is set; only the first is read.
    int at = 9;
    if (at < len) {
        const int c = kp::unchar(d[at]);
        p.capas = c < 0 || c > 63 ? 0 : c & 0x3e;
        while (at < len && (kp::unchar(d[at]) & 1))
            at++;
        at++;
    }
    if (at < len) {
        const int w = kp::unchar(d[at]);
        p.window = w < 1 || w > 31 ? 1 : w;
    }
    if (at + 2 < len) {
        const int a = kp::unchar(d[at + 1]), b = kp::unchar(d[at + 2]);
        const int m = a * 95 + b;
        if (a >= 0 && a < 95 && b >= 0 && b < 95) p.maxlx = m < 10 ? 500 : m;
    }
    return p;
}

int kroom(const KParams& peer, int capas, int bct) {
    if (capas & kp::CAP_LONG) return peer.maxlx - 7 - bct; // the long header and the check
    return (peer.maxl < kp::MAXDATA + 3 ? peer.maxl - 3 : kp::MAXDATA) - (bct - 1);
}

KCoding agree(const KParams& mine, const KParams& peer) {
    KCoding k;
    k.qctl = '#'; // the prefix this side decodes is its own; both sides use '#'
    if (peer.qctl != '#') k.qctl = peer.qctl;
    uint8_t q = 0;
    if (mine.qbin == 'Y' && prefixchar(peer.qbin))
        q = peer.qbin;
    else if (peer.qbin == 'Y' && prefixchar(mine.qbin))
        q = mine.qbin;
    else if (prefixchar(mine.qbin) && mine.qbin == peer.qbin)
        q = mine.qbin;
    if (q == k.qctl) q = 0;
    k.qbin = q;
    uint8_t r = prefixchar(mine.rept) && mine.rept == peer.rept ? mine.rept : 0;
    if (r == k.qctl || (r && r == k.qbin)) r = 0;
    k.rept = r;
    return k;
}

void kencode(uint8_t c, const KCoding& k, std::string& out) {
    if (!k.image && c == '\n') {
        out += static_cast<char>(k.qctl);
        out += 'M';
        out += static_cast<char>(k.qctl);
        out += 'J';
        return;
    }
    if (k.qbin && (c & 0x80)) {
        out += static_cast<char>(k.qbin);
        c &= 0x7f;
    }
    const uint8_t low = c & 0x7f;
    if (low < 32 || low == 127) {
        out += static_cast<char>(k.qctl);
        c ^= 64;
    } else if (low == k.qctl || (k.qbin && low == k.qbin) || (k.rept && low == k.rept)) {
        out += static_cast<char>(k.qctl);
    }
    out += static_cast<char>(c);
}

bool kdecode(const uint8_t* p, int n, const KCoding& k, std::vector<uint8_t>& out, size_t max) {
    for (int i = 0; i < n;) {
        int count = 1;
        uint8_t c = p[i++];
        if (k.rept && c == k.rept) {
            if (i >= n) return false;
            count = kp::unchar(p[i++]);
            if (count < 1 || count > 94 || i >= n) return false;
            c = p[i++];
        }
        uint8_t hi = 0;
        if (k.qbin && c == k.qbin) {
            if (i >= n) return false;
            hi = 0x80;
            c = p[i++];
        }
        if (c == k.qctl) {
            if (i >= n) return false;
            c = p[i++];
            const uint8_t low = c & 0x7f;
            if (low >= 0x3f && low <= 0x5f) c ^= 64;
        }
        c |= hi;
        if (!k.image && c == '\r') continue;
        if (out.size() + static_cast<size_t>(count) > max) return false;
        out.insert(out.end(), static_cast<size_t>(count), c);
    }
    return true;
}

uint8_t kchk1(const uint8_t* p, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; i++)
        s += p[i];
    return kp::tochar(static_cast<int>((s + ((s & 0xC0) >> 6)) & 63));
}

uint16_t kcrc16(const uint8_t* p, size_t n) {
    unsigned crc = 0;
    for (size_t i = 0; i < n; i++) {
        const unsigned c = p[i];
        unsigned q = (crc ^ c) & 0x0f;
        crc = (crc >> 4) ^ (q * 0x1081);
        q = (crc ^ (c >> 4)) & 0x0f;
        crc = (crc >> 4) ^ (q * 0x1081);
    }
    return static_cast<uint16_t>(crc);
}

std::string kcheck(const uint8_t* p, size_t n, int bct) {
    std::string s;
    if (bct == 2) {
        unsigned sum = 0;
        for (size_t i = 0; i < n; i++)
            sum += p[i];
        s += static_cast<char>(kp::tochar(static_cast<int>((sum >> 6) & 63)));
        s += static_cast<char>(kp::tochar(static_cast<int>(sum & 63)));
    } else if (bct == 3) {
        const unsigned crc = kcrc16(p, n);
        s += static_cast<char>(kp::tochar(static_cast<int>((crc >> 12) & 0x0f)));
        s += static_cast<char>(kp::tochar(static_cast<int>((crc >> 6) & 63)));
        s += static_cast<char>(kp::tochar(static_cast<int>(crc & 63)));
    } else {
        s += static_cast<char>(kchk1(p, n));
    }
    return s;
}

int agreechk(const KParams& mine, const KParams& peer) {
    if (mine.chkt == peer.chkt && (mine.chkt == '2' || mine.chkt == '3')) return mine.chkt - '0';
    return 1;
}

std::string kpack(int seq, char type, const std::string& data, uint8_t eol, int bct) {
    std::string s;
    s += static_cast<char>(kp::MARK);
    const int n = static_cast<int>(data.size());
    if (n + 2 + bct > 94) {
        const int lx = n + bct;
        s += static_cast<char>(kp::tochar(0));
        s += static_cast<char>(kp::tochar(seq & 63));
        s += type;
        s += static_cast<char>(kp::tochar(lx / 95));
        s += static_cast<char>(kp::tochar(lx % 95));
        s += static_cast<char>(kchk1(reinterpret_cast<const uint8_t*>(s.data()) + 1, 5));
    } else {
        s += static_cast<char>(kp::tochar(n + 2 + bct));
        s += static_cast<char>(kp::tochar(seq & 63));
        s += type;
    }
    s += data;
    s += kcheck(reinterpret_cast<const uint8_t*>(s.data()) + 1, s.size() - 1, bct);
    s += static_cast<char>(eol);
    return s;
}

namespace {
// What both framings share once `used` characters are there: a MARK inside means the packet was
// cut short (`used` then stops before it); else the check over LEN..DATA, the last `bct` of
// them, and the data from `head`.
KPacket kbody(const uint8_t* p, int& used, int head, int bct) {
    KPacket k;
    for (int i = 1; i < used; i++)
        if (p[i] == kp::MARK) {
            used = i;
            return k;
        }
    const int body = used - bct;
    const std::string sent(reinterpret_cast<const char*>(p) + body, static_cast<size_t>(bct));
    const int seq = kp::unchar(p[1]);
    if (kcheck(p, static_cast<size_t>(body), bct) != sent || seq < 0 || seq > 63) return k;
    k.seq = seq;
    k.type = static_cast<char>(p[2]);
    k.data.assign(reinterpret_cast<const char*>(p) + head, static_cast<size_t>(body - head));
    k.ok = true;
    return k;
}

KPacket kparselong(const uint8_t* p, int n, int& used, int bct, int maxlong) {
    KPacket k;
    if (n < 6) return k;
    const int a = kp::unchar(p[3]), b = kp::unchar(p[4]);
    const int lx = a * 95 + b;
    // A peer may count the offered length without the header or the check, so a packet a
    // little longer than offered is taken; the protocol's limit bounds it.
    if (a < 0 || a > 94 || b < 0 || b > 94 || lx < bct ||
        lx > std::min(maxlong + 100, kp::MAXLONG) || kchk1(p, 5) != p[5]) {
        used = 1;
        return k;
    }
    if (n < 6 + lx) return k;
    used = 6 + lx;
    k = kbody(p, used, 6, bct);
    if (!k.ok && kp::unchar(p[1]) >= 0 && kp::unchar(p[1]) <= 63) {
        k.head = true;
        k.seq = kp::unchar(p[1]);
        k.type = static_cast<char>(p[2]);
    }
    return k;
}
} // namespace

KPacket kparse(const uint8_t* p, int n, int& used, int bct, int maxlong) {
    KPacket k;
    used = 0;
    if (n < 1) return k;
    if (bct < 1 || bct > 3) bct = 1;
    const int len = kp::unchar(p[0] & 0x7f);
    if (len == 0 && maxlong > 0) return kparselong(p, n, used, bct, maxlong);
    // C-Kermit with the 3-character check fills a packet to LEN 95 (DEL) for a MAXL of 94.
    if (len < 2 + bct || len > (bct == 3 ? 95 : 94)) {
        used = 1; // not a packet: go on hunting for the next MARK
        return k;
    }
    if (n < 1 + len) return k;
    used = 1 + len;
    return kbody(p, used, 3, bct);
}
