#include "transfer/vornline.h"

#include "core/term.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"

#include <poll.h>
#include <time.h>

namespace {
int pushback = -1; // a byte read to look ahead, given out again first

int lineread(int seconds) {
    if (pushback >= 0) {
        int c = pushback;
        pushback = -1;
        return c;
    }
    if (vlinehook) return vlinehook(seconds);
    if (!qempty(comq)) return unqchar(comq) & 0xff;
    int c = comwait(seconds);
    return c >= 0 ? (c & 0xff) : c;
}
} // namespace

int vgetc(int seconds) {
    return lineread(seconds);
}

bool vgetn(uint8_t* p, int n, int seconds) {
    for (int i = 0; i < n;) {
        if (!vlinehook && pushback < 0 && !qempty(comq)) {
            int k = unqbytes(comq, p + i, n - i, 0x100);
            if (k == 0) unqchar(comq); // not a byte: dropped
            i += k;
            continue;
        }
        int c = lineread(seconds);
        if (c == -1) vfatal(ccabmsg, 2);
        if (c < 0) return false;
        p[i++] = static_cast<uint8_t>(c);
    }
    return true;
}

void vputc(int c) {
    COM->out(c);
}

void vsendblk(uint8_t type, const uint8_t* data, int n, int count, int seq) {
    uint8_t buf[vorn::DATAN + 8];
    size_t len = frameblk(vvar, type, data, n, count, seq, buf);
    qcomout(buf, static_cast<int>(len), 0);
}

void vpurge(int quietms) {
    pushback = -1;
    qclear(comq);
    if (comfd < 0) return;
    for (int rounds = 0; rounds < 50; rounds++) {
        struct pollfd p {
            comfd, POLLIN, 0
        };
        if (poll(&p, 1, quietms) <= 0) break;
        waitread(0);
        qclear(comq);
    }
}

bool vkeyabort() {
    if (!canabort) return false;
    // Blocks come every few hundred microseconds on a fast line: look at the keyboard a few
    // times a second, not once a block.
    static struct timespec last {};
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if ((now.tv_sec - last.tv_sec) * 1000 + (now.tv_nsec - last.tv_nsec) / 1000000 < 100)
        return false;
    last = now;
    for (int k; (k = chrdynh()) != 0;)
        if (k == abochar) return true;
    return false;
}

void vfatal(const char* msg, int code, bool sendetx) {
    xferstats(XS_FATAL, msg);
    if (sendetx) {
        vputc(vorn::ETX);
        vpurge();
    }
    done(code);
}

bool vetxquiet() {
    int c = lineread(1);
    if (c == -2) return true;
    if (c >= 0) pushback = c;
    return false;
}
