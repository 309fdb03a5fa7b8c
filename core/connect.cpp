// Compiled into every program that links the whole system (vorn_all), so the display library
// is connected before main runs. Not part of vorn_core: a static library would leave this file
// out of a program that names nothing in it.
#include "core/connect.h"

#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/console.h"
#include "ports/queue.h"
#include "screen/hooks.h"
#include "screen/keyboard.h"
#include "transfer/capture.h"

#include <string>

void displayconnect() {
    disphooks.rxwaiting = [] { return !qempty(comq); };
    disphooks.quiet = &qflag;
    disphooks.server = &xflag;
    disphooks.consfd = &ttyfd;
    disphooks.consinit = [](bool raw) {
        if (raw) {
            savecons();
            setraw(0);
        }
        qinit(ttyq, TTYQSIZE);
    };
    disphooks.consrestore = [] { unsavecons(); };
    disphooks.message = [](const char* text) { eprintf("%s", text); };
    disphooks.nomemory = nomemory;
    disphooks.findfile = [](const char* name, std::string& path) {
        char buf[PATHMAX + 1] = {};
        if (!getpath(buf, name)) return false;
        path = buf;
        return true;
    };
    disphooks.printbyte = tprint;
    disphooks.printcells = tprlin;
    disphooks.keycaps = realkeys;
    disphooks.setkeycap = setkeycap;
}

namespace {
[[maybe_unused]] const bool connected = (displayconnect(), true);
}
