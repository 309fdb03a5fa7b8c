// Script commands of file transfer: the requests and the transfer settings.
#include "core/escape.h"
#include "core/fmt.h"
#include "core/start.h"
#include "script/cmd.h"
#include "script/cmds.h"
#include "transfer/xfer.h"

#include <cctype>
#include <climits>

namespace {

// A count: a non-negative decimal word; otherwise "<label> expected".
int setcount(const char* args, int& target, const char* label) {
    const char* rest;
    const char* w = word(args, &rest);
    if (!w || !isdigit(static_cast<unsigned char>(*w))) {
        expaberr(label);
        return RC_EXPECTED;
    }
    long v = 0;
    for (const char* p = w; *p; p++) {
        if (!isdigit(static_cast<unsigned char>(*p))) {
            expaberr(label);
            return RC_EXPECTED;
        }
        v = v * 10 + (*p - '0');
        if (v > INT_MAX) v = INT_MAX;
    }
    target = static_cast<int>(v);
    return RC_OK;
}

const char* skipblanks(const char* p) {
    while (p && (*p == ' ' || *p == '\t'))
        p++;
    return p ? p : "";
}

} // namespace

int c_xfer(const char* args) {
    return parsexfer(0, skipblanks(args));
}
int c_send(const char* args) {
    return parsexfer(1, skipblanks(args));
}
int c_get(const char* args) {
    return parsexfer(2, skipblanks(args));
}
int c_rcv(const char* args) {
    return parsexfer(3, skipblanks(args));
}

int c_xprot(const char* args) {
    const char* rest;
    const char* w = word(args, &rest);
    int v = w ? selvalue(xprotlist, w) : -1;
    if (v < 0) {
        selexpect(xprotlist);
        return RC_EXPECTED;
    }
    errprot = v;
    return RC_OK;
}

int c_retries(const char* args) {
    return setcount(args, retries, "Packet retry count");
}
int c_rtime(const char* args) {
    return setcount(args, rtime, "Receive packet timeout");
}
int c_stime(const char* args) {
    return setcount(args, stim, "Send packet timeout");
}
int c_restart(const char* args) {
    return setcount(args, restart, "Transfer restart count");
}
