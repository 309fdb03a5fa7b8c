#include "ports/console.h"

#include "core/start.h"
#include "ports/com.h"
#include "ports/serial.h"

#include <cstdlib>
#include <exception>
#include <termios.h>
#include <unistd.h>

namespace {
struct termios saved {};
bool havesaved = false;
int savedfd = -1;
std::terminate_handler prevterminate = nullptr;

void restoreatexit() {
    unsavecons();
}

[[noreturn]] void restoreonterminate() {
    unsavecons();
    if (prevterminate) prevterminate();
    std::abort();
}
} // namespace

// Only the first save counts: later calls come when the console is already raw, and saving
// those settings would leave the console raw at exit.
int savecons() {
    if (havesaved) return 0;
    struct termios t {};
    if (ttyfd < 0 || tcgetattr(ttyfd, &t) < 0) return -1;
    ixonset = static_cast<int>(t.c_iflag & (IXON | IXANY));
    saved = t;
    savedfd = ttyfd;
    std::atexit(restoreatexit);
    prevterminate = std::set_terminate(restoreonterminate);
    havesaved = true;
    return 0;
}

bool conssaved() {
    return havesaved;
}

int setraw(int fd) {
    struct termios t {};
    if (tcgetattr(fd, &t) < 0) return -1;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    // With consxon the console keeps the XON/XOFF it had when the program started.
    if (cfloflag) t.c_iflag |= static_cast<tcflag_t>(ixonset);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB);
    t.c_cflag |= CS8;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSADRAIN, &t);
}

int unsavecons() {
    if (!havesaved || savedfd < 0) return 0;
    return tcsetattr(savedfd, TCSADRAIN, &saved);
}

void consraw() {
    if (qflag) return;
    setraw(ttyfd);
}

void consnorm() {
    if (qflag) return;
    unsavecons();
}

void consreset() {
    unsavecons();
    havesaved = false;
    savedfd = -1;
}
