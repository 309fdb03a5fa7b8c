// Option words under hostile input: the fuzzer's bytes become command-line words (split at
// NUL) for the -x pre-scan and the option parser, and an option word as from VORNFLAGS.
#include "core/start.h"
#include "screen/display.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setconswriter([](const char*, size_t) {});
    std::string in(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words{"vorn"};
    size_t pos = 0;
    while (pos <= in.size() && words.size() < 64) {
        size_t end = in.find('\0', pos);
        if (end == std::string::npos) end = in.size();
        words.push_back(in.substr(pos, end - pos));
        pos = end + 1;
    }
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    startreset();
    xprescan(static_cast<int>(words.size()), argv.data());
    int argc = static_cast<int>(words.size());
    char** av = argv.data();
    getopts(&argc, &av);
    if (argc < 0 || argc > static_cast<int>(words.size())) __builtin_trap();
    applyflags(words.size() > 1 ? words[1] : std::string());
    oflush();
    startreset();
    return 0;
}
