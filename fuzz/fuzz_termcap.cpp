// Termcap reader under hostile input: the fuzzer's bytes become the termcap file, an entry held
// in TERMCAP, and cursor-motion and colour strings. Everything must stay within its buffers.
#include "core/start.h"
#include "screen/display.h"
#include "screen/termcap.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string tcfile;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/vorn-fuzz-termcap-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    tcfile = name;
    atexit([] { unlink(tcfile.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (tcfile.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string in(reinterpret_cast<const char*>(data), size);
    // Parts separated by NUL: file, TERMCAP entry, cursor-motion string.
    size_t a = in.find('\0');
    std::string file = in.substr(0, a);
    std::string var = a == std::string::npos ? "" : in.substr(a + 1);
    size_t b = var.find('\0');
    std::string motion = b == std::string::npos ? var : var.substr(b + 1);
    if (b != std::string::npos) var.resize(b);

    if (FILE* f = fopen(tcfile.c_str(), "w")) {
        fwrite(file.data(), 1, file.size(), f);
        fclose(f);
    }
    displayreset();
    qflag = 1;
    setconswriter([](const char*, size_t) {});
    // The first name of the file's first entry, so lookups get past the name match.
    std::string name = file.substr(0, file.find_first_of("|:\n"));
    for (int round = 0; round < 2; round++) {
        displayreset();
        setconswriter([](const char*, size_t) {});
        if (round == 0) {
            setenv("TERMCAP", tcfile.c_str(), 1);
        } else {
            setenv("TERMCAP", var.empty() ? "x" : var.c_str(), 1);
            name = "fuzzterm";
        }
        setenv("TERM", name.c_str(), 1);
        if (tinit(name.c_str()) == 0) {
            _vinit();
            _cpos(static_cast<int>(size % 70), static_cast<int>(size % 140));
            _vsline(2, 9);
            _vsline(9, 2);
            _vclreol(1, 1);
            _vclres(1, 1);
            _vcolor(static_cast<int>(size & 0xff) << 8);
            for (int s = 0; s < GRSETSIZ; s += 7)
                _gttyout(_grset[s]);
            statline(1, 3);
            statline(2, 0);
        }
    }
    for (int v : {0, 3, 9, 10, 255, -1, 100000})
        (void)ctgoto(motion, v, v, "\033A", ""), (void)tcolor(motion, v, v);
    std::string out;
    ctgetstr(motion, "ab", out);
    ctgetnum(motion, "ab");
    unsetenv("TERMCAP");
    setconswriter(nullptr);
    displayreset();
    return 0;
}
