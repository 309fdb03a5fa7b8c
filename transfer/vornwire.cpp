#include "transfer/vornwire.h"

#include <cstring>

uint16_t ccittcrc(uint16_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        const unsigned c = p[i];
        crc = static_cast<uint16_t>((crc >> 4) ^ (((crc ^ c) & 15) * 0x1081));
        crc = static_cast<uint16_t>((crc >> 4) ^ (((crc ^ (c >> 4)) & 15) * 0x1081));
    }
    return crc;
}

size_t framelen(Variant v, int n) {
    switch (v) {
    case Variant::OldVorn:
        return static_cast<size_t>(n) + 2;
    case Variant::Vorn5:
        return static_cast<size_t>(n) + 3;
    case Variant::VornCRC:
        break;
    }
    return static_cast<size_t>(n) + 5;
}

size_t frameblk(Variant v, uint8_t type, const uint8_t* data, int n, int count, int seq,
                uint8_t* out) {
    size_t k = 0;
    out[k++] = type;
    if (v == Variant::OldVorn) {
        uint8_t x = 0;
        for (int i = 0; i < n; i++)
            x ^= out[k++] = data[i];
        out[k++] = x;
    } else if (v == Variant::Vorn5) {
        uint8_t x = out[k++] = static_cast<uint8_t>(count);
        for (int i = 0; i < n; i++)
            x ^= out[k++] = data[i];
        out[k++] = x;
    } else {
        out[k++] = static_cast<uint8_t>(count);
        out[k++] = static_cast<uint8_t>(seq & 127);
        std::memcpy(out + k, data, static_cast<size_t>(n));
        k += static_cast<size_t>(n);
        uint16_t crc = static_cast<uint16_t>(~ccittcrc(0, out + 1, static_cast<size_t>(n) + 2));
        out[k++] = static_cast<uint8_t>(crc & 0xff);
        out[k++] = static_cast<uint8_t>(crc >> 8);
    }
    return k;
}

int checkblk(Variant v, const uint8_t* after, int n, int* seq) {
    int count;
    if (v == Variant::OldVorn) {
        uint8_t x = 0;
        for (int i = 0; i <= n; i++)
            x ^= after[i];
        return x == 0 ? n : 0;
    }
    if (v == Variant::Vorn5) {
        uint8_t x = 0;
        for (int i = 0; i <= n + 1; i++)
            x ^= after[i];
        if (x != 0) return 0;
        count = after[0];
    } else {
        uint16_t got = static_cast<uint16_t>(after[n + 2] | (after[n + 3] << 8));
        if (static_cast<uint16_t>(~got) != ccittcrc(0, after, static_cast<size_t>(n) + 2)) return 0;
        count = after[0];
        if (seq) *seq = after[1];
    }
    return count >= 1 && count <= n ? count : 0;
}

static void put32le(uint8_t* p, long v) {
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u), p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16), p[3] = static_cast<uint8_t>(u >> 24);
}
static long get32le(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
}

bool packheader(Variant v, const VornHeader& h, uint8_t* data) {
    if (v == Variant::OldVorn) {
        std::memset(data, ' ', vorn::OLDHDRN);
        data[0] = 0;
        const std::string& nm = h.name;
        size_t dot = nm.rfind('.');
        std::string base = dot == std::string::npos ? nm : nm.substr(0, dot);
        std::string ext = dot == std::string::npos ? "" : nm.substr(dot + 1);
        if (base.size() > 8 || ext.size() > 3 || base.empty()) return false;
        for (size_t i = 0; i < base.size(); i++)
            data[1 + i] = static_cast<uint8_t>(toupper(static_cast<unsigned char>(base[i])));
        for (size_t i = 0; i < ext.size(); i++)
            data[9 + i] = static_cast<uint8_t>(toupper(static_cast<unsigned char>(ext[i])));
        return true;
    }
    std::memset(data, 0, vorn::DATAN);
    if (h.name.size() > static_cast<size_t>(vorn::NAMELEN) || h.name.empty()) return false;
    data[0] = static_cast<uint8_t>(h.machine);
    std::memcpy(data + 1, h.name.data(), h.name.size());
    data[16] = static_cast<uint8_t>(h.mode & 0xff);
    data[17] = static_cast<uint8_t>((h.mode >> 8) & 0xff);
    if (v == Variant::VornCRC) {
        data[18] = 2;
        put32le(data + 27, h.size < 0 ? 0 : h.size);
        data[31] = static_cast<uint8_t>(h.flags);
    }
    return true;
}

bool parseheader(Variant v, const uint8_t* data, int count, VornHeader& h) {
    h = VornHeader{};
    if (v == Variant::OldVorn) {
        std::string base, ext;
        for (int i = 1; i <= 8 && data[i] != ' ' && data[i] != 0; i++)
            base += static_cast<char>(data[i]);
        for (int i = 9; i <= 11 && data[i] != ' ' && data[i] != 0; i++)
            ext += static_cast<char>(data[i]);
        h.name = ext.empty() ? base : base + "." + ext;
        h.machine = 999;
        return true;
    }
    if (count != (v == Variant::VornCRC ? vorn::CRCHDRCOUNT : vorn::V5HDRCOUNT)) return false;
    h.machine = data[0];
    size_t len = 0; // never past the 14-byte field, whatever offset 15 holds
    while (len < static_cast<size_t>(vorn::NAMELEN) && data[1 + len] != 0)
        len++;
    h.name.assign(reinterpret_cast<const char*>(data + 1), len);
    h.mode = data[16] | (data[17] << 8);
    if (v == Variant::VornCRC) {
        h.version = data[18];
        if (h.version >= 1) h.size = get32le(data + 27);
        h.flags = h.version >= 2 ? data[31] : 0;
    }
    return true;
}

void packk(const VornKblock& k, uint8_t data[vorn::KN]) {
    std::memset(data, 0, vorn::KN);
    data[0] = static_cast<uint8_t>(k.machine);
    data[9] = k.restart ? 1 : 0;
    put32le(data + 10, k.offset);
    data[14] = static_cast<uint8_t>(k.options & 0xff);
    data[15] = static_cast<uint8_t>((k.options >> 8) & 0xff);
}

bool parsek(const uint8_t data[vorn::KN], int count, VornKblock& k) {
    if (count != vorn::KCOUNT) return false;
    k.machine = data[0];
    k.restart = data[9] & 1;
    k.offset = get32le(data + 10);
    k.options = data[14] | (data[15] << 8);
    return true;
}
