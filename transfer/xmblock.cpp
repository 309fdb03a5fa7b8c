#include "transfer/xmblock.h"

#include <cstring>

namespace {
// The CRC of each byte value alone, so a block costs one look-up per byte rather than eight
// shifts: on a fast line the sender computes it for every 1K block while the receiver waits.
struct CrcTable {
    uint16_t v[256];
    constexpr CrcTable() : v() {
        for (int i = 0; i < 256; i++) {
            uint16_t crc = static_cast<uint16_t>(i << 8);
            for (int b = 0; b < 8; b++)
                crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
            v[i] = crc;
        }
    }
};
constexpr CrcTable crctab;
} // namespace

uint16_t mdm7crc(const uint8_t* p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; i++)
        crc = static_cast<uint16_t>((crc << 8) ^ crctab.v[(crc >> 8) ^ p[i]]);
    return crc;
}

namespace {
uint8_t sum8(const uint8_t* p, int n) {
    unsigned s = 0;
    for (int i = 0; i < n; i++)
        s += p[i];
    return static_cast<uint8_t>(s);
}
} // namespace

size_t xmframe(uint8_t* out, int blk, const uint8_t* data, int n, bool crc) {
    size_t k = 0;
    out[k++] = n == xm::BIG ? xm::STX : xm::SOH;
    out[k++] = static_cast<uint8_t>(blk);
    out[k++] = static_cast<uint8_t>(255 - (blk & 0xff));
    std::memcpy(out + k, data, static_cast<size_t>(n));
    k += static_cast<size_t>(n);
    if (crc) {
        const uint16_t c = mdm7crc(data, static_cast<size_t>(n));
        out[k++] = static_cast<uint8_t>(c >> 8);
        out[k++] = static_cast<uint8_t>(c);
    } else {
        out[k++] = sum8(data, n);
    }
    return k;
}

int xmcheck(const uint8_t* rest, int n, bool crc) {
    if ((rest[0] + rest[1]) != 255) return -1;
    const uint8_t* d = rest + 2;
    if (crc) {
        const uint16_t c = mdm7crc(d, static_cast<size_t>(n));
        if (d[n] != (c >> 8) || d[n + 1] != (c & 0xff)) return -1;
    } else if (d[n] != sum8(d, n)) {
        return -1;
    }
    return rest[0];
}

YHeader parseyhdr(const uint8_t* data, int n) {
    YHeader h;
    if (n <= 0 || data[0] == 0) {
        h.end = true;
        return h;
    }
    const size_t len = strnlen(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
    h.name.assign(reinterpret_cast<const char*>(data), len);
    long size = 0;
    int digits = 0;
    for (size_t i = len + 1; i < static_cast<size_t>(n); i++) {
        const uint8_t c = data[i];
        if (c == ' ' || c == 0) break;
        if (c < '0' || c > '9' || size > (0x7fffffffffffffffL - 9) / 10) return h;
        size = size * 10 + (c - '0');
        digits++;
    }
    if (digits > 0) h.size = size;
    return h;
}

int packyhdr(const std::string& name, long size, uint8_t* out) {
    const std::string sz = std::to_string(size < 0 ? 0 : size);
    const size_t need = name.size() + 1 + sz.size() + 1;
    if (name.empty() || name.find('\0') != std::string::npos || need > xm::BIG) return 0;
    const int n = need <= xm::SMALL ? xm::SMALL : xm::BIG;
    std::memset(out, 0, static_cast<size_t>(n));
    std::memcpy(out, name.data(), name.size());
    std::memcpy(out + name.size() + 1, sz.data(), sz.size());
    return n;
}
