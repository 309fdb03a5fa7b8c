#pragma once
// What the display library asks of the program above it.
//
// The display library (the console driver, the termcap reader, the virtual screen, the
// scrollback and the key names) includes nothing from the folders above it. The few things it
// needs from them - whether received bytes wait to be drawn, the quiet and server flags, the
// console's descriptor and raw mode, messages for the user, the program's search path for its
// termcap file, the printer, the keyboard's share of the console description - come through
// `disphooks`. Start-up fills it (displayconnect() in core/connect.h); until then, and in tests
// built on the display library alone, the defaults below stand: no console to take over, nothing
// received, messages straight to the console, no program files, no printer, no key strings.
#include "screen/vscreen.h"

#include <cstdint>
#include <string>

struct DisplayHooks {
    // 1 when received bytes wait to be drawn: the output buffer is then written only when full.
    bool (*rxwaiting)() = [] { return false; };
    // The quiet flag (console not used) and the server flag (standard input is the line): with
    // either set there is no console to take over or to complain about.
    const uint8_t* quiet = &on;
    const uint8_t* server = &off;
    // The console's descriptor.
    const int* consfd = &nofd;
    // Takes the console over at _vinit: with `raw` keeps its settings and makes it raw; in every
    // case empties its key queue. consrestore() puts the kept settings back.
    void (*consinit)(bool raw) = [](bool) {};
    void (*consrestore)() = [] {};
    // A message for the user, already formatted (it carries its own line end).
    void (*message)(const char* text) = defmessage;
    // The out-of-memory report ("\aOut of RAM memory (Error #n)\r\n"); returns 1.
    int (*nomemory)(int code) = defnomemory;
    // The program's file `name` on its search path: true with the path in `path`.
    bool (*findfile)(const char* name, std::string& path) = [](const char*, std::string&) {
        return false;
    };
    // The printer: one byte, or a row of screen cells; -1 when printing failed.
    int (*printbyte)(int c) = [](int) { return -1; };
    int (*printcells)(const vcell* cells, int n) = [](const vcell*, int) { return -1; };
    // The keyboard's part of the console description: reads every key capability at tinit and
    // returns their total length (one terminator each); sets one key capability by name (1 when
    // `name` is one).
    int (*keycaps)() = [] { return 0; };
    int (*setkeycap)(const char* name, const char* value) = [](const char*, const char*) {
        return 0;
    };

    static constexpr uint8_t on = 1, off = 0;
    static constexpr int nofd = -1;
    static void defmessage(const char* text);
    static int defnomemory(int code);
};

inline DisplayHooks disphooks;
