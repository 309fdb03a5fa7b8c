#pragma once
// Consoles for the screen tests: a termcap source, a type, and the bytes the driver sent,
// captured through the console writer and judged by libvterm.
#include "screen/display.h"
#include "screen/hooks.h"
#include "screen/termcap.h"
#include "support/vtjudge.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include <unistd.h>

// The system database, the program's own termcap file, or the entry held in TERMCAP.
enum class Source { System, OwnFile, TermcapVar };

// A test name for a console: its source and type, e.g. "own_xterm_256color".
inline std::string consolename(const char* term, Source src) {
    static const char* names[] = {"sys", "own", "var"};
    std::string n = std::string(names[static_cast<int>(src)]) + "_" + term;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
}

// The program's search path, as far as these tests use it: the folder VORNDIR names. (The
// search itself is start-up's, tested with it.)
inline bool findinvorndir(const char* name, std::string& path) {
    const char* dir = getenv("VORNDIR");
    if (!dir) return false;
    path = std::string(dir) + "/" + name;
    return access(path.c_str(), R_OK) == 0;
}

// The driver with its output captured. Made without a console (no raw mode on the test's
// terminal), with nothing received waiting, so every primitive is flushed at once.
struct Console {
    std::string out;
    int writes = 0, status = -1;
    explicit Console(const std::string& term, Source src = Source::OwnFile) {
        displayreset();
        disphooks = DisplayHooks{}, vemode = 0;
        disphooks.findfile = findinvorndir;
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
    ~Console() { setconswriter(nullptr), disphooks = DisplayHooks{}, unsetenv("TERMCAP"); }
    std::string take() { return oflush(), std::exchange(out, ""); }
};
