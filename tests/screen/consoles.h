#pragma once
// Consoles for the screen tests: a termcap source, a type, and the bytes the driver sent,
// captured through the console writer and judged by libvterm.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/display.h"
#include "screen/termcap.h"
#include "support/vtjudge.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

// The system database, the program's own termcap file, or the entry held in TERMCAP.
enum class Source { System, OwnFile, TermcapVar };

// A test name for a console: its source and type, e.g. "own_xterm_256color".
inline std::string consolename(const char* term, Source src) {
    static const char* names[] = {"sys", "own", "var"};
    std::string n = std::string(names[static_cast<int>(src)]) + "_" + term;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
}

// The driver with its output captured. Made without a console (no raw mode on the test's
// terminal), with an empty receive queue, so every primitive is flushed at once.
struct Console {
    std::string out;
    int writes = 0, status = -1;
    explicit Console(const std::string& term, Source src = Source::OwnFile) {
        displayreset();
        qflag = 1, vemode = 0, comq = CharQueue{};
        std::string own = std::string(VORN_SOURCE_DIR) + "/data/termcap.qal", e;
        setenv("TERM", term.c_str(), 1), setenv("HOME", "/nonexistent", 1);
        setenv("VORNDIR", "/nonexistent", 1);
        setenv("TERMCAP", src == Source::System ? "/nonexistent/termcap" : own.c_str(), 1);
        if (src == Source::TermcapVar && ctgetent(e, term.c_str()) == 1)
            setenv("TERMCAP", e.c_str(), 1);
        setconswriter([this](const char* p, size_t n) { out.append(p, n), writes++; });
        status = tinit(term.c_str());
        if (status == 0) _vinit();
        oflush();
    }
    ~Console() { setconswriter(nullptr), qflag = 0, unsetenv("TERMCAP"); }
    std::string take() { return oflush(), std::exchange(out, ""); }
};
