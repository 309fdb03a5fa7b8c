#pragma once
// Captures what the program writes to the console (through the console writer) while a piece of script
// code runs, and resets the script state between tests.
#include "core/fmt.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "script/lex.h"
#include "script/var.h"

#include <functional>
#include <string>

inline std::string captured(const std::function<void()>& run) {
    oflush();
    std::string out;
    setconswriter([&](const char* p, size_t n) { out.append(p, n); });
    run();
    oflush();
    setconswriter(nullptr);
    return out;
}

// Power-on state of every piece of the script language a test may touch.
inline void scriptreset() {
    varreset();
    cmdreset();
    inexpr = inlexpr = 0;
    glinep = "";
    linep = "";
    gnextc = 0;
}
