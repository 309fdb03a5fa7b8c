#include "core/start.h"

#include "config/menu.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/console.h"
#include "ports/lock.h"
#include "ports/modem.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/scrollback.h"
#include "screen/vscreen.h"
#include "script/cmd.h"
#include "script/var.h"
#include "script/window.h"
#include "transfer/capture.h"
#include "transfer/xfer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void donecatch(int sig) {
    donesig = sig;
}

namespace {

bool emuopt = false; // an option (-f, -v) chose the emulation
bool zmprot() {
    return errprot == 6 || errprot == 7;
}

// One option letter; `arg` is its argument for b, l, p and s.
void setoption(int c, const char* arg) {
    switch (c) {
    case '1':
        errprot = 6;
        break;
    case '2':
        errprot = 7;
        break;
    case '5':
        errprot = 1;
        break;
    case '7':
        errprot = 2;
        break;
    case 'a':
        aflag = 1;
        break;
    case 'b':
        intbufsiz = static_cast<int>(std::strtol(arg, nullptr, 10));
        break;
    case 'c':
        cflag = 1, dupmode = 1, fflag = 1;
        break;
    case 'd':
        vtdebug++;
        break;
    case 'e':
        echoflag = 1, viewflag = 1;
        break;
    case 'f':
        dupmode = 1, emode = 4, fflag = 1;
        emuopt = true;
        break;
    case 'h':
        dupmode = 2, fflag = 1;
        break;
    case 'i':
        iflag = 1;
        break;
    case 'k':
        errprot = 3;
        break;
    case 'l':
        portlist = arg;
        break;
    case 'm':
        zzprintf("Setting mflag to 1");
        mflag = 1;
        break;
    case 'o':
        errprot = 9;
        break;
    case 'p':
        prbufsiz = static_cast<int>(std::strtol(arg, nullptr, 10));
        break;
    case 'q':
        qflag = 1, fflag = 1;
        break;
    case 's':
        parmptr = arg;
        break;
    case 't':
        dupmode = 0, errprot = 0, cflag = 1, fflag = 1;
        break;
    case 'u':
        uflag = 1, fflag = 1;
        break;
    case 'v':
        emode = 8, dupmode = 1, fflag = 1;
        emuopt = true;
        break;
    case 'x':
        dupmode = 0, cflag = 1, xflag = 1, fflag = 1;
        break;
    case 'z':
        portlist = "nul:";
        zflag = 1;
        break;
    default:
        aberr("Unknown option ignored: %c\r\n", c);
        break;
    }
}

// Runs the exit script on the first call only, however often doneterm is entered.
uint8_t donecount = 0;
} // namespace

void getopts(int* argc, char*** argv) {
    if (*argc == 0) return;
    opterr = 0;
    optind = 0; // full reset: each option source is parsed from its start
    // "+" keeps the traditional rule that options end at the first other word.
    std::string optstring = std::string("+") + VORN_OPTIONS;
    int c;
    while ((c = getopt(*argc, *argv, optstring.c_str())) != -1) {
        // An unknown letter and a letter without its argument both come back as "?": the
        // letter itself is in optopt.
        if (c == '?')
            aberr("Unknown option ignored: %c\r\n", optopt);
        else
            setoption(c, optarg ? optarg : "");
    }
    int used = optind < 1 ? 1 : optind;
    if (used > *argc) used = *argc;
    *argc -= used;
    *argv += used;
}

void applyflags(const std::string& word) {
    if (word.empty()) return;
    std::string prog = "vorn";
    std::string w = word;
    char* vec[] = {prog.data(), w.data(), nullptr};
    int n = 2;
    char** v = vec;
    getopts(&n, &v);
}

void xprescan(int argc, char** argv) {
    if (argc < 2 || argv[1][0] != '-') return;
    for (int i = 1; i < argc && argv[i][0] == '-'; i++) {
        for (const char* p = argv[i] + 1; *p; p++) {
            int c = *p | 0x20;
            if (c == 'x') {
                xflag = 1;
                return;
            }
            if (c == 'l' || c == 'b' || c == 's') {
                if (!p[1]) i++; // the argument is the next word
                break;
            }
        }
    }
}

int getpath(char* buf, const char* name) {
    auto tryin = [&](const char* dir) {
        std::string p;
        if (dir && *dir) {
            p = dir;
            if (p.back() != '/') p += '/';
        }
        p += name;
        if (p.size() > PATHMAX) p.resize(PATHMAX);
        std::memcpy(buf, p.c_str(), p.size() + 1);
        // These files are run or trusted: one that another user could have written is refused.
        return access(buf, F_OK) == 0 && usablefile(buf);
    };
    // The current directory may be anyone's (a download or a shared directory), so it is
    // searched only when VORNCWD is set.
    const char* cwd = std::getenv("VORNCWD");
    if (cwd && *cwd && tryin(".")) return 1;
    if (tryin(gethomedir())) return 1;
    const char* dir = std::getenv("VORNDIR");
    return tryin(dir ? dir : "/usr/vorn") ? 1 : 0;
}

int runvornrc(int which) {
    static const char* const envs[] = {"VORNRC", "VORNSYS", "VORNEX"};
    static const char* const names[] = {".vornrc", ".vornsys", ".vornex"};
    if (which < 0 || which > 2) return 0;
    struct SysFlag {
        bool on;
        explicit SysFlag(bool sys) : on(sys) {
            if (on) insysfile = 1;
        }
        ~SysFlag() {
            if (on) insysfile = 0;
        }
    } sysflag(which == 1);
    std::string path;
    if (const char* e = std::getenv(envs[which])) {
        path = e;
    } else {
        char buf[PATHMAX + 1];
        if (!getpath(buf, names[which])) return 0;
        path = buf;
    }
    char* words[] = {path.data(), nullptr};
    return cmdfile(1, words, 0, 0);
}

const std::string& versionline() {
    static const std::string line =
        std::string("VORN v") + VORN_VERSION + " " + VORN_RELEASE + " [" + systemname() + "] Linux";
    return line;
}

void banner() {
    zzprintf("%s Communications Software ", "VORN");
    zzprintf("v%s [%s] \r\n", VORN_VERSION, "Linux");
    zzprintf("Copyright (c) 2026 the VORN developers. Type ^E ? for help.\r\n");
    zzprintf("\r\n");
}

void hintline() {
    zzprintf("\r\nType ");
    vsetattr(16384);
    zzprintf("%kk", mnuchar);
    vsetattr(0);
    zzprintf(" for Command Menu ");
    vsetattr(16384);
    zzprintf("%kk", hlpchar);
    vsetattr(0);
    zzprintf(" for Help\r\n");
}

int vornmain(int argc, char** argv) {
    // 1. Started as "vt": the menu decision is inverted and the port list is an argument.
    bool vtname = argc > 0 && std::strcmp(argv[0], "vt") == 0;
    msgkeep = 1; // start-up errors are repeated on standard error at the end
    if (vtname) mflag = 1;

    // 2.
    setvbuf(stdin, nullptr, _IONBF, 0);
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    initstr();
    createsess(8);

    // 3.
    xprescan(argc, argv);
    bool hasopts = (argc > 1 && argv[1][0] == '-') || xflag;

    // 4. The console's settings are saved before anything changes them (also in server mode,
    // where standard input is the line, so a terminal there is put back too); osinit leaves
    // the console raw.
    bool terminal = savecons() == 0;
    osinit();

    // 5.
    if (!hasopts)
        if (const char* f = std::getenv("VORNFLAGS")) applyflags(f);

    // 6.
    if (!xflag) runvornrc(1);

    // 7.
    if (!hasopts) applyflags(vornflags);

    // 8.
    getopts(&argc, &argv);
    // The key tables were built by osinit, before -a could be seen.
    if (aflag) setupkeys();
    // Whether -z was given. The line's own zflag cannot tell after a lost line: falling back to
    // the null line always sets it.
    const bool zoption = zflag;
    // A shell on a pseudo-terminal line in a UTF-8 locale gets the emulation the programs of
    // today expect (and tell it so by TERM), unless an option chose the emulation.
    if (consutf8 && !emuopt && portlist.rfind("pty", 0) == 0) emode = EM_XTERM;
    if (!terminal && !xflag && !qflag) {
        std::fputs("VORN: the console is not a terminal; use -q or -x without one\n", stderr);
        std::exit(1);
    }

    // 9. The window's own size where the console reports one; termcap's li and co otherwise.
    if (!xflag && !qflag) conswinsize(Lines, Cols);
    bool raised = false;
    if (Lines < 24) Lines = 24, raised = true;
    if (Cols < 80) Cols = 80, raised = true;
    if (raised && !xflag) aberr("TERM variable has bad lines or cols entry\r\n");
    if (Lines > 66) Lines = 66;
    if (Cols > 132) Cols = 132;

    // 10.
    if (argc > 0) fflag = 1;

    // 11.
    if (doxqz() < 0) doneterm(1);

    // 12.
    vinit();
    if (!xflag && !qflag) {
        struct sigaction sa {};
        sa.sa_handler = winchcatch;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGWINCH, &sa, nullptr);
    }
    eminit(Cols);
    crpages(vpages);
    emulate(emode, 1);
    orgemode = emode;
    sbinit(vscrollback);

    // 13.
    msave = COM->mstat();

    // 14.
    if (!uflag) {
        if (!echoflag && (fflag == mflag || Lines >= 26)) {
            vclear();
            cpos(vlines - 1 < 23 ? vlines - 1 : 23, 0);
        }
        banner();
    }

    // 15.
    runvornrc(0);

    // 16.
    if (!uflag) hintline();

    // 17.-19.
    bool server = false;
    bool skipfiles = false;
    if (!xflag && vtname) {
        if (argc == 0) {
            skipfiles = true;
        } else {
            portlist = argv[0];
            argc--, argv++;
        }
    }
    if (!skipfiles) {
        if (argc > 0 && cmdfile(argc, argv, 3, 0) == 1) doneterm(1);
        if (xflag) server = true;
    }
    if (!server) {
        if (cflag && zmprot()) {
            // Remote command mode serves on the line named with -l, when no script opened one.
            if (!portlist.empty() && !connected && comfd < 0 &&
                connservice(portlist.c_str(), 1) <= 0)
                doneterm(0);
            server = true;
        } else if (!portlist.empty() && !connected) {
            if (connservice(portlist.c_str(), 1) <= 0) doneterm(0);
        }
    }

    // 20.
    if (server) {
        zzprintf("[Server Mode]\r\n");
        for (;;) {
            int keep = cdelay;
            cdelay = 20;
            scmd("OK\r\n");
            cdelay = keep;
            if (!zmprot()) break;
            gerrno = rcvzmodem();
            if (gerrno) doneterm(1);
            if (quitflag) doneterm(0);
        }
    }

    // 21.
    if (getsrvtype(curtransport.c_str()) != 'N' && fflag == mflag) enterproc(startmenu, 0);

    // 22.
    msgkeep = 0;
    for (;;) {
        int r = term(nullptr);
        if (r == 1) {
            escape();
        } else if (r == 4) {
            if (!zoption && !portlist.empty()) break;
            // The errors of a reconnection that fails are the last the user sees.
            size_t mark = keptcount();
            msgkeep = 1;
            if (try3conn(nullptr) < 0) break;
            msgkeep = 0;
            dropkept(mark);
        } else if (r == 0) {
            break;
        }
    }
    doneterm(0);
}

void doneterm(int status) {
    signal(SIGTERM, SIG_IGN);
    donesig = 0;
    msgkeep = 1;
    if (donecount++ == 0) runvornrc(2);
    setcapt(0);
    setprint(0);
    lrnend();
    closeall();
    flushwindow();
    vemode = 1;
    if (!xflag) cpos(Lines - 2, 0);
    vexit();
    zzprintf("\r\n");
    oflush();
    comexit();
    oflush();
    consexit();
    unsavecons();
    showkept();
    std::exit(status);
}

void startreset() {
    aflag = 0, cflag = 0, fflag = 0, iflag = 0, mflag = 0, qflag = 0, uflag = 0, xflag = 0;
    zflag = 0, echoflag = 0, viewflag = 0, vtdebug = 0;
    dupmode = 1, emode = 8, errprot = 0, prbufsiz = 0, intbufsiz = 0, orgemode = 8;
    msave = 0, gerrno = 0, quitflag = 0;
    donesig = 0;
    emuopt = false;
    portlist.clear(), parmptr.clear(), vornflags.clear();
    donecount = 0;
}
