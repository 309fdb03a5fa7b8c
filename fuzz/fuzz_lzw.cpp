// The LZW expander under arbitrary streams and arbitrary packet splits, with its tables left
// dirty by a previous run (one decoder serves every input), a valid header in front of half of
// the inputs so the code paths past it are reached, and a size limit now and then.
#include "transfer/lzw.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LzwDecoder d;
    static LzwCoder c;
    if (size < 2) return 0;
    const uint8_t ctl = data[0], split = data[1];
    std::string stream;
    if (ctl & 1) stream.assign("\x1c\x92\x8c", 3);
    stream.append(reinterpret_cast<const char*>(data + 2), size - 2);
    const long limit = (ctl & 2) ? static_cast<long>(split) * 64 : -1;
    long got = 0;
    d.start([&](const uint8_t*, size_t n) { return (got += static_cast<long>(n)), true; }, limit);
    size_t piece = 1 + split % 131;
    auto st = LzwDecoder::OK;
    for (size_t at = 0; at < stream.size() && st == LzwDecoder::OK; at += piece)
        st = d.push(reinterpret_cast<const uint8_t*>(stream.data() + at),
                    std::min(piece, stream.size() - at));
    if (st == LzwDecoder::OK) st = d.finish();
    if (limit >= 0 && got > limit) abort();
    if (st == LzwDecoder::OK && got != d.decoded()) abort();
    // A round trip of the same bytes must always come back exact.
    if (ctl & 4) {
        c.start();
        c.put(data, size);
        c.finish();
        std::string z(c.avail(), '\0');
        c.take(reinterpret_cast<uint8_t*>(z.data()), z.size());
        std::string back;
        d.start([&](const uint8_t* p, size_t n) {
            back.append(reinterpret_cast<const char*>(p), n);
            return true;
        });
        for (size_t at = 0; at < z.size(); at += piece)
            if (d.push(reinterpret_cast<const uint8_t*>(z.data() + at),
                       std::min(piece, z.size() - at)) != LzwDecoder::OK)
                abort();
        if (d.finish() != LzwDecoder::OK) abort();
        if (back != std::string(reinterpret_cast<const char*>(data), size)) abort();
    }
    return 0;
}
