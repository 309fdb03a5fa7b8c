// The transfer framework: snd/rcv, done, the list walker, requests and time estimates.
#include "transfer/xfer.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "script/cmds.h"
#include "transfer/kermit.h"
#include "transfer/xferstats.h"
#include "transfer/zmodem.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

// ---- engines -----------------------------------------------------------------------------

namespace {

// clang-format off
// One row per protocol number; engines not built yet have no functions.
const Engine engines[] = {
    {"VORNCRC", sndvorn, rcvvorn},  // 0
    {"VORN5", sndvorn, rcvvorn},    // 1
    {"MODEM7", sndmdm7, rcvmdm7},     // 2
    {"KERMIT", sndkermit, rcvkermit}, // 3
    {"XMODEM", sndmdm7, rcvmdm7},     // 4
    {"YMODEM", sndmdm7, rcvmdm7},     // 5
    {"WVORNCRC", sndzmodem, rcvzm},   // 6
    {"ZMODEM", sndzmodem, rcvzm},     // 7
    {"KERMIT", nullptr, nullptr},   // 8: not a protocol number
    {"VORNCRC", sndvorn, rcvvorn},  // 9: native engine with the oldest variant forced
};
// clang-format on

// Transfer settings of the line for the length of a transfer, and the user's line protocol
// put back whatever the engine or a later setting did in between.
class LineGuard {
  public:
    explicit LineGuard(bool switchline) : prot_(prot), on_(switchline) {
        if (on_) xferprot();
    }
    ~LineGuard() {
        if (on_) restprot();
        if (prot != prot_) setprot(prot_);
    }
    LineGuard(const LineGuard&) = delete;
    LineGuard& operator=(const LineGuard&) = delete;

  private:
    int prot_;
    bool on_;
};

size_t listrefused = 0; // names of a peer's list refused by peerok()

// Whether `path` (or, when it does not exist yet, its directory) lies inside the current
// directory once every link is followed.
bool inhere(const std::string& path) {
    char here[PATH_MAX], there[PATH_MAX];
    if (!realpath(".", here)) return false;
    std::string p = path;
    if (!realpath(p.c_str(), there)) {
        const size_t slash = p.find_last_of('/');
        p = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
        if (!realpath(p.c_str(), there)) return false;
    }
    const size_t n = strlen(here);
    if (n == 1) return true; // the server's directory is the root
    return strncmp(here, there, n) == 0 && (there[n] == '/' || there[n] == 0);
}

// A name of a list that came with the peer's command: only regular files inside this directory
// (the server's) are sent; anything else is refused with a message on this side.
bool peerok(const std::string& name) {
    if (!peerlist) return true;
    struct stat st {};
    const char* why = nullptr;
    if (name.empty() || name[0] == '/' || !inhere(name))
        why = "Not in the server directory";
    else if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        why = "Not a regular file";
    if (!why) return true;
    xferstats(XS_MSG, sfmt("%s: %s", why, peertext(name).c_str())); // inside the receive
    listrefused++;
    return false;
}

int runengine(bool send) {
    const Engine& e = engine(errprot);
    void (*fn)() = send ? e.send : e.recv;
    if (!fn) return aberr("%s transfers are not built yet\r\n", e.name);
    xprotname = errprot == 9 ? "VORNCRC" : e.name;
    // A transfer that a peer's command starts inside a receive keeps the line as that receive
    // set it: restoring the user's settings is the outer transfer's business.
    static int depth = 0;
    struct Depth {
        Depth() { depth++; }
        ~Depth() { depth--; }
    } nest;
    LineGuard line(errprot != 3 && depth == 1);
    // Every engine waits on the line block by block: a non-blocking line spares the mode switch
    // around each write, and a large queue takes a whole long packet in one read.
    LineNonblock nb;
    struct BigQueue {
        BigQueue() { qresize(comq, COMQBIG); }
        ~BigQueue() { qresize(comq, COMQSIZE); } // never below what it holds
    } bigq;
    xretval = 0;
    cursend = nullptr, currcv = nullptr, keeppart = false;
    batchnames.clear();
    try {
        fn();
    } catch (const XferDone& d) {
        xretval = d.code;
    }
    cursend = nullptr, currcv = nullptr;
    return xretval;
}

// A command for a ZMODEM or WVornCRC peer, sent by the ZMODEM sender.
int zmcommand(const std::string& cmd) {
    zmcmd = cmd;
    const int r = runengine(true);
    zmcmd.clear();
    return r;
}

} // namespace

const Engine& engine(int prot) {
    constexpr int n = sizeof engines / sizeof engines[0];
    return engines[prot >= 0 && prot < n ? prot : 0];
}

void done(int code) {
    const bool hadfile = cursend || (currcv && currcv->part.isopen());
    if (cursend) cursend->close();
    if (currcv) {
        if (code == 0 && currcv->part.isopen()) code = 1; // an open file was not finished
        currcv->part.abandon(keeppart);
    }
    cursend = nullptr, currcv = nullptr;
    if (code != 0 && hadfile) xferstats(XS_FILEEND, "FAIL");
    bell();
    if (!zmcmd.empty() && sending) { // a command for the peer that brought no files
        xferstats(XS_END, code == 0 ? "Remote command, success" : "Remote command, failed");
        throw XferDone{code};
    }
    if (fcnt != 1)
        xferstats(XS_MSG, sfmt(sending ? "%d files transferred" : "%d files received", fcnt));
    const char* how = code == 0 ? "success" : code == 2 ? "aborted" : "failed";
    xferstats(XS_END, sfmt("%d file%s %s, %s", fcnt, fcnt == 1 ? "" : "s",
                           sending ? "sent" : "received", how));
    throw XferDone{code};
}

int snd(const char* filelist, const char* remotedest) {
    gtimeout = 0;
    flags = 0;
    while (filelist && (*filelist == ' ' || *filelist == '\t'))
        filelist++;
    if (!filelist || !*filelist) return 1;
    exlist(filelist, 2);
    if (listcount() == 0) return 1;
    sending = true;
    if (remotedest && *remotedest && errprot == 0) remote('R', remotedest);
    zmdest = remotedest && errprot == 6 ? remotedest : "";
    const int r = runengine(true);
    return r == 0 && listrefused ? 1 : r; // not everything asked for went
}

int rcv(const char* remotelist, const char* dest) {
    gtimeout = 0;
    std::string d = dest ? dest : "";
    while (!d.empty() && (d[0] == ' ' || d[0] == '\t'))
        d.erase(0, 1);
    while (!d.empty() && (d.back() == ' ' || d.back() == '\t'))
        d.pop_back();
    dflags = setflags(d);
    flags = dflags;
    if (dflags & OPT_WILD) return aberr("Multiple files not allowed\r\n");
    if (d.empty()) d = ".";
    if (peerlist && (d[0] == '/' || !inhere(d))) {
        xferstats(XS_MSG, sfmt("Not in the server directory: %s", peertext(d).c_str()));
        return 1;
    }
    dir = d;
    mult = isdir(d.c_str());
    renflag = 0;
    sending = false;
    if (remotelist && *remotelist && errprot == 0) remote('S', remotelist);
    if (remotelist && *remotelist && errprot == 3) kgetlist = remotelist; // GET from a server
    if (remotelist && *remotelist && (errprot == 6 || errprot == 7)) {
        // The peer is asked to send with a command frame; the files come back to `dir`.
        std::string list = remotelist;
        while (!list.empty() && (list.back() == ' ' || list.back() == '\t'))
            list.pop_back();
        // A re-transfer asks the peer to resume what arrived before.
        const long o = dflags | (rexfer ? long{OPT_R} : 0L);
        return zmcommand(sfmt("xfer %s %s%s", list.c_str(), d.c_str(), optstring(o)));
    }
    return runengine(false);
}

int zmremote(const std::string& cmd) {
    gtimeout = 0;
    // Files the command makes the peer send arrive in the current directory.
    dflags = flags = 0;
    dir = ".";
    mult = 1;
    renflag = 0;
    sending = true;
    return zmcommand(cmd);
}

void remote(int letter, const char* text) {
    dcomout(6);
    dcomout(letter);
    for (const char* p = text; p && *p; p++)
        dcomout(static_cast<unsigned char>(*p));
    dcomout('\r');
}

// ---- names and options -------------------------------------------------------------------

long setflags(std::string& word) {
    static const char letters[] = "SQXTACMUOFZBIR";
    static const long bits[] = {OPT_S, OPT_Q, OPT_X, OPT_T, OPT_A, OPT_C, OPT_M,
                                OPT_U, OPT_O, OPT_F, OPT_Z, OPT_B, OPT_I, OPT_R};
    long f = 0;
    if (!word.empty() &&
        (word.back() == ')' || (word.back() == ']' && errprot != 6 && errprot != 7))) {
        const char open = word.back() == ')' ? '(' : '[';
        size_t at = word.rfind(open);
        if (at != std::string::npos) {
            std::string group = word.substr(at + 1, word.size() - at - 2);
            bool allopts = true;
            long g = 0;
            for (char c : group) {
                const char* hit = strchr(letters, toupper(static_cast<unsigned char>(c)));
                if (!hit || !c) {
                    allopts = false;
                    break;
                }
                g |= bits[hit - letters];
            }
            if (allopts) {
                f = g;
                word.erase(at);
            }
        }
    }
    if (word.find_first_of("*?}") != std::string::npos) f |= OPT_WILD;
    return f;
}

const char* optstring(long f) {
    if ((f & OPT_R) && (f & OPT_C)) return "(rc)";
    if (f & OPT_R) return "(r)";
    if (f & OPT_C) return "(c)";
    return "";
}

namespace {
std::vector<ListName> listnames;
size_t listpos = 0;

void addword(std::string word, int mode, bool infile, std::vector<ListName>& out);

void addlistfile(const std::string& name, int mode, std::vector<ListName>& out) {
    FILE* fp = fopen(name.c_str(), "r");
    if (!fp) {
        zzprintf("Can't open filelist file: %s\r\n", name.c_str());
        return;
    }
    char line[256];
    while (getl(line, fp)) {
        const char* p = line;
        for (;;) {
            while (*p == ' ' || *p == '\t')
                p++;
            if (!*p) break;
            const char* e = p;
            while (*e && *e != ' ' && *e != '\t')
                e++;
            addword(std::string(p, e), mode, true, out);
            p = e;
        }
    }
    fclose(fp);
}

void addword(std::string word, int mode, bool infile, std::vector<ListName>& out) {
    long f = setflags(word);
    if (word.empty()) return;
    if (f & OPT_F && !peerok(word)) return;
    if (f & OPT_F) {
        if (infile) {
            zzprintf("Nested [f] option ignored: %s\r\n", word.c_str());
            f &= ~OPT_F;
        } else {
            addlistfile(word, mode, out);
            return;
        }
    }
    if (mode == 1 && !(f & (OPT_WILD | OPT_X))) {
        if (peerok(word)) out.push_back({word, f});
        return;
    }
    if (!(f & (OPT_WILD | OPT_X))) {
        if (!filexists(word.c_str())) {
            zzprintf("Can't find %s\r\n", peertext(word).c_str());
            return;
        }
        if (peerok(word)) out.push_back({word, f});
        return;
    }
    std::string d;
    std::vector<char> buf(static_cast<size_t>(wbufsiz > 14 ? wbufsiz : 14));
    const long saved = flags;
    flags = f;
    int n = expand(word.c_str(), d, buf, (f & OPT_X) ? 1 : 0);
    flags = saved;
    int taken = 0;
    for (int i = 0; i < n; i++) {
        std::string path =
            d.empty() ? wsortbuf[static_cast<size_t>(i)]
                      : d + (d.back() == '/' ? "" : "/") + wsortbuf[static_cast<size_t>(i)];
        if (mode == 2 && !filexists(path.c_str())) continue; // directories are not sent
        if (!peerok(path)) continue;
        out.push_back({path, f});
        taken++;
    }
    if (taken == 0) zzprintf("No files found: %s\r\n", word.c_str());
}
} // namespace

void exlist(const char* list, int mode) {
    listnames.clear();
    listpos = 0;
    listrefused = 0;
    const char* p = list ? list : "";
    for (;;) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p) break;
        const char* e = p;
        while (*e && *e != ' ' && *e != '\t')
            e++;
        addword(std::string(p, e), mode, false, listnames);
        p = e;
    }
}

bool nxtlist(std::string& name) {
    if (listpos >= listnames.size()) return false;
    name = listnames[listpos].path;
    flags = listnames[listpos].flags;
    listpos++;
    return true;
}

size_t listcount() {
    return listnames.size();
}

// ---- requests ----------------------------------------------------------------------------

namespace {
const char* const kindnames[] = {"XFER", "SEND", "GET", "RCV"};

// Before a re-transfer: the peer's server is stopped and started again around a new call.
// Each dialog runs only when its own string is set. A line that was never dialed is not hung
// up (nothing could dial it again), and the call is made again only when the line was
// reached by connect or a dial, which left its name in `connname`.
int dorexfer() {
    zzprintf("Rexfer #%d\r\n", rexfer);
    comflush();
    if (!stopstr.empty()) {
        zzprintf("Stopserver\r\n");
        dostserver(0);
    }
    if (!connname.empty()) {
        if (!logoutstr.empty() || !hardwired) {
            zzprintf("Hangup\r\n");
            if (hangup(1) != 0) return 1;
        }
        const std::string again = connname; // connecting records it afresh
        zzprintf("Connect %s\r\n", again.c_str());
        if ((conndialled ? dialrec(again.c_str(), 0) : c_connect(again.c_str())) != 0) return 1;
    }
    if (!startstr.empty()) {
        zzprintf("Startserver\r\n");
        if (dostserver(1) != 0) return 1;
    }
    return 0;
}
} // namespace

int dialrec(const char* text, int mode) {
    const int r = docall(text, mode);
    std::string t = text ? text : "";
    t.erase(0, std::min(t.size(), t.find_first_not_of(" \t")));
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.pop_back();
    // "none" marks a hard-wired line: nothing to dial again.
    if (r == 0 && !t.empty() && strcasecmp(t.c_str(), "none") != 0)
        connname = t, conndialled = true;
    return r;
}

int parsexfer(int kind, const char* line) {
    std::string l = line ? line : "";
    while (!l.empty() && (l.back() == ' ' || l.back() == '\t'))
        l.pop_back();
    while (!l.empty() && (l[0] == ' ' || l[0] == '\t'))
        l.erase(0, 1);
    if (kind == 1) return doxferfile(l.c_str(), "", 1);
    if (kind == 3) return doxferfile("", l.c_str(), 3);
    size_t sp = l.find_last_of(" \t");
    if (sp == std::string::npos) return aberr("Usage: GET/XFER <filelist> <destdir>\r\n");
    std::string files = l.substr(0, sp), dest = l.substr(sp + 1);
    return doxferfile(files.c_str(), dest.c_str(), kind);
}

int doxferfile(const char* files, const char* dest, int kind) {
    if (kind < 0 || kind > 3) return 1;
    gtimeout = 0;
    rexfer = 0;
    isxferget = kind == 0 || kind == 2;
    if ((kind == 0 || kind == 1) && (!files || !*files)) return expaberr("Filelist");
    if ((kind == 2 || kind == 3) && (!dest || !*dest))
        return expaberr("Receive directory or drive");
    dolog("", sfmt("%s (%s): %s %s", kindnames[kind], selname(xprotlist, errprot),
                   files ? files : "", dest ? dest : ""));
    auto run = [&] {
        switch (kind) {
        case 0:
            return snd(files, dest);
        case 1:
            return snd(files, "");
        case 2:
            return rcv(files, dest);
        default:
            return rcv("", dest);
        }
    };
    int r = run();
    if (r != 0 && r != 2 && isxferget && (errprot == 0 || errprot == 6)) {
        while (r != 0 && r != 2 && ++rexfer <= restart) {
            if (dorexfer() != 0) break;
            r = run();
        }
    }
    isxferget = 0;
    return r;
}

// ---- time estimates ----------------------------------------------------------------------

namespace {
long xmittime(long bytes) {
    long cps = baud / 10;
    if (cps <= 0) cps = 1;
    long t = (cps + ((bytes + 127) / 128) * 128) / cps + 1;
    if (baud >= 4800) t *= 2;
    return t;
}
void prtime(long t) {
    if (t >= 60) {
        zzprintf("%3ld mins, ", t / 60);
        t %= 60;
    }
    zzprintf("%3ld secs", t);
}
} // namespace

int timefile(const char* filelist) {
    exlist(filelist, 2);
    zzprintf("Filename                   Bytes      Records   Time to transmit\r\n");
    zzprintf("------------------------   --------   -------   ----------------\r\n");
    long total = 0, records = 0;
    int rows = 0;
    std::string name;
    while (nxtlist(name)) {
        long size = filsiz(name.c_str());
        zzprintf("%-24s   %8ld   %7ld   ", name.c_str(), size, size / 128 + 1);
        prtime(xmittime(size));
        zzprintf("\r\n");
        total += size;
        records += (size + 127) / 128;
        if (++rows >= 23) {
            zzprintf("[any key to continue]");
            int k = chrin();
            zzprintf("\r\n");
            if (k == abochar) return 1;
            rows = 0;
        }
    }
    zzprintf("\r\nTOTAL: %ld bytes, %ld records, ", total, records);
    prtime(xmittime(total));
    zzprintf(" at %u baud\r\n", static_cast<unsigned>(baud));
    return 0;
}

// ---- engines not built yet ----------------------------------------------------------------

int ulsend(const char*, int) {
    return aberr("Unformatted send is not built yet\r\n");
}

void xferreset() {
    flags = dflags = 0;
    retries = 10, rtime = 8, stim = 20, htime = 11, compon = 1, statflag = 1, mymachine = 1;
    addeof = 1, fillchar = 0, upflag = 0, restart = 0, isxferget = 0;
    fcnt = fpakcnt = fretcnt = 0;
    fbytcnt = ffilsiz = resfilsiz = 0;
    rexfer = 0, hismachine = 999, mult = renflag = xretval = 0;
    gfilename.clear(), dir.clear(), batchnames.clear(), connname.clear();
    cursend = nullptr, currcv = nullptr, keeppart = false;
    listnames.clear(), listpos = 0;
}
