// The ZMODEM sender: invitation, file offers, streamed data with a window, resynchronisation.
#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "script/var.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"
#include "transfer/zmline.h"
#include "transfer/zmodem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zm;

namespace {

constexpr size_t OUTBLOCK = 16384;  // output is written in blocks of about this size
constexpr size_t READAHEAD = 65536; // the file is read in blocks of this size

struct Tx {
    LineSource src;
    ZmIn in{src};
    ZmOut out;
    SendFile f;
    std::string path;
    long opts = 0;
    bool use32 = false;
    int rxflags = 0;
    bool vorn = false; // the receiver is another copy of this program (WVornCRC)
    // LZW compression, only between two copies of this program: `canlzw` when the receiver
    // takes it, `comp` for the file being sent. After every restart of the coder (`zbase` is
    // where it started) the next subpacket ends with ZCRCN, which restarts the decoder too.
    bool canlzw = false, comp = false, docrcc = false;
    long zbase = 0;
    long rxbuflen = 0;
    long window = 0, wspac = 0;
    // The window follows the line speed; a line that carries bytes much faster than its
    // nominal speed (a pseudo-terminal, a network link) grows it while no error came.
    bool grow = false;
    long wstart = 0, wstartpos = 0; // clock and Txpos when the data of the file began
    int blklen = 1024;
    long txpos = 0, lrxpos = 0, lastsync = -1;
    int beenhere = 0;
    long lastq = 0; // Txpos at the last subpacket that asks for a ZACK
    long seenbps = 0; // the best rate the receiver acknowledged so far, bytes per second
    int skipped = 0, failed = 0;
    std::vector<uint8_t> buf = std::vector<uint8_t>(MAXBLK);
    // Read-ahead: the file is read in large blocks and cut into subpackets.
    std::vector<uint8_t> ahead = std::vector<uint8_t>(READAHEAD);
    size_t ahp = 0, ahe = 0;
};

[[noreturn]] void txfail(Tx& t, const char* msg, int code = 1) {
    if (msg && *msg) xferstats(XS_FATAL, msg);
    canit(t.out); // the peer stops too, after the abort key as well
    zpurge(t.src, 200);
    done(code);
}

// Ends the transfer when the peer cancelled, the user pressed the abort key or the line went.
void endifgone(Tx& t, int c) {
    if (c == ZCAN) txfail(t, cxabmsg);
    if (c == ABORT) txfail(t, ccabmsg, 2);
    if (c == LOST) txfail(t, lostmsg);
}

void bhdr(Tx& t, int type, uint32_t pos) {
    uint8_t h[4];
    stohdr(h, pos);
    t.out.zsbhdr(type, h, t.use32);
}

// Up to `want` bytes of the file into `out`; fewer only at its end (`last`), or -1 on a read
// error. Compressed, one packet of the coder: `want` bytes or a few more.
int rdblk(Tx& t, uint8_t* out, int want, bool& last) {
    if (t.f.compressing()) return t.f.rdzpacket(out, want, last);
    int got = 0;
    while (got < want) {
        if (t.ahp == t.ahe) {
            const int n = t.f.rdfile(t.ahead.data(), static_cast<int>(t.ahead.size()));
            if (n < 0) return -1;
            if (n == 0) break;
            t.ahp = 0;
            t.ahe = static_cast<size_t>(n);
        }
        const size_t k = std::min(static_cast<size_t>(want - got), t.ahe - t.ahp);
        std::copy_n(t.ahead.data() + t.ahp, k, out + got);
        t.ahp += k;
        got += static_cast<int>(k);
    }
    last = got < want;
    return got;
}

// Positions the file at `p`; a converted file is read again from the start.
// A compressing coder starts afresh there.
bool zseek(Tx& t, long p) {
    t.ahp = t.ahe = 0;
    const bool comp = t.f.compressing();
    if (comp) t.docrcc = true, t.zbase = p;
    if (t.f.seek(p)) return true;
    if (!(t.opts & OPT_CONV)) return false;
    if (!t.f.open(t.path, t.opts)) return false;
    for (long left = p; left > 0;) {
        const int n = t.f.rdfile(t.buf.data(), static_cast<int>(std::min<long>(left, 1024)));
        if (n <= 0) return false;
        left -= n;
    }
    if (comp) t.f.compress(true);
    return true;
}

// Where the receiver is once it has everything sent so far.
long ztxpos(Tx& t, int n) {
    return t.f.compressing() ? t.zbase + t.f.coder()->pos() : t.txpos + n;
}

constexpr long WINMAX = 1L << 18;

long winbyspeed() {
    return baud < 19200 ? 10240 : 20480;
}

// At a full window: doubles it when the line has carried more than twice what its nominal
// speed allows since the data began (the speed is then only a setting of the port).
void growwindow(Tx& t) {
    if (!t.grow || t.window >= WINMAX) return;
    const long ms = zmnow() - t.wstart;
    const long nominal = (baud > 0 ? baud : 9600) / 10; // bytes per second
    if ((t.txpos - t.wstartpos) * 1000 <= 2 * nominal * std::max(ms, 1L)) return;
    t.window = std::min(t.window * 2, WINMAX);
    t.wspac = t.window / 4;
}

// Seconds to wait for an answer that should come at once, `inflight` bytes after the last
// one sent. On a line seen to carry them within a quarter second, one: an answer lost to noise
// then costs a second, not the full `full`. A repeat (`retry`) always waits `full`, so an answer
// slower than thought is never asked for in a row.
int answerwait(Tx& t, long inflight, int full, bool retry = false) {
    if (const long ms = zmnow() - t.wstart; t.lrxpos > t.wstartpos && ms > 0)
        t.seenbps = std::max(t.seenbps, (t.lrxpos - t.wstartpos) * 1000 / ms);
    if (retry) return full;
    const long bps = std::max<long>((baud > 0 ? baud : 9600) / 10, t.seenbps);
    return (std::max(inflight, 0L) + 256) * 4 < bps ? 1 : full;
}

// Reads the receiver's answer. `wantack`: any ZACK returns; otherwise only one at Txpos.
// `data`: while data flows a damaged header reads as a time-out, so the caller asks at once
// with an empty ZCRCW (answered by a ZACK or a ZRPOS); a ZNAK would leave lrzsz rz reading a
// subpacket that never comes until its own time-out.
int getinsync(Tx& t, bool wantack, int seconds, bool data = false) {
    zflush(t.out);
    t.in.timeout = seconds;
    for (int junk = 0;;) {
        const int c = t.in.zgethdr();
        switch (c) {
        case ZRPOS: {
            const long p = static_cast<long>(t.in.rxpos());
            if (p > t.f.size() && !(t.opts & OPT_CONV)) txfail(t, roabmsg);
            if (!zseek(t, p)) txfail(t, seabmsg);
            if (p != t.txpos) {
                if (t.grow) t.window = std::min(t.window, winbyspeed());
                t.grow = false;
                t.wspac = t.window / 4;
                fretcnt++;
                xferstats(XS_RETRY, sfmt("Resyncing back %ld bytes", t.txpos - p));
            }
            t.txpos = t.lrxpos = fbytcnt = p;
            if (p == t.lastsync) {
                if (++t.beenhere > 4) {
                    if (t.blklen > 32) t.blklen /= 2;
                    if (t.window && t.window > t.blklen) {
                        t.window = t.blklen / 64 * 64;
                        if (t.window < 64) t.window = 64;
                        t.wspac = t.window / 4;
                    }
                    xferstats(XS_MSG, sfmt("Decreasing packet/window size to %d/%u", t.blklen,
                                           static_cast<unsigned>(t.window)));
                    t.beenhere = 0;
                }
            }
            t.lastsync = p;
            return c;
        }
        case ZACK:
            t.lrxpos = static_cast<long>(t.in.rxpos());
            if (wantack || t.lrxpos == t.txpos) return c;
            continue;
        case ZRINIT:
        case ZSKIP:
        case TIMEOUT:
            return c;
        case ZNAK: // the receiver saw a damaged header: what was sent goes again
            fretcnt++;
            xferstats(XS_RETRY, blinmsg);
            return data ? TIMEOUT : ZNAK;
        case ABORT:
            txfail(t, ccabmsg, 2);
        case LOST:
            txfail(t, lostmsg);
        case ZCAN:
        case ZABORT:
        case ZFIN:
            txfail(t, cxabmsg);
        default:
            fretcnt++;
            xferstats(XS_RETRY, blinmsg);
            if (data) return TIMEOUT;
            if (++junk > retries) txfail(t, tmabmsg);
            bhdr(t, ZNAK, 0);
            zflush(t.out);
            continue;
        }
    }
}

// Streams the data from Txpos; 0 when the receiver has the file, ZSKIP, or fails.
int zsendfdata(Tx& t) {
    int tries = retries;
    for (;;) { // one frame
        bhdr(t, ZDATA, static_cast<uint32_t>(t.txpos));
        t.lastq = t.lrxpos; // what was asked before a resync may never be answered
        long sincewq = 0;   // bytes since the last ZCRCQ
        int answer = -100;
        bool eof = false;
        while (answer == -100) {
            // A compressed packet may run 23 bytes past what it is asked for.
            const int want = t.f.compressing() ? std::max(32, t.blklen - 24) : t.blklen;
            bool last = false;
            const int n = rdblk(t, t.buf.data(), want, last);
            if (n < 0) txfail(t, "File read error");
            int fe;
            if (t.docrcc) { // the decoder restarts with this subpacket
                fe = ZCRCN;
                t.docrcc = false;
                eof = last;
            } else if (last) {
                fe = ZCRCE;
                eof = true;
            } else if (t.rxbuflen && t.txpos + n - t.lrxpos > t.rxbuflen) {
                fe = ZCRCW;
            } else if (t.window && sincewq + n >= t.wspac) {
                fe = ZCRCQ;
                sincewq = 0;
            } else {
                fe = ZCRCG;
                sincewq += n;
            }
            t.out.zsdata(t.buf.data(), static_cast<size_t>(n), fe);
            t.txpos = ztxpos(t, n);
            if (fe == ZCRCQ || fe == ZCRCW || fe == ZCRCN) t.lastq = t.txpos;
            fbytcnt = t.txpos;
            fpakcnt++;
            const bool flush = t.out.buf.size() >= OUTBLOCK || fe == ZCRCW || fe == ZCRCN || eof;
            if (flush) zflush(t.out);
            xferstats(XS_TICK);
            if (eof) break;
            if (fe == ZCRCW || fe == ZCRCN) {
                answer = getinsync(t, true, answerwait(t, t.txpos - t.lrxpos, 3), true);
                break;
            }
            // The reverse channel: a header means the receiver wants something. It is looked
            // at when a block went out (nothing new reached the receiver before that).
            for (; flush;) {
                const int c = t.src.poll();
                if (c == TIMEOUT) break;
                if (c == ABORT) txfail(t, ccabmsg, 2);
                if (c == LOST) txfail(t, lostmsg);
                if (c == ZPAD || c == CAN) {
                    // A header, or noise that looks like its start: a short wait either way.
                    t.src.unget(c);
                    const int a = getinsync(t, true, answerwait(t, 0, 2), true);
                    if (a == ZACK) continue;
                    answer = a;
                    break;
                }
                if ((c & 0x7f) == XOFF) {
                    // Held by the receiver; an XOFF made by noise is never followed by an
                    // XON, so sending goes on after a while anyway.
                    zflush(t.out);
                    for (int x = t.src.get(2); x >= 0 && (x & 0x7f) != XON; x = t.src.get(2)) {
                        if (x == ZPAD || x == CAN) {
                            t.src.unget(x);
                            break;
                        }
                    }
                }
            }
            if (answer != -100) break;
            // The window: wait for acknowledgements before running too far ahead.
            // A ZCRCQ already on its way brings the ZACK; only without one is an empty one
            // sent.
            if (t.window && t.txpos - t.lrxpos >= t.window) growwindow(t);
            while (t.window && t.txpos - t.lrxpos >= t.window) {
                const bool asked = t.lastq > t.lrxpos;
                if (!asked) {
                    t.out.zsdata(t.buf.data(), 0, ZCRCQ);
                    t.lastq = t.txpos;
                }
                // A ZACK lost to noise is not waited for long: an empty ZCRCQ asks again.
                const int a = getinsync(t, true, asked ? 1 : answerwait(t, t.txpos - t.lrxpos, 2),
                                        true);
                if (a == ZACK) continue;
                if (a == TIMEOUT && asked) {
                    t.lastq = t.lrxpos;
                    continue;
                }
                answer = a;
                break;
            }
        }
        if (eof) {
            for (bool again = false;; again = true) {
                bhdr(t, ZEOF, static_cast<uint32_t>(t.txpos));
                answer = getinsync(t, false, answerwait(t, t.txpos - t.lrxpos, 3, again), true);
                if (answer == ZACK) continue;
                if (answer == TIMEOUT) {
                    fretcnt++;
                    xferstats(XS_RETRY, tlinmsg);
                    if (--tries < 0) txfail(t, tmabmsg);
                    // A receiver still inside the last subpacket (its frame end was damaged)
                    // reads this frame end, fails the CRC and asks again; to one that waits
                    // for a header it is garbage.
                    t.out.zsdata(t.buf.data(), 0, ZCRCE);
                    continue;
                }
                break;
            }
        }
        switch (answer) {
        case ZRINIT:
            if (t.txpos < t.f.size() && !(t.opts & OPT_CONV)) return ERROR; // cut short
            return 0;
        case ZSKIP:
            return ZSKIP;
        case ZRPOS: // the receiver is there: only silence in a row counts against `retries`
            tries = retries;
            zpurge(t.src, 0);
            continue;
        case ZACK:
            tries = retries;
            continue;
        case TIMEOUT:
            // Answers lost: an empty ZCRCW at our position brings a ZACK or a ZRPOS.
            fretcnt++;
            xferstats(XS_RETRY, tlinmsg);
            if (--tries < 0) txfail(t, tmabmsg);
            bhdr(t, ZDATA, static_cast<uint32_t>(t.txpos));
            t.out.zsdata(t.buf.data(), 0, ZCRCW);
            answer = getinsync(t, true, answerwait(t, t.txpos - t.lrxpos, 3, tries < retries - 1),
                               true);
            if (answer == ZRINIT) return t.txpos < t.f.size() ? ERROR : 0;
            if (answer == ZSKIP) return ZSKIP;
            continue;
        default:
            return ERROR;
        }
    }
}

// CRC-32 of the first `n` bytes of the file (all when n is 0), for a ZCRC request.
uint32_t filecrc(Tx& t, long n) {
    if (!zseek(t, 0)) return 0;
    uint32_t crc = 0;
    long left = n > 0 ? n : t.f.size();
    while (left > 0) {
        const int k = t.f.rdfile(t.buf.data(), static_cast<int>(std::min<long>(left, 8192)));
        if (k <= 0) break;
        crc = crc32(crc, t.buf.data(), static_cast<size_t>(k));
        left -= k;
    }
    return crc;
}

// Offers one file and sends it: 0, ZSKIP or ERROR.
int zsendfile(Tx& t, const std::string& info) {
    for (int tries = 0; tries <= retries; tries++) {
        uint8_t h[4] = {};
        h[ZF0] = static_cast<uint8_t>((t.opts & OPT_R) || rexfer ? ZCRESUM
                                      : (t.opts & OPT_CONV)      ? ZCNL
                                                                 : ZCBIN);
        h[ZF2] = t.comp ? 1 : 0; // ZTLZW: the data come LZW-compressed
        t.out.zsbhdr(ZFILE, h, t.use32);
        t.out.zsdata(reinterpret_cast<const uint8_t*>(info.data()), info.size(), ZCRCW);
        for (int inits = 0;;) {
            // After a ZRINIT only a short wait: a receiver that saw the offer answers it at
            // once, and one that did not (lrzsz rz invites again at once when it could not read
            // the offer) waits for the next.
            const int c = getinsync(t, true,
                                    inits ? answerwait(t, 0, 2)
                                          : answerwait(t, static_cast<long>(info.size()), 5,
                                                       tries > 0));
            // A ZRINIT that crossed the offer (the answer to an earlier invitation) is no
            // reason to offer again; a few in a row are.
            if (c == ZRINIT && ++inits < 3) continue;
            if (c == ZSKIP) return ZSKIP;
            if (c == ZRPOS) {
                const long p = t.txpos;
                if (p > 0) xferstats(XS_MSG, sfmt("Restarting at %ld", p));
                resfilsiz = p;
                t.wstart = zmnow();
                t.wstartpos = p;
                t.lastsync = p - 1;
                t.beenhere = 0;
                if (t.comp) { // the file is already at p
                    t.f.compress(true);
                    t.docrcc = true;
                    t.zbase = p;
                }
                return zsendfdata(t);
            }
            if (c == ZCRC) {
                zhex(t.out, ZCRC, filecrc(t, static_cast<long>(t.in.rxpos())));
                continue;
            }
            break; // ZRINIT (the offer was not seen), ZNAK, a time-out: offer again
        }
    }
    return ERROR;
}

void sendone(Tx& t, const std::string& path) {
    gfilename = path;
    t.path = path;
    t.opts = flags;
    xferstats(XS_SENDFILE);
    if (!t.f.open(path, t.opts)) {
        xferstats(XS_MSG, sfmt("Can't open %s", peertext(path).c_str()));
        t.failed++;
        return;
    }
    if (t.f.size() > 0xffffffffL) {
        t.f.close();
        xferstats(XS_MSG, sfmt("File too large for protocol: %s", peertext(path).c_str()));
        t.failed++;
        return;
    }
    cursend = &t.f;
    std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    struct stat st {};
    stat(path.c_str(), &st);
    std::string info = base;
    info += '\0';
    char num[96];
    snprintf(num, sizeof num, "%ld %lo %o 0 0 0", t.f.size(), static_cast<long>(st.st_mtime),
             static_cast<unsigned>(st.st_mode & 07777));
    info += num;
    // Where the receiver is to put the file, when it is another copy of this program.
    if (t.vorn && !zmdest.empty() && info.size() + zmdest.size() < 1000) info += ' ' + zmdest;
    info += '\0';
    xferstats(XS_MSG, sfmt("Sending %s", peertext(path).c_str()));
    t.txpos = t.lrxpos = 0;
    fbytcnt = 0;
    t.comp = t.canlzw && !(t.opts & OPT_Z);
    t.docrcc = false;
    const int r = zsendfile(t, info);
    std::string records = sfmt("%d records transferred", fpakcnt);
    if (const LzwCoder* c = t.f.coder())
        records += ", compression factor " + prratio(c->incount() - c->bytesout(), c->incount());
    t.f.close();
    cursend = nullptr;
    if (r == 0) {
        xferstats(XS_MSG, records);
        xferstats(XS_FILEEND, "Success");
        if (fbytcnt > resfilsiz) rexfer = 0;
        fcnt++;
    } else if (r == ZSKIP) {
        xferstats(XS_MSG, "Remote create error, file skipped");
        xferstats(XS_FILEEND, "Skipped");
        t.skipped++;
    } else {
        xferstats(XS_FILEEND, "FAIL");
        txfail(t, "");
    }
}

// Waits for the receiver's ZRINIT, answering what comes before it.
// A command is for a peer that is there now: one that does not answer soon is not waited for.
void getzrxinit(Tx& t) {
    const bool cmd = !zmcmd.empty();
    for (int tries = 0;; tries++) {
        if (tries > (cmd ? 3 : retries)) {
            gtimeout = 1;
            txfail(t, htabmsg);
        }
        if (tries % 2 == 0) {
            // Under WVornCRC the machine byte in ZF1 tells a receiver that is this program;
            // ZF0 says a command follows.
            uint8_t h[4] = {0, 0, static_cast<uint8_t>(errprot == 6 ? ZVORNBITS : 0),
                            static_cast<uint8_t>(cmd ? ZCOMMAND : 0)};
            t.out.zshhdr(ZRQINIT, h);
            zflush(t.out);
        }
        t.in.timeout = cmd ? 2 : 5;
        const int c = t.in.zgethdr();
        switch (c) {
        case ZRINIT: {
            t.rxflags = t.in.hdr[ZF0];
            t.use32 = (t.rxflags & CANFC32) != 0;
            if (t.rxflags & (ESCCTL | ESC8)) t.out.ctlesc = true;
            t.rxbuflen = t.in.hdr[ZP0] | t.in.hdr[ZP1] << 8;
            if (!(t.rxflags & CANFDX)) t.window = 0;
            if (t.rxbuflen && t.blklen > t.rxbuflen) t.blklen = static_cast<int>(t.rxbuflen);
            t.vorn = errprot == 6 && t.in.hdr[ZF1] == ZVORNBITS;
            if (t.vorn) hismachine = setvornbits(t.in.hdr[ZF1]);
            // Our own stream format, which a receiver of the published protocol could not read
            // even if it said CANLZW.
            t.canlzw = t.vorn && compon && (t.rxflags & CANLZW);
            return;
        }
        case ZCHALLENGE:
            zhex(t.out, ZACK, t.in.rxpos());
            continue;
        case ZCAN:
        case ABORT:
        case LOST:
            endifgone(t, c);
            continue;
        case TIMEOUT:
        case ZRQINIT: // the other side sends as well, or our invitation crossed its own
            continue;
        case ZFIN:
        case ZCOMPL:
        case ZACK:
            // The end of the last session still on its way (a receiver repeats its ZFIN until
            // it sees our "OO"): a ZNAK would only bring one more invitation.
            continue;
        default:
            zhex(t.out, ZNAK, 0);
            continue;
        }
    }
}

// WVornCRC between two copies of this program: ZSINIT with the machine byte and the escape
// flags. With 7-bit escaping (ours, or asked for by the receiver) every header and subpacket
// from here on is armoured; the receiver learns that from this frame.
void sendzsinit(Tx& t) {
    const bool arm = esc8bit || (t.rxflags & ESC8);
    uint8_t h[4] = {};
    h[ZF1] = ZVORNBITS;
    h[ZF0] = static_cast<uint8_t>((t.out.ctlesc ? ESCCTL : 0) | (arm ? ESC8 : 0));
    if (arm) {
        t.out.esc8 = t.in.esc8 = true;
        t.blklen = std::min(t.blklen, 512); // an armoured subpacket is a third longer
    }
    const uint8_t attn = 0;
    for (int tries = 0, inits = 0; tries <= retries; tries++) {
        if (arm)
            t.out.zsbhdr(ZSINIT, h, false);
        else
            t.out.zshhdr(ZSINIT, h);
        t.out.zsdata(&attn, 1, ZCRCW);
        zflush(t.out);
        t.in.timeout = 5;
        int c = t.in.zgethdr();
        // Answers to our earlier invitations are read past: a ZSINIT for each would bring a
        // ZACK for each, which the command or the first offer then takes for noise. A lost
        // ZSINIT brings a ZNAK from the receiver.
        while (c == ZRINIT && ++inits < 16)
            c = t.in.zgethdr();
        if (c == ZACK) return;
        endifgone(t, c);
    }
    txfail(t, tmabmsg);
}

// The end of a command session. A receiver that refused the command may leave at once
// (lrzsz rz does) and never answer the ZFIN, so it is not asked for long.
void zcmdbye(Tx& t) {
    for (int n = 0; n < 2; n++) {
        zhex(t.out, ZFIN, 0);
        t.in.timeout = 1;
        const int c = t.in.zgethdr();
        if (c == ZFIN) {
            t.out.buf += "OO";
            zflush(t.out);
            return;
        }
        if (c == ZCAN || c == ABORT || c == LOST) return;
    }
}

// Sends the command frame (ZF0 0: completion wanted) and waits for the peer's ZCOMPL, whose
// position is the command's result. Another copy of this program answers a refused command at
// once and a run one when it is done. A receiver of the published protocol that refuses
// commands may say nothing at all and leave (lrzsz rz does), so it is not waited for long.
// A command that makes the peer send (its GET) brings a ZRQINIT: the files are received here,
// and the ZCOMPL follows the end of that batch.
int zsendcmd(Tx& t, const std::string& cmd) {
    xferstats(XS_MSG, sfmt("Remote command: %s", peertext(cmd).c_str()));
    int got = -1; // the result of the files received for the command
    long sent = 0;
    for (int tries = 0, inits = 0; tries < (t.vorn ? 3 : 2); tries++) {
        if (got < 0) {
            uint8_t h[4] = {};
            t.out.zsbhdr(ZCOMMAND, h, t.use32);
            t.out.zsdata(reinterpret_cast<const uint8_t*>(cmd.c_str()), cmd.size() + 1, ZCRCW);
            zflush(t.out);
            sent = zmnow();
        }
        t.in.timeout = t.vorn || got >= 0 ? 10 : 3; // the command runs meanwhile
        for (bool again = false; !again;) {
            const int c = t.in.zgethdr();
            switch (c) {
            case ZCOMPL: {
                const unsigned long res = t.in.rxpos();
                zcmdbye(t);
                if (res == 0 && got <= 0) return 0;
                if (res == 0) return 1; // a file was skipped or failed
                xferstats(XS_FATAL, sfmt("Remote command refused or failed (result %ld)",
                                         static_cast<long>(res)));
                return 1;
            }
            case ZRINIT: // answers to our invitation still on their way
                // A receiver that lost the command invites again; a burst right after the
                // command crossed it.
                if (got < 0 && zmnow() - sent > 1000 && ++inits >= 3) again = true;
                continue;
            case ZACK: // the answer to a repeated ZSINIT
                continue;
            case ZRQINIT: // the peer sends files for it
                got = std::max(got, rcvz2(t.src, t.in.hdr));
                tries = 0;
                t.in.timeout = 10;
                continue;
            case ZFIN:
                // Before the command ran: the end of the last session, still on its way. After
                // files came: the end of their batch again, as our answer was lost.
                if (got >= 0) zhex(t.out, ZFIN, 0);
                continue;
            case ZSKIP:
            case ZABORT:
            case ZRPOS:
                txfail(t, cxabmsg);
            case ZCAN:
            case ABORT:
            case LOST:
                endifgone(t, c);
                break;
            default: // a time-out, a ZNAK, noise: the command again (once it ran: wait on)
                if (got >= 0 && c != TIMEOUT) continue;
                fretcnt++;
                xferstats(XS_RETRY, c == TIMEOUT ? tlinmsg : blinmsg);
                again = true;
                break;
            }
        }
    }
    txfail(t, "No answer to the remote command (the peer may not allow commands)");
}

} // namespace

void sndzmodem() {
    LineNonblock nb;
    Tx t;
    fcnt = fpakcnt = fretcnt = 0;
    fbytcnt = ffilsiz = resfilsiz = 0;
    t.in.allowance = zallowance();
    t.out.ctlesc = escctl != 0;
    // The window and block size by line speed, unless the script variables set them.
    t.window = winbyspeed();
    t.grow = txwindow <= 0;
    if (txwindow > 0) t.window = std::max<long>(64, std::min<long>(txwindow, 1L << 24) / 64 * 64);
    t.wspac = t.window / 4;
    t.blklen = baud > 2400 || baud <= 0 ? 1024 : baud > 1200 ? 512 : baud > 300 ? 256 : 128;
    if (txblksiz > 0) t.blklen = static_cast<int>(std::min<int32_t>(txblksiz, MAXBLK));
    if (t.blklen < 32) t.blklen = 32;
    xferstats(XS_BEGIN);
    getzrxinit(t);
    if (t.vorn) sendzsinit(t);
    if (!zmcmd.empty()) done(zsendcmd(t, zmcmd));
    std::string path;
    int names = 0;
    while (nxtlist(path)) {
        names++;
        sendone(t, path);
    }
    if (fcnt == 0 && t.skipped == 0) txfail(t, "Can't open any requested files");
    // End of the session: ZFIN until the receiver's ZFIN, then "OO".
    for (int n = 0; n <= retries; n++) {
        zhex(t.out, ZFIN, 0);
        t.in.timeout = answerwait(t, 0, 3, n > 0);
        const int c = t.in.zgethdr();
        if (c == ZFIN) {
            t.out.buf += "OO";
            zflush(t.out);
            break;
        }
        if (c == ZCAN || c == TIMEOUT || c == ABORT || c == LOST) break;
    }
    (void)names;
    done(t.skipped || t.failed ? 1 : 0);
}
