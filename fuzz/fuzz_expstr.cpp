// Escape notation and the wildcard pattern matcher on hostile text: the first byte picks the
// expstr mode; the rest, split at the first zero byte, is the pattern and the name for smatch
// and the text for expstr. Nothing may be read or written out of bounds.
#include "core/os.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int mode = data[0] % 3;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t z = rest.find('\0');
    std::string pattern = rest.substr(0, z);
    std::string name = z == std::string::npos ? pattern : rest.substr(z + 1);
    name = name.substr(0, name.find('\0'));

    uint8_t out[EXPSTRMAX + 2];
    for (const std::string* s : {&pattern, &name}) {
        const char* end = expstr(s->c_str(), out, mode);
        if (end && (end < s->c_str() || end > s->c_str() + s->size())) __builtin_trap();
        const char* p = s->c_str();
        while (*p)
            if (expch(&p) < 0) break;
    }
    smatch(pattern.c_str(), name.c_str());
    smatch(name.c_str(), pattern.c_str());
    return 0;
}
