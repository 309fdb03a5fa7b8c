// Help viewer under hostile help files: the fuzzer's bytes become vorn.hlp, vorn.hdx and the
// keys typed (links followed, pages turned, questions asked). Nothing may read or write out of
// bounds or loop without end, whatever the offsets, lines and links say.
#include "config/help.h"
#include "core/start.h"
#include "screen/display.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string hlp, hdx, typed;
size_t at = 0;
int steps = 0;

int fuzzkey() {
    // Each input gets a bounded number of keys; then Esc, then nothing.
    if (++steps > 400) return -1;
    if (at >= typed.size()) return steps > 395 ? -1 : 27;
    unsigned char c = static_cast<unsigned char>(typed[at++]);
    static const int special[] = {13, 27, 9, 8, 276, 277, 278, 279, 257, '?', ' ', 301};
    return c >= 0xf0 ? special[(c - 0xf0) % 12] : c;
}

void put(const std::string& path, const std::string& data) {
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/vorn-fuzz-help-XXXXXX";
    if (!mkdtemp(name)) return 0;
    hlp = std::string(name) + "/vorn.hlp";
    hdx = std::string(name) + "/vorn.hdx";
    static std::string dir = name;
    atexit([] {
        unlink(hlp.c_str());
        unlink(hdx.c_str());
        rmdir(dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (hlp.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string in(reinterpret_cast<const char*>(data), size);
    // Parts separated by NUL: help text, index, keys. Short inputs reuse the text as the index.
    size_t a = in.find('\0');
    std::string text = in.substr(0, a);
    std::string rest = a == std::string::npos ? text : in.substr(a + 1);
    size_t b = rest.find('\0');
    typed = b == std::string::npos ? rest : rest.substr(b + 1);
    std::string index = rest.substr(0, b);
    // Random bytes seldom make a topic: half the inputs get topics and an index that places
    // them under the one-letter keywords "a", "b", ... (the fuzzer's links can then resolve).
    if (size && (data[0] & 1)) {
        std::string made = "..m Topic A, $\n..r b, c, nowhere\n$b $(c) $a.\n";
        for (size_t i = 0; i < text.size(); i += 97)
            made += text.substr(i, 97) + "\n..m T" + std::to_string(i) + ", R\n..r a\n";
        text = made;
        std::string recs;
        char key = 'a';
        for (size_t p = text.find("..m"); p != std::string::npos && key <= 'z';
             p = text.find("..m", p + 1), key++) {
            char r[13] = {key,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          static_cast<char>(p & 0xff),
                          static_cast<char>(p >> 8 & 0xff),
                          static_cast<char>(p >> 16 & 0xff)};
            recs.append(r, sizeof r);
        }
        index = recs + index;
    }
    put(hlp, text);
    put(hdx, index);
    at = 0;
    steps = 0;
    displayreset();
    qflag = 1;
    setconswriter([](const char*, size_t) {});
    helpkeys(fuzzkey);
    if (helpfiles(hlp.c_str(), hdx.c_str())) {
        long off = 0;
        std::string key = typed.substr(0, typed.find(' '));
        if (findhelp(key.c_str(), off) || findhelp("", off)) dohelp(off);
    }
    helpreset();
    helpkeys(nullptr);
    setconswriter(nullptr);
    return 0;
}
