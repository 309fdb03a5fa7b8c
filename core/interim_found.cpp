// Interim definitions until core/os.cpp lands (delete this file then).
#include "core/interim_found.h"

#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/keyboard.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

void osinit() {
    struct sigaction sa {};
    sa.sa_handler = donecatch;
    sigemptyset(&sa.sa_mask);
    struct sigaction old {};
    sigaction(SIGHUP, nullptr, &old);
    if (old.sa_handler != SIG_IGN) sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    for (int fd = 3; fd < 20; fd++)
        close(fd);
    if (tinit(std::getenv("TERM")) < 0) {
        oflush();
        std::exit(1);
    }
    tzset();
    _vinit();
    setupkeys();
}

void setupkeys() {
    trinit(itrans, iqueue);
    addkeystrings();
}

const char* gethomedir() {
    if (const char* h = std::getenv("HOME")) return h;
    if (struct passwd* pw = getpwuid(getuid())) return pw->pw_dir;
    return nullptr;
}

void vinit() {}
void vexit() {}

void shell(int) {
    zzprintf("Local shell is not built yet\r\n");
}

int osescape(const char*, int) {
    zzprintf("Shell commands are not built yet\r\n");
    return 0;
}

void bell() {
    _ttyout(7);
}
