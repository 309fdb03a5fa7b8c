#include "support/console_fixture.h"
#include "support/portsupport.h"

#include "core/escape.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/display.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The line of the fixture: the shared descriptor operations, and an exit that closes the
// descriptor as every real driver's does.
ComDriver testline = [] {
    ComDriver d = nulfunc;
    d.exit = [] { return closecom(), 0; };
    d.mstat = [] { return 3; };
    return d;
}();
} // namespace

ConsoleFixture::ConsoleFixture(bool line) {
    startreset();
    termreset();
    ngetsreset();
    settingsreset();
    comreset();
    if (pipe(keys_) == 0) ttyfd = keys_[0];
    if (line && socketpair(AF_UNIX, SOCK_STREAM, 0, line_) == 0) {
        comfd = line_[0];
        line_[0] = -1; // closed by the driver's exit
        peer_ = line_[1];
        COM = &testline;
        fcntl(peer_, F_SETFL, fcntl(peer_, F_GETFL) | O_NONBLOCK);
    }
    oflush();
    // The console writer's seam: what the driver writes to the console lands here.
    setconswriter([this](const char* p, size_t n) { captured_.append(p, n); });
}

ConsoleFixture::~ConsoleFixture() {
    oflush();
    setconswriter(nullptr);
    if (comfd >= 0) close(comfd);
    for (int fd : {keys_[0], keys_[1], line_[1]})
        if (fd >= 0) close(fd);
    comreset();
    settingsreset();
    startreset();
    termreset();
}

void ConsoleFixture::type(const std::string& bytes) {
    if (!bytes.empty()) (void)!write(keys_[1], bytes.data(), bytes.size());
}

void ConsoleFixture::send(const std::string& bytes) {
    if (!bytes.empty()) (void)!write(peer_, bytes.data(), bytes.size());
}

std::string ConsoleFixture::received(size_t atleast, double seconds) {
    char buf[4096];
    pollfor(
        [&] {
            for (ssize_t n; (n = read(peer_, buf, sizeof buf)) > 0;)
                got_.append(buf, static_cast<size_t>(n));
            return got_.size() >= atleast;
        },
        seconds);
    return got_;
}

std::string ConsoleFixture::output() {
    oflush();
    return captured_;
}
