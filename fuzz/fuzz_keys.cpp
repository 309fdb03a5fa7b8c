// Feeds arbitrary console key strings and console bytes to the key-sequence matcher, and
// arbitrary text to the key-name parser. The input is split at the first two NUL bytes: key
// strings (separated by newlines), then the bytes typed, then a key name. Console output goes
// to a discarding writer; the sanitizers and the checks below judge.
#include "ports/com.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/keyboard.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setconswriter([](const char*, size_t) {});
    std::string in(reinterpret_cast<const char*>(data), size);
    size_t a = in.find('\0');
    std::string caps = in.substr(0, a);
    std::string typed = a == std::string::npos ? "" : in.substr(a + 1);
    size_t b = typed.find('\0');
    std::string name = b == std::string::npos ? "" : typed.substr(b + 1);
    if (b != std::string::npos) typed.resize(b);

    keyreset();
    trinit(itrans, iqueue);
    qinit(iqueue, 128);
    // Each line of the first part is a key string for the next capability in the table.
    size_t pos = 0;
    for (int i = 0; i < NKEYCAPS && pos <= caps.size(); i++) {
        size_t nl = caps.find('\n', pos);
        std::string s = caps.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        setrealkey(keycaps[i].name, s.c_str());
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    addkeystrings();
    // Every byte typed comes out again, as itself or inside a recognised key; nothing is lost
    // while the queue is drained after each byte.
    size_t outcount = 0;
    for (unsigned char c : typed) {
        trans(c, itrans);
        for (int k; (k = unqchar(iqueue)) >= 0;) {
            if (k < 0 || k >= NKEYS) std::abort();
            outcount++;
        }
    }
    trflush(itrans);
    while (unqchar(iqueue) >= 0)
        outcount++;
    if (outcount > typed.size()) std::abort();

    int code = 0;
    if (const char* end = setch2(name.c_str(), "Key", &code)) {
        if (end < name.c_str() || end > name.c_str() + name.size()) std::abort();
        if (code < -1 || code >= NKEYS) std::abort();
    }
    setconswriter(nullptr);
    return 0;
}
