#pragma once
// Consoles for the screen tests: a termcap source, a type, and the bytes the driver sent,
// captured through the console writer and judged by libvterm.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/display.h"
#include "screen/termcap.h"
#include "support/vtjudge.h"

#include <cstdlib>
#include <string>

enum class Source { System, OwnFile, TermcapVar };

struct ConsoleSpec {
    const char* name;
    Source source;
    const char* label;
};

inline std::string ownfile() {
    return std::string(VORN_SOURCE_DIR) + "/data/termcap.qal";
}

// Points TERM/TERMCAP at the wanted source. A TERMCAP entry is taken from the program's file.
inline void selectsource(const std::string& term, Source src) {
    setenv("TERM", term.c_str(), 1);
    setenv("HOME", "/nonexistent", 1);
    setenv("VORNDIR", "/nonexistent", 1);
    switch (src) {
    case Source::System:
        setenv("TERMCAP", "/nonexistent/termcap", 1);
        break;
    case Source::OwnFile:
        setenv("TERMCAP", ownfile().c_str(), 1);
        break;
    case Source::TermcapVar: {
        setenv("TERMCAP", ownfile().c_str(), 1);
        std::string e;
        termcapreset();
        if (ctgetent(e, term.c_str()) == 1) setenv("TERMCAP", e.c_str(), 1);
        break;
    }
    }
}

// The driver with its output captured. Made without a console (no raw mode on the test's
// terminal), with an empty receive queue, so every primitive is flushed at once.
struct Console {
    std::string out;
    int writes = 0;
    int status = -1;
    explicit Console(const std::string& term, Source src = Source::OwnFile, bool console = false) {
        displayreset();
        qflag = console ? 0 : 1;
        vemode = 0;
        comq = CharQueue{};
        selectsource(term, src);
        setconswriter([this](const char* p, size_t n) {
            out.append(p, n);
            writes++;
        });
        status = tinit(term.c_str());
        if (status == 0) _vinit();
        oflush();
    }
    ~Console() {
        setconswriter(nullptr);
        qflag = 0;
        unsetenv("TERMCAP");
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    std::string take() {
        oflush();
        std::string s;
        s.swap(out);
        return s;
    }
};
