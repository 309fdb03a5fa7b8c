#include "transfer/xferstats.h"

#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/vscreen.h"
#include "transfer/xfer.h"

#include <ctime>

namespace {

bool display = false;  // the full-screen display is on
struct timespec t0 {}; // start of the current file
std::string shown[19]; // value shown per row
long lastdraw = -1;    // milliseconds of the last redraw

long nowms() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}
long secs() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long>(t.tv_sec - t0.tv_sec);
}

// clang-format off
struct Label { int row, col; const char* text; };
const Label xfermenu[] = {
    {3, 11, "Protocol:"},      {4, 10, "File name:"},        {5, 2, "Bytes transferred:"},
    {6, 0, "Percent transferred:"}, {7, 6, "Transfer time:"}, {8, 0, "Effective baud rate:"},
    {9, 2, "Number of packets:"}, {10, 3, "Restarts/retries:"}, {11, 9, "Last error:"},
    {12, 7, "Last message:"},  {0, 0, nullptr},
};
// clang-format on

void dohdisp(const Label* t) {
    for (; t->row; t++) {
        cpos(t->row, t->col);
        zzprintf("%s", t->text);
    }
}

void setval(int row, const std::string& v) {
    if (!display || shown[row] == v) return;
    cpos(row, 21);
    vclreol(row, 21);
    cpos(row, 21);
    zzprintf("%s", v.c_str());
    shown[row] = v;
}

int percent() {
    return ffilsiz > 0 ? static_cast<int>(fbytcnt * 100 / ffilsiz) : -1;
}

void drawvalues() {
    if (!display) return;
    const std::string name =
        gfilename.size() > 56 ? "..." + gfilename.substr(gfilename.size() - 53) : gfilename;
    setval(4, peertext(name, 58));
    setval(5, ffilsiz > 0 ? sfmt("%ld/%ld", fbytcnt, ffilsiz) : sfmt("%ld", fbytcnt));
    int pc = percent();
    setval(6, pc >= 0 ? sfmt("%d", pc) : "");
    setval(7, sfmt("%ld", secs()));
    long rate = xferrate();
    setval(8, (COM->flags & COMF_CONNECTION) ? sfmt("%ld ", rate)
                                             : sfmt("%ld/%u ", rate, static_cast<unsigned>(baud)));
    setval(9, sfmt("%d", fpakcnt));
    setval(10, sfmt("%d/%d", rexfer, fretcnt));
    cpos(18, 0);
}

void resetcounters() {
    fretcnt = fpakcnt = 0;
    fbytcnt = resfilsiz = 0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (auto& s : shown)
        s = "\x01"; // stale
    lastdraw = -1;
    if (display) {
        for (int r = 4; r <= 12; r++)
            vclreol(r, 21);
        vclreol(14, 0);
        vclreol(18, 0);
    }
}

void summary(const std::string& result) {
    long s = secs();
    long rate = xferrate();
    if (rate < 0) rate = 0;
    int pc = percent();
    std::string line = ffilsiz > 0 && pc >= 0
                           ? sfmt("%s (%ld secs %ld baud %d%% %d/%d %ld/%ld bytes)", result.c_str(),
                                  s, rate, pc, rexfer, fretcnt, fbytcnt, ffilsiz)
                           : sfmt("%s (%ld secs %ld baud %d/%d %ld bytes)", result.c_str(), s, rate,
                                  rexfer, fretcnt, fbytcnt);
    lastsummary = peertext(gfilename, 40) + ": " + line;
    dolog("", lastsummary);
    if (display) {
        cpos(14, 0);
        vclreol(14, 0);
        cpos(14, 0);
        zzprintf("%s", lastsummary.c_str());
        cpos(18, 0);
    } else {
        zzprintf("%s\r\n", lastsummary.c_str());
    }
}

} // namespace

long xferrate() {
    long s = secs();
    return (fbytcnt - resfilsiz) * 20 / (2 * s + 1);
}

std::string peertext(const std::string& text, size_t max) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f)
            out += static_cast<char>(c);
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "<%02x>", c);
            out += hex;
        }
        if (out.size() >= max) break;
    }
    if (out.size() > max) out.resize(max);
    return out;
}

void dolog(const char* prefix, const std::string& text) {
    if (!xlogfp) return;
    time_t now = time(nullptr);
    struct tm tmv {};
    localtime_r(&now, &tmv);
    char date[16], clock[16];
    strftime(date, sizeof date, "%m/%d/%y", &tmv);
    strftime(clock, sizeof clock, "%H:%M:%S", &tmv);
    std::string clean;
    for (char c : text)
        clean += (c == '\r' || c == '\n') ? ' ' : c;
    fprintf(xlogfp, "%.5s %s %s%s\n", date, clock, prefix, clean.c_str());
    fflush(xlogfp);
}

void xferstats(int code, const std::string& text) {
    switch (code) {
    case XS_BEGIN:
        display = statflag && !vtdebug;
        if (display) {
            vclear();
            dohdisp(xfermenu);
            cpos(3, 21);
            zzprintf("%s", xprotname.c_str());
        }
        for (auto& s : shown)
            s = "\x01";
        break;
    case XS_SENDFILE:
        xfername = gfilename;
        ffilsiz = filsiz(gfilename.c_str());
        resetcounters();
        drawvalues();
        break;
    case XS_RCVFILE:
        xfername = gfilename;
        ffilsiz = 0;
        resetcounters();
        drawvalues();
        break;
    case XS_TICK: {
        if (!display) {
            if (!statflag) zzprintf(".");
            break;
        }
        long now = nowms();
        if (lastdraw >= 0 && now - lastdraw < 250) break;
        lastdraw = now;
        drawvalues();
        break;
    }
    case XS_FILEEND:
        drawvalues();
        summary(text);
        break;
    case XS_MSG:
        if (display) {
            setval(12, peertext(text, 58));
        } else if (statflag) {
            zzprintf("%s\r\n", text.c_str());
        }
        dolog("", text);
        break;
    case XS_RETRY:
        if (display) {
            setval(12, text);
            drawvalues();
        } else if (statflag) {
            zzprintf("%s\r\n", text.c_str());
        } else {
            const std::string t = text;
            zzprintf("%s", t == tlinmsg ? "T" : t == blinmsg ? "B" : t == llinmsg ? "L" : "S");
        }
        if (vtdebug) dolog("", text);
        break;
    case XS_FATAL:
        if (display) {
            setval(11, text);
            cpos(18, 0);
        } else {
            zzprintf("%s\r\n", text.c_str());
        }
        dolog("ERROR: ", text);
        break;
    case XS_END:
        // The one-line summary of the whole transfer stays on the screen.
        if (display) {
            cpos(16, 0);
            vclreol(16, 0);
            cpos(16, 0);
            zzprintf("%s", text.c_str());
            cpos(18, 0);
        } else if (!text.empty()) {
            zzprintf("%s\r\n", text.c_str());
        }
        if (!text.empty()) dolog("", text);
        display = false;
        break;
    default:
        break;
    }
}
