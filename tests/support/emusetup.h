#pragma once
// The emulator on a known console, set up once for the emulator tests, the fuzz targets and the
// benchmarks. emconsole() gives the display driver power-on state and the console type `term`
// from the system database only (no program files, no raw mode, nothing received waiting),
// with every console byte going to `writer`. emselect() gives the screen and the emulator
// power-on state on a screen of `rows` rows (at most 24 emulated) and 80 columns, 8-bit bytes
// kept, replies to the host through `reply`, and selects `emulation`.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/queue.h"
#include "screen/display.h"
#include "screen/termcap.h"
#include "screen/vscreen.h"

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <utility>

inline void emconsole(const char* term, std::function<void(const char*, size_t)> writer) {
    displayreset();
    qflag = 1;
    comq = CharQueue{};
    setenv("TERM", term, 1);
    setenv("TERMCAP", "/nonexistent/termcap", 1);
    setenv("HOME", "/nonexistent", 1);
    setenv("VORNDIR", "/nonexistent", 1);
    setconswriter(std::move(writer));
    tinit(term);
    _vinit();
}

inline void emselect(int emulation, int rows, void (*reply)(const char* text, int len)) {
    vscreenreset();
    emreset0();
    maskpar = 0;
    replyhook = reply;
    Lines = rows;
    Cols = 80;
    vlines = rows < 24 ? rows : 24;
    vcols = 80;
    eminit(Cols);
    vemode = 0;
    emulate(emulation, 0);
}
