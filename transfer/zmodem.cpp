// The ZMODEM engine: line glue shared by the receiver and the sender, and the receiver.
#include "transfer/zmodem.h"

#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "script/cmd.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"
#include "transfer/zmline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

using namespace zm;

// ---- line glue ---------------------------------------------------------------------------

// The abort key among the keys typed so far (the others are dropped, as comwait does).
bool LineSource::aborted() {
    if (!canabort) return false;
    for (int k; (k = chrdynh()) != 0;)
        if (k == abochar) return true;
    return false;
}

LineSource::LineSource() {
    // A transfer reads the line in large blocks.
    qresize(comq, COMQBIG);
}

LineSource::~LineSource() {
    if (p_ != e_) {
        // The unread bytes go back in front of whatever arrived since.
        std::vector<uint8_t> rest(p_, e_);
        for (int c; (c = unqchar(comq)) >= 0;)
            rest.push_back(static_cast<uint8_t>(c));
        qresize(comq, static_cast<int>(rest.size()) + 1);
        qclear(comq);
        qwrite(comq, rest.data(), static_cast<int>(rest.size()));
    }
    qresize(comq, COMQSIZE); // never below what it holds
}

int LineSource::take() {
    runs_++;
    int n = unqbytes(comq, buf_ + 1, COMQBIG, -1);
    if (n <= 0) return unqchar(comq) & 0xff; // an entry above 0xff: only its low byte
    p_ = buf_ + 2;
    e_ = buf_ + 1 + n;
    return buf_[1];
}

void LineSource::unget(int c) {
    if (c < 0) return;
    if (p_ == e_) p_ = e_ = buf_ + 1;
    if (p_ == buf_) { // never in practice: one byte is handed back after it was read
        std::memmove(buf_ + 1, buf_, static_cast<size_t>(e_ - p_));
        p_ = buf_ + 1;
        e_++;
    }
    *const_cast<uint8_t*>(--p_) = static_cast<uint8_t>(c);
}

int LineSource::get(int seconds) {
    if (p_ != e_) return *p_++;
    p_ = e_ = nullptr;
    // A line that never runs dry never reaches comwait: the keys are looked at now and then
    // (each run is up to 16 KiB).
    if ((++count_ & 3) == 0 && aborted()) return ABORT;
    if (!qempty(comq)) return take();
    if (comfd < 0) return LOST;
    // What the line already holds is taken without the time-out machinery of comwait (an
    // alarm and a signal handler set and reset on every call); the abort key is still looked
    // for every 100 ms.
    if (const long now = zmnow(); now - keyseen_ < 100) {
        // Output still queued for the line goes out meanwhile.
        for (const long until = now + 50;;) {
            const long left = until - zmnow();
            struct pollfd p {
                comfd, static_cast<short>(POLLIN | (linepending() > 0 ? POLLOUT : 0)), 0
            };
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            waitread(0);
            if (!qempty(comq)) return take();
            if (comfd < 0) return LOST;
        }
    } else {
        keyseen_ = now;
    }
    int c = comwait(seconds < 1 ? 1 : seconds);
    runs_ += c >= 0;
    if (c == -1) return ABORT;
    if (c < 0) return comfd < 0 ? LOST : TIMEOUT;
    return c & 0xff;
}

int LineSource::poll() {
    if (p_ != e_) return *p_++;
    p_ = e_ = nullptr;
    if ((++count_ & 3) == 0 && aborted()) return ABORT;
    if (!qempty(comq)) return take();
    if (comfd < 0) return LOST;
    if (const long now = zmnow(); now - keyseen_ < 100) {
        waitread(0);
        if (!qempty(comq)) return take();
        return comfd < 0 ? LOST : TIMEOUT;
    } else {
        keyseen_ = now;
    }
    int c = comwait(0);
    if (c == -1) return ABORT;
    if (c < 0) return comfd < 0 ? LOST : TIMEOUT;
    return c & 0xff;
}

void zflush(ZmOut& o) {
    const auto* p = reinterpret_cast<const uint8_t*>(o.buf.data());
    size_t left = o.buf.size();
    if (cdelay || ldelay || tdelay || comfd < 0) {
        qcomout(p, static_cast<int>(left), 0);
        left = 0;
    }
    // The driver's block write may take only part of a block when the line is busy.
    for (int stuck = 0; left > 0 && stuck < 30;) {
        const int n = COM->bout(p, static_cast<int>(std::min<size_t>(left, 1 << 16)));
        if (n > 0) {
            p += n, left -= static_cast<size_t>(n), stuck = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
        struct pollfd pf {
            comfd, POLLOUT, 0
        };
        if (::poll(&pf, 1, 1000) <= 0) stuck++;
    }
    o.buf.clear();
}

void zhex(ZmOut& o, int type, uint32_t pos) {
    uint8_t h[4];
    stohdr(h, pos);
    o.zshhdr(type, h);
    zflush(o);
}

void zpurge(LineSource& src, int ms) {
    src.drop();
    qclear(comq);
    if (comfd < 0) return;
    for (int rounds = 0; rounds < 50; rounds++) {
        struct pollfd p {
            comfd, POLLIN, 0
        };
        if (::poll(&p, 1, ms) <= 0) break;
        waitread(0);
        qclear(comq);
    }
}

void canit(ZmOut& o) {
    o.buf.append(10, static_cast<char>(CAN));
    o.buf.append(10, '\b');
    zflush(o);
}

long zmnow() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

long zallowance() {
    const long b = baud < 0 ? 0 : baud > 115200 ? 115200 : baud;
    return 1400 + b;
}

// ---- receiver ----------------------------------------------------------------------------

namespace {

struct Rx {
    explicit Rx(LineSource& line) : src(line) {}
    LineSource& src;
    ZmIn in{src};
    ZmOut out;
    RcvFile rf;
    std::vector<uint8_t> buf = std::vector<uint8_t>(MAXBLK + 1);
    // Verified data not yet written: the file gets it in large writes. A failure loses at most
    // this much of a part file, which a resume then asks for again.
    std::vector<uint8_t> pend;
    std::string attn;
    uint8_t zconv = 0, zmanag = 0, ztrans = 0;
    int skipped = 0, failed = 0;
    long announced = -1;
    int peermode = 0;
    long mtime = 0;
    bool conv = false;
    bool keeppart = false;
    bool vorn = false;  // the sender is another copy of this program (WVornCRC)
    bool asked = false; // the files come for a command of ours (a GET)
};

// One failure of the batch: message, cancel the peer, done(code).
[[noreturn]] void rxfail(Rx& r, const char* msg, int code = 1) {
    if (msg && *msg) xferstats(XS_FATAL, msg);
    canit(r.out); // the peer stops too, after the abort key as well
    zpurge(r.src, 200);
    done(code);
}

// The sender's attention string after an error (a break at most once, and only on a line
// that can send one).
void zmputs(Rx& r) {
    bool broke = false;
    for (unsigned char c : r.attn) {
        if (c == 0xdd) {
            if (!broke && COM->brk && comfd >= 0 && !(COM->flags & COMF_CONNECTION)) COM->brk();
            broke = true;
        } else if (c == 0xde) {
            comwait(1);
        } else {
            r.out.buf += static_cast<char>(c);
        }
    }
    zflush(r.out);
}

// Our own LZW stream is offered only under WVornCRC: a sender of the published protocol would
// take CANLZW for its own compression, which is not ours.
bool lzwwanted() {
    return errprot == 6 && compon && !(dflags & OPT_Z);
}

uint8_t rxflags() {
    uint8_t f = CANFDX | CANOVIO | CANBRK | CANFC32;
    if (escctl) f |= ESCCTL;
    if (esc8bit && errprot == 6) f |= ESC8;
    if (lzwwanted()) f |= CANLZW;
    return f;
}

// Bounded decimal/octal number from the information text.
long infonum(const char*& p, const char* end, int base) {
    while (p < end && *p == ' ')
        p++;
    long v = 0;
    bool any = false;
    while (p < end && *p >= '0' && *p < (base == 8 ? '8' : ':')) {
        if (v > (LONG_MAX - 9) / base) return -1;
        v = v * base + (*p++ - '0');
        any = true;
    }
    return any ? v : -1;
}

// Whether a local file already holds what the management option protects.
bool localwins(const std::string& path, int manag, long rsize, long rtime) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    switch (manag) {
    case ZMPROT:
        return true;
    case ZMNEWL: // newer or longer
        return rtime <= 0 || st.st_mtime >= rtime || (rsize >= 0 && st.st_size >= rsize);
    case ZMNEW:
        return rtime <= 0 || st.st_mtime >= rtime;
    case ZMDIFF:
        return rsize >= 0 && st.st_size == rsize && rtime > 0 && st.st_mtime == rtime;
    default:
        return false;
    }
}

// The sender's destination word, a path on this side: taken only where this side agreed to it,
// which is server mode, and then only for a directory inside the server's directory (the
// current one). Anywhere else a peer could write wherever it liked: the word is ignored. (A side
// that asked the peer for files would take only the destination it sent, which is its own
// `dir` already.) Returns the directory to receive into, "" for `dir`.
std::string zdestword(const std::string& word, bool asked) {
    if (word.empty() || word == "." || (asked && word == dir)) return "";
    if (zmcmdok && word[0] != '/') {
        char here[PATH_MAX], there[PATH_MAX];
        struct stat st {};
        if (realpath(".", here) && realpath(word.c_str(), there) && stat(there, &st) == 0 &&
            S_ISDIR(st.st_mode)) {
            const size_t n = strlen(here);
            if (strncmp(here, there, n) == 0 && (there[n] == '/' || there[n] == 0)) return word;
        }
    }
    xferstats(XS_MSG, sfmt("Destination ignored: %s", peertext(word).c_str()));
    return "";
}

// Opens the output for a ZFILE: 0 to receive, ZSKIP to refuse. The offset to ask for in `at`.
int procheader(Rx& r, size_t count, long& at) {
    const char* info = reinterpret_cast<const char*>(r.buf.data());
    const size_t cap = std::min(count, static_cast<size_t>(1024));
    const size_t namelen = strnlen(info, cap);
    const char* p = info + namelen + 1;
    const char* end = info + cap;
    long size = -1, mtime = 0, mode = 0;
    if (p < end) {
        size = infonum(p, end, 10);
        mtime = infonum(p, end, 8);
        mode = infonum(p, end, 8);
    }
    std::string destdir;
    if (r.vorn && p < end) { // serial number, files left, bytes left, destination word
        for (int i = 0; i < 3; i++)
            infonum(p, end, 10);
        while (p < end && *p == ' ')
            p++;
        const char* w = p;
        while (p < end && *p && *p != ' ')
            p++;
        destdir = zdestword(std::string(w, p), r.asked);
    }
    std::string raw(info, namelen);
    RcvName rn = destdir.empty() ? rcvname(raw.data(), raw.size(), dir, renflag || !mult)
                                 : rcvname(raw.data(), raw.size(), destdir, false);
    if (!rn.ok) {
        xferstats(XS_MSG, sfmt("%s: %s", rn.why.c_str(), peertext(raw).c_str()));
        return ZSKIP;
    }
    if (!mult && fcnt + r.skipped > 0) {
        xferstats(XS_MSG, mfabmsg);
        return ZSKIP;
    }
    // Compressed data only from another copy of this program, and only when offered: stored
    // as they came they would be a wrong file.
    if (r.ztrans == 1 && !(r.vorn && lzwwanted())) {
        xferstats(XS_MSG, sfmt("Compressed data not asked for: %s", peertext(raw).c_str()));
        return ZSKIP;
    }
    std::string path = rn.path;
    const int manag = r.zmanag & ZMMASK;
    struct stat st {};
    const bool exists = lstat(path.c_str(), &st) == 0;
    if ((r.zmanag & ZMSKNOLOC) && !exists) {
        xferstats(XS_MSG, sfmt("No local file, skipped: %s", peertext(rn.name).c_str()));
        return ZSKIP;
    }
    if (exists && localwins(path, manag, size, mtime)) {
        xferstats(XS_MSG, sfmt("File exists, skipped: %s", peertext(rn.name).c_str()));
        return ZSKIP;
    }
    if (exists && manag == ZMCHNG) { // keep the old file: the new one gets a free "name.N"
        std::string alt;
        for (int n = 1; n < 1000 && alt.empty(); n++) {
            std::string c = path + "." + std::to_string(n);
            if (lstat(c.c_str(), &st) != 0 && c.size() < PATH_MAX) alt = c;
        }
        if (alt.empty()) return ZSKIP;
        path = alt;
    }
    for (const auto& b : batchnames)
        if (b == path) {
            xferstats(XS_MSG, sfmt("Duplicate file name in batch: %s", peertext(raw).c_str()));
            return ZSKIP;
        }
    r.conv = r.zconv == ZCNL || (dflags & OPT_CONV);
    // Resume only when the sender asks for it (or the destination says so), never with a
    // conversion; a plain append (ZMAPND) needs the local option as well.
    bool resume = (r.zconv == ZCRESUM || (dflags & OPT_R) ||
                   (manag == ZMAPND && (dflags & OPT_R)) || (isxferget && rexfer)) &&
                  !r.conv && size >= 0;
    gfilename = path;
    xferstats(XS_RCVFILE);
    ffilsiz = size > 0 ? size : 0;
    std::string err;
    if (r.rf.part.open(path, resume, size, at, err) < 0) {
        xferstats(XS_MSG, peertext(err));
        return ZSKIP;
    }
    currcv = &r.rf;
    keeppart = r.keeppart = resume;
    resfilsiz = fbytcnt = at;
    long opts = dflags;
    if (r.zconv == ZCNL) opts |= OPT_U;
    r.rf.begin(opts, r.ztrans == 1, size >= 0 && !r.conv ? size - at : -1);
    r.announced = size;
    r.peermode = mode > 0 ? static_cast<int>(mode) : 0;
    r.mtime = mtime;
    if (at > 0) xferstats(XS_MSG, sfmt("Restarting at %ld", at));
    batchnames.push_back(path);
    xferstats(XS_MSG, sfmt("Receiving %s", peertext(path).c_str()));
    return 0;
}

void closeit(Rx& r) {
    if (!r.rf.finish()) rxfail(r, r.rf.err.c_str());
    if (!r.conv && r.announced >= 0 && fbytcnt != r.announced) {
        // The file changed while it was sent, or the positions went wrong: keep what came.
        keeppart = true;
        xferstats(XS_FATAL, szabmsg);
        r.rf.part.abandon(true);
        currcv = nullptr;
        r.failed++;
        xferstats(XS_FILEEND, "FAIL");
        return;
    }
    const std::string target = r.rf.part.target();
    if (!r.rf.part.commit(r.peermode, rcvsync != 0)) rxfail(r, weabmsg);
    currcv = nullptr;
    const long now = static_cast<long>(time(nullptr));
    if (r.mtime > 0 && r.mtime < now + 86400) {
        struct timespec ts[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(r.mtime), 0}};
        utimensat(AT_FDCWD, target.c_str(), ts, AT_SYMLINK_NOFOLLOW);
    }
    xferstats(XS_TICK);
    xferstats(XS_MSG, sfmt("%d records received", fpakcnt));
    xferstats(XS_FILEEND, "Success");
    fcnt++;
    if (fbytcnt > resfilsiz) rexfer = 0;
}

// Receives the data of the open file from position `pos`: ZEOF, ZSKIP (or fails the batch).
//
// Once data flows, a quiet line means the sender waits for us: a streaming sender never
// pauses inside a subpacket, and one that ended a subpacket with ZCRCW waits for our ZACK.
// When a frame end or our answer was damaged both sides would wait out their time-outs, so
// after RXQUIET seconds we ask again at our position, which every sender takes as a resync.
constexpr int RXQUIET = 1;

constexpr size_t PENDMAX = 32768;

void pendout(Rx& r) {
    if (!r.pend.empty() && !r.rf.wrfile(r.pend.data(), static_cast<int>(r.pend.size())))
        rxfail(r, r.rf.err.c_str());
    r.pend.clear();
}

// Takes the verified subpacket in r.buf (frame end `fe`) and advances the position `pos`.
// Compressed, a ZCRCN subpacket starts a fresh stream (the sender restarted its coder), and
// the position is what the decoder has written: a packet ends on a code group boundary, so
// that is exactly the sender's count.
void rxstore(Rx& r, int fe, long& pos) {
    const int n = static_cast<int>(r.in.rxcount);
    if (!r.rf.docomp()) {
        if (pos + n > 0xffffffffL) rxfail(r, "File too large for protocol");
        r.pend.insert(r.pend.end(), r.buf.data(), r.buf.data() + n);
        if (r.pend.size() >= PENDMAX) pendout(r);
        pos += n;
        return;
    }
    if (fe == GOTCRCN) r.rf.restart(r.announced >= 0 && !r.conv ? r.announced - pos : -1);
    if (!r.rf.wrfile(r.buf.data(), n)) rxfail(r, r.rf.err.c_str());
    pos = fbytcnt;
}

// A ZEOF for a compressed file: the last short code group is decoded now that the stream is
// known to be complete (a short group never comes before the end).
void rxdrain(Rx& r, long& pos) {
    if (!r.rf.docomp()) return;
    if (!r.rf.drain()) rxfail(r, r.rf.err.c_str());
    pos = fbytcnt;
}

int rzfile(Rx& r, long pos) {
    r.pend.clear();
    struct Restore {
        ZmIn& in;
        ~Restore() { in.timeout = 10; }
    } restore{r.in};
    r.in.timeout = RXQUIET;
    int tries = retries;
    long lastrpos = -1; // when the last ZRPOS went out (ms clock of time())
    auto sendrpos = [&] {
        zhex(r.out, ZRPOS, static_cast<uint32_t>(pos));
        lastrpos = zmnow();
    };
    auto error = [&](const char* msg, bool attn) {
        fretcnt++;
        xferstats(XS_RETRY, msg);
        if (--tries < 0) rxfail(r, tmabmsg);
        if (attn) zmputs(r);
        sendrpos();
    };
    // A quiet spell asks again at once, but counts as a retry only every ten seconds.
    int silent = 0;
    auto quiet = [&] {
        if (++silent % (10 / RXQUIET) == 0)
            error(tlinmsg, false);
        else
            sendrpos();
    };
    sendrpos();
    for (;;) {
        const int t = r.in.zgethdr();
        switch (t) {
        case ZDATA: {
            if (static_cast<long>(r.in.rxpos()) != pos) {
                // Stale data from before our last ZRPOS: ask again only now and then, or the
                // requests breed more restarts.
                if (zmnow() - lastrpos >= 1000) error(slinmsg, true);
                continue;
            }
            r.in.allowance = zallowance();
            for (bool more = true; more;) {
                const int c = r.in.zrdata(r.buf.data(), MAXBLK);
                if (c == ZCAN) rxfail(r, "CANCELLED");
                if (c == ABORT) rxfail(r, ccabmsg, 2);
                if (c == LOST) rxfail(r, lostmsg);
                if (c == TIMEOUT) {
                    quiet();
                    break;
                }
                if (c == ERROR) {
                    error(blinmsg, true);
                    break;
                }
                rxstore(r, c, pos);
                fpakcnt++;
                tries = retries;
                silent = 0;
                xferstats(XS_TICK);
                switch (c) {
                case GOTCRCW:
                case GOTCRCN:
                    zhex(r.out, ZACK, static_cast<uint32_t>(pos));
                    r.out.buf += static_cast<char>(XON);
                    zflush(r.out);
                    more = false;
                    break;
                case GOTCRCQ:
                    zhex(r.out, ZACK, static_cast<uint32_t>(pos));
                    break;
                case GOTCRCE:
                    more = false;
                    break;
                default: // ZCRCG
                    break;
                }
            }
            continue;
        }
        case ZEOF:
            rxdrain(r, pos);
            if (static_cast<long>(r.in.rxpos()) != pos) continue; // an old one: ignored
            pendout(r);
            if (r.conv) fbytcnt = fbytcnt > 0 ? fbytcnt : 0;
            closeit(r);
            return ZEOF;
        case ZFILE: // our ZRPOS was lost: the offer again
            r.in.zrdata(r.buf.data(), MAXBLK);
            sendrpos();
            continue;
        case ZSKIP:
            pendout(r);
            r.rf.part.abandon(r.keeppart);
            currcv = nullptr;
            xferstats(XS_MSG, "Sender SKIPPED file");
            return ZSKIP;
        case ZNAK:
            error("NAK Received", false);
            continue;
        case TIMEOUT:
            quiet();
            continue;
        case ERROR:
            // Garbage while the data sent before our ZRPOS drains is expected: hunt on, and
            // count it only once the request has had time to take effect.
            if (zmnow() - lastrpos >= 1000) error(llinmsg, true);
            continue;
        case ZCAN:
            rxfail(r, cxabmsg);
        case ABORT:
            rxfail(r, ccabmsg, 2);
        case LOST:
            rxfail(r, lostmsg);
        case ZFIN:
            rxfail(r, "Premature ZFIN");
        default:
            error(sfmt("GETHDR FAIL %d", t).c_str(), false);
            continue;
        }
    }
}

// The end of the batch: our ZFIN, then the sender's "OO".
void ackbibi(Rx& r) {
    for (int n = 0; n < 3; n++) {
        // The files are all in place: the sender's "OO" is a courtesy, and on a line that
        // hangs up as the sender ends it is often lost, so it is not waited for long.
        zhex(r.out, ZFIN, 0);
        int c = TIMEOUT;
        for (const long until = zmnow() + 500; c == TIMEOUT && zmnow() < until;) {
            struct pollfd p {
                comfd, POLLIN, 0
            };
            c = r.src.poll();
            if (c == TIMEOUT && comfd >= 0) ::poll(&p, 1, 20);
        }
        if (c == 'O') {
            r.src.poll();
            return;
        }
        if (c < 0) return; // a time-out, or the peer hung up after its "OO" went out
    }
}

// A command frame from the peer: runs only when allowed; the result goes back in ZCOMPL.
void zcommand(Rx& r, size_t count) {
    std::string cmd(reinterpret_cast<const char*>(r.buf.data()),
                    strnlen(reinterpret_cast<const char*>(r.buf.data()), std::min(count, MAXBLK)));
    const bool allowed = cflag || zmcmdok;
    int result = 1;
    // The command may run a transfer of its own (the peer's GET makes this side send): the
    // names it takes stay inside this directory, and this receive goes on afterwards.
    struct Guard {
        bool wassending = sending;
        int files = fcnt;
        Guard() { peerlist = true; }
        ~Guard() { restore(); }
        void restore() { peerlist = false, sending = wassending, fcnt = files; }
    } guard;
    if (!allowed) {
        xferstats(XS_MSG, sfmt("Remote command refused: %s", peertext(cmd).c_str()));
    } else if (!cmd.empty() && cmd[0] == '!') {
        if (!zmshell) {
            xferstats(XS_MSG, sfmt("Remote shell command refused: %s", peertext(cmd).c_str()));
        } else {
            result = docmd(cmd.c_str()) != 0;
        }
    } else if (!cmd.empty() && cmd[0] == '?') {
        xferstats(XS_MSG, peertext(cmd.substr(1)));
        result = 0;
    } else {
        xferstats(XS_MSG, sfmt("Remote command: %s", peertext(cmd).c_str()));
        result = docmd(cmd.c_str()) != 0;
    }
    guard.restore();
    if (allowed && (r.in.hdr[ZF0] & 1)) result = 0; // ZCACK1: acknowledged before it ran
    for (int n = 0; n <= retries; n++) {
        zhex(r.out, ZCOMPL, static_cast<uint32_t>(result));
        const int t = r.in.zgethdr();
        if (t == ZFIN) {
            ackbibi(r);
            break;
        }
        if (t == ZCAN || t == ABORT || t == LOST) break;
    }
    done(result ? 1 : 0);
}

// A ZRQINIT's machine byte marks a WVornCRC sender that is another copy of this program.
void vornpeer(Rx& r) {
    if (errprot == 6 && r.in.hdr[ZF1] == ZVORNBITS) {
        r.vorn = true;
        hismachine = setvornbits(r.in.hdr[ZF1]);
    }
}

// The batch: invitations, file offers and commands until the sender's ZFIN; the result.
// `heard`: the sender has already spoken (it asked for our invitation).
int rzbatch(Rx& r, bool heard) {
    int hdrtype = ZRINIT;
    int tries = retries;
    bool invite = true;
    int silent = 0, idle = 0;
    for (;;) {
        if (invite) {
            // Under WVornCRC ZF1 carries the machine byte; a plain ZMODEM peer sees 0 there.
            uint8_t h[4] = {0, 0, static_cast<uint8_t>(errprot == 6 ? ZVORNBITS : 0), rxflags()};
            r.out.zshhdr(hdrtype, h);
            zflush(r.out);
            hdrtype = ZRINIT;
        }
        invite = true;
        // Once the sender has been heard from it answers at once; before that it may take its
        // time (a person may still be starting it), and a quiet line is invited again only
        // every ten seconds.
        r.in.timeout = RXQUIET;
        const unsigned long runs = r.src.runs();
        const int t = r.in.zgethdr();
        if (t >= 0) heard = true;
        switch (t) {
        case ZRQINIT:
            vornpeer(r);
            continue;
        case ZEOF:
            continue;
        case TIMEOUT:
        case ERROR: {
            // Bytes that made no header before the sender was heard from: it is there, and
            // what it sent (its first offer) was lost to noise.
            const bool there = heard || t == ERROR || r.src.runs() != runs;
            if (!there && ++idle % 10 != 0) {
                invite = false;
                continue;
            }
            // A quiet spell counts as a retry only every third time: the wait is short.
            if ((t == ERROR || !heard || ++silent % 3 == 0) && --tries < 0) {
                if (fcnt == 0 && r.skipped == 0) gtimeout = 1;
                rxfail(r, fcnt == 0 && r.skipped == 0 ? htabmsg : tmabmsg);
            }
            if (there) {
                // A damaged header, or a quiet spell once the sender has been heard from: the
                // sender waits for our answer to a header we could not read: its offer,
                // its ZFIN, or the ZEOF whose ZRINIT it missed. A ZNAK makes it send that
                // again at once (a sender that missed our ZRINIT answers with a ZNAK, which
                // brings the ZRINIT again). A ZRINIT would not do: lrzsz sz takes one that
                // arrives after its offer as a crossing and waits five seconds for a further
                // header before it offers again, so ZRINITs repeated more often than that
                // keep it waiting until our retries run out.
                zhex(r.out, ZNAK, 0);
                invite = false;
            }
            continue;
        }
        case ZSINIT: {
            const uint8_t f = r.in.hdr[ZF0];
            if (f & (ESCCTL | ESC8)) r.in.ctlesc = r.out.ctlesc = true;
            if (errprot == 6 && r.in.hdr[ZF1] == ZVORNBITS) {
                r.vorn = true;
                hismachine = setvornbits(r.in.hdr[ZF1]);
                // The line passes 7 bits: the sender armours everything; bit 7 is parity.
                if (f & ESC8) r.in.esc8 = r.out.esc8 = true;
            }
            const int c = r.in.zrdata(r.buf.data(), MAXBLK);
            if (c == GOTCRCW) {
                r.attn.assign(reinterpret_cast<const char*>(r.buf.data()),
                              strnlen(reinterpret_cast<const char*>(r.buf.data()),
                                      std::min<size_t>(r.in.rxcount, 32)));
                zhex(r.out, ZACK, 1);
            } else {
                zhex(r.out, ZNAK, 0);
            }
            invite = false;
            continue;
        }
        case ZFREECNT:
            zhex(r.out, ZACK, 0xffffffffu);
            invite = false;
            continue;
        case ZCOMMAND: {
            const int c = r.in.zrdata(r.buf.data(), MAXBLK);
            if (c == GOTCRCW) zcommand(r, r.in.rxcount);
            zhex(r.out, ZNAK, 0);
            invite = false;
            continue;
        }
        case ZFILE: {
            r.zconv = r.in.hdr[ZF0];
            r.zmanag = r.in.hdr[ZF1];
            r.ztrans = errprot == 6 ? r.in.hdr[ZF2] : 0; // lrzsz never sets it
            const int c = r.in.zrdata(r.buf.data(), MAXBLK);
            if (c != GOTCRCW) {
                zhex(r.out, ZNAK, 0);
                invite = false;
                continue;
            }
            tries = retries;
            long at = 0;
            if (procheader(r, r.in.rxcount, at) == ZSKIP) {
                r.skipped++;
                xferstats(XS_FILEEND, "Skipped");
                hdrtype = ZSKIP;
                continue;
            }
            if (rzfile(r, at) == ZSKIP) {
                r.skipped++;
                xferstats(XS_FILEEND, "Skipped");
            }
            continue;
        }
        case ZFIN:
            ackbibi(r);
            return r.skipped || r.failed ? 1 : 0;
        case ZCOMPL:
            invite = false;
            continue;
        case ZCAN:
            rxfail(r, cxabmsg);
        case ABORT:
            rxfail(r, ccabmsg, 2);
        case LOST:
            rxfail(r, lostmsg);
        default:
            continue;
        }
    }
}

} // namespace

void rcvzm() {
    LineNonblock nb;
    LineSource line;
    Rx r(line);
    fcnt = fpakcnt = fretcnt = 0;
    fbytcnt = ffilsiz = resfilsiz = 0;
    r.in.allowance = zallowance();
    r.in.ctlesc = escctl != 0;
    r.out.ctlesc = escctl != 0;
    xferstats(XS_BEGIN);
    if (comfd < 0 || COM == &nulfunc) rxfail(r, "No line to receive from");
    done(rzbatch(r, false));
}

int rcvz2(LineSource& line, const uint8_t* rqhdr) {
    Rx r(line);
    r.asked = true;
    r.in.allowance = zallowance();
    r.in.ctlesc = escctl != 0;
    r.out.ctlesc = escctl != 0;
    std::copy_n(rqhdr, 4, r.in.hdr);
    vornpeer(r);
    sending = false;
    return rzbatch(r, true);
}

int setvornbits(int b) {
    const int sys = b & 0x0f;
    return sys == 9 ? 2 : sys == 1 || sys == 11 ? 0 : 1;
}

// ---- auto-start --------------------------------------------------------------------------

namespace {
bool zmseen = false; // a ZRQINIT arrived in terminal mode
} // namespace

bool zmautostart(int c) {
    // "**" ZDLE "B00" opens a hex ZRQINIT; the rest of the header is garbage to the receiver's
    // first header hunt, and the receiver invites at once with ZRINIT.
    static const char pat[] = "**\x18"
                              "B00";
    static size_t matched = 0;
    if (!zmauto) {
        matched = 0;
        return false;
    }
    c &= 0x7f;
    if (c == pat[matched]) {
        if (++matched == sizeof pat - 1) {
            matched = 0;
            zmseen = true;
            return true;
        }
        return false;
    }
    matched = c == '*' ? (matched == 2 ? 2 : 1) : 0;
    return false;
}

void zmautorcv() {
    if (!zmseen) return;
    zmseen = false;
    const int keep = errprot;
    if (errprot != 6 && errprot != 7) errprot = 7;
    rcv("", ".");
    errprot = keep;
}

// ---- server mode -------------------------------------------------------------------------

int rcvzmodem() {
    zmcmdok = 1;
    const int r = rcv("", ".");
    zmcmdok = 0;
    return r;
}
