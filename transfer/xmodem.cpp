// XMODEM (128-byte blocks, 8-bit sum), MODEM7 (the same with CRC-16) and YMODEM (block 0 with
// the name and size, 1024-byte blocks, batches): one sender and one receiver for all three.
//
// Both ends of a failed transfer stop at once: every fatal end sends eight CAN and eight
// backspaces, and two CANs in a row from the peer end ours ("Aborted by ^X"). A single EOT is
// answered with NAK and believed only when it comes again, so a noise byte cannot end a file,
// and a YMODEM file must have the size its header announced.
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "transfer/vornline.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"
#include "transfer/xmblock.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace {

bool ymodem() {
    return errprot == 5;
}

[[noreturn]] void xfatal(const char* msg, int code, bool sendcan = true) {
    xferstats(XS_FATAL, msg);
    if (sendcan) {
        uint8_t c[16];
        std::memset(c, xm::CAN, 8);
        std::memset(c + 8, xm::BS, 8);
        qcomout(c, 16, 0);
    }
    done(code);
}

int pushed = -1; // a byte read ahead and put back

// The next byte; the abort key ends the transfer.
int xgetc(int seconds) {
    if (pushed >= 0) {
        int c = pushed;
        pushed = -1;
        return c;
    }
    int c = vgetc(seconds);
    if (c == -1) xfatal(ccabmsg, 2);
    return c;
}

// After one CAN: a second one right behind it is the peer's cancel.
void cancheck() {
    int c = xgetc(1);
    if (c == xm::CAN) xfatal(cxabmsg, 2, false);
    if (c >= 0) pushed = c;
}

bool xgetn(uint8_t* p, int n, int seconds) {
    for (int i = 0; i < n;) {
        if (pushed >= 0) {
            p[i++] = static_cast<uint8_t>(pushed);
            pushed = -1;
            continue;
        }
        if (!qempty(comq)) {
            int k = unqbytes(comq, p + i, n - i, 0x100);
            if (k == 0) unqchar(comq);
            i += k;
            continue;
        }
        int c = xgetc(seconds);
        if (c < 0) {
            // A peer that cancels in the middle of a block leaves its CANs in the block and
            // then falls silent.
            if (i >= 2 && p[i - 1] == xm::CAN && p[i - 2] == xm::CAN) xfatal(cxabmsg, 2, false);
            return false;
        }
        p[i++] = static_cast<uint8_t>(c);
    }
    return true;
}

// The silence that shows the sender is waiting for an answer rather than in the middle of a
// block: sixteen byte times at the line's speed, at least 20 ms (a block written in one piece
// arrives in one piece) and at most 150 ms. Waiting any longer only delays the answer.
int quietms() {
    const long t = baud > 0 ? 16L * 10 * 1000 / baud : 150;
    return static_cast<int>(std::clamp(t, 20L, 150L));
}

uint8_t padbyte() {
    return fillchar ? static_cast<uint8_t>(fillchar) : xm::SUB;
}

// ---- sending ----------------------------------------------------------------------------

bool crcmode = true;

// A pause after the receiver's start byte before the block that answers it. Some receivers
// (lrzsz rb) throw their input away right after writing "C"; on a pseudo-terminal a block sent
// back within microseconds lands before that purge and is lost, which costs a whole time-out.
// The pause ends early when the receiver sends something more.
void turnaround() {
    if (comfd < 0 || vlinehook || pushed >= 0 || !qempty(comq)) return;
    struct pollfd p {
        comfd, POLLIN, 0
    };
    poll(&p, 1, 30);
}

// Waits for the receiver's start byte; sets `crcmode`.
void waitstart() {
    // No flush here: a receiver started first has sent its start byte already, and the next one
    // may be ten seconds away.
    xferstats(XS_MSG, sfmt("Waiting for %s", errprot == 4 ? "NAK" : "CRC"));
    const long until = static_cast<long>(time(nullptr)) + htime;
    for (;;) {
        if (vkeyabort()) xfatal(ccabmsg, 2);
        int c = xgetc(1);
        if (c == xm::CRCSTART || c == xm::NAK) {
            crcmode = c == xm::CRCSTART;
            turnaround();
            return;
        }
        if (c == xm::CAN) cancheck();
        if (time(nullptr) >= until) {
            gtimeout = 1;
            xfatal(htabmsg, 1);
        }
    }
}

// Sends one block until it is acknowledged. A "C" while a data block waits for its answer is
// a start byte the receiver repeated, and is passed over (throwing input away here could lose
// the ACK right behind it); to a block 0 it says the block was not seen (lrzsz throws away what
// arrives right after its "C"), so the block goes again at once. With `closing` (the empty block 0
// that ends a batch) the transfer is complete when the block stays unanswered: every file was
// confirmed already, and a receiver that exits at once may lose its last ACK on the way out
// (lrzsz flushes its terminal when it ends), so that answer is waited for only briefly.
bool sendblk(int blk, const uint8_t* data, int n, bool closing = false) {
    uint8_t frame[xm::BIG + 5];
    const size_t len = xmframe(frame, blk, data, n, crcmode);
    bool again = false; // the receiver asked again with its start byte
    for (int tries = 0;; tries++) {
        if (vkeyabort()) xfatal(ccabmsg, 2);
        xferstats(XS_TICK);
        if (again) turnaround();
        qcomout(frame, static_cast<int>(len), 0);
        again = false;
        for (;;) {
            int c = xgetc(closing ? std::min(rtime, 3) : rtime);
            if (c == xm::ACK) return true;
            if (c == xm::CAN) {
                cancheck();
                continue;
            }
            if (c == xm::CRCSTART) {
                if (blk != 0) continue;
                again = true;
            }
            break;
        }
        fretcnt++;
        xferstats(XS_RETRY, blinmsg);
        if (closing && tries >= 2) return false;
        if (tries >= retries) xfatal(tmabmsg, 1);
        if (!again) vpurge();
    }
}

// EOT until the receiver acknowledges it; false when it never does. Any other answer (a NAK,
// silence, or line noise, counted per byte so that a stream of it cannot hold the sender) is a
// try.
bool sendeot() {
    int tries = 0;
    while (tries++ <= retries) {
        vputc(xm::EOT);
        for (;;) {
            int c = xgetc(rtime);
            if (c == xm::ACK) return true;
            if (c == xm::CAN) {
                cancheck();
                continue;
            }
            if (c == xm::NAK || c == -2) break;
            fretcnt++;
            if (tries++ > retries) return false;
        }
        fretcnt++;
        xferstats(XS_RETRY, blinmsg);
    }
    return false;
}

void sendfile(const std::string& path, SendFile& f, int& blk) {
    uint8_t buf[xm::BIG];
    const bool big = ymodem();
    bool announced = false;
    const int want = big ? xm::BIG : xm::SMALL;
    for (;;) {
        int n = f.rdfile(buf, want);
        if (n <= 0) break;
        const int bsize = big && n > xm::SMALL ? xm::BIG : xm::SMALL;
        if (n < bsize) std::memset(buf + n, padbyte(), static_cast<size_t>(bsize - n));
        if (!announced) {
            xferstats(XS_MSG, sfmt("Sending %s%s", peertext(path).c_str(),
                                   crcmode && !ymodem() ? " using CRC" : ""));
            announced = true;
        }
        sendblk(blk, buf, bsize);
        blk = (blk + 1) & 0xff;
        fpakcnt++;
        fbytcnt += n;
        if (n < want) break; // a short read is the end of the file
    }
    if (!sendeot()) xfatal(tmabmsg, 1);
}

// ---- receiving ---------------------------------------------------------------------------

RcvFile rf;

// Reads the input away until the line is quiet, then asks for the block again.
void rcverror(int& errors, const char* msg) {
    fretcnt++;
    xferstats(XS_RETRY, msg);
    if (++errors > retries) xfatal(tmabmsg, 1);
    vpurge();
    vputc(xm::NAK);
}

void openfile(const std::string& path, long size) {
    gfilename = path;
    ffilsiz = size > 0 ? size : 0;
    xferstats(XS_RCVFILE);
    long at = 0;
    std::string err;
    if (rf.part.open(path, false, -1, at, err) < 0) {
        xferstats(XS_MSG, peertext(err));
        xfatal(sfmt("Can't create %s", peertext(path).c_str()).c_str(), 1);
    }
    currcv = &rf;
    keeppart = false;
    fbytcnt = 0;
    rf.begin(dflags, false, -1);
    xferstats(XS_MSG, sfmt("Receiving %s", peertext(path).c_str()));
}

// "ymodem.$$$" in the destination directory, or the first of ".1", ".2", ... not taken.
std::string spillname() {
    std::string base = (mult ? dir : std::string(".")) + "/ymodem.$$$";
    std::string p = base;
    for (int i = 1; filexists(p.c_str()) || isdir(p.c_str()); i++)
        p = base + "." + std::to_string(i);
    return p;
}

void finishfile() {
    if (!rf.finish()) xfatal(rf.err.c_str(), 1);
    if (!rf.part.commit(0, rcvsync != 0)) xfatal(weabmsg, 1);
    currcv = nullptr;
    xferstats(XS_TICK);
    xferstats(XS_MSG, sfmt("%d records received", fpakcnt));
    xferstats(XS_FILEEND, "Success");
    fcnt++;
}

// One file (or, under YMODEM, the end of the batch). Returns false when the batch is over.
bool rcvone(bool& ymode) {
    const bool crc = errprot != 4;
    const uint8_t start = crc ? xm::CRCSTART : xm::NAK;
    bool header = ymode;     // a block 0 is a header only before the file's first data
    bool haveheader = false; // a header was accepted (its repeat is answered again)
    uint8_t hdr[xm::BIG];
    int hdrn = 0;
    long size = -1, got = 0;
    int expect = 1, errors = 0;
    bool started = false, eotseen = false;
    int allowance = (htime + 9) / 10 * 10;
    uint8_t rest[xm::BIG + 4];
    vputc(start);
    for (;;) {
        if (vkeyabort()) xfatal(ccabmsg, 2);
        int c = xgetc(started ? rtime : 3);
        if (c == -2 && !started) {
            allowance -= 3;
            if (allowance <= 0) {
                gtimeout = 1;
                xfatal(htabmsg, 1);
            }
            vputc(start);
            continue;
        }
        if (c == -2) {
            rcverror(errors, tlinmsg);
            continue;
        }
        if (c == xm::CAN) {
            cancheck();
            continue;
        }
        if (c == xm::EOT && header && !haveheader && !started) {
            if (ymode && fcnt > 0) vputc(xm::ACK); // the last file's EOT again: its ACK was lost
            if (ymode) continue;
        }
        if (c == xm::EOT) {
            if (!eotseen) {
                eotseen = true;
                vpurge(quietms());
                vputc(xm::NAK);
                continue;
            }
            if (!currcv) openfile(dir, -1); // an empty XMODEM file
            if (size >= 0 && got != size) xfatal(szabmsg, 1);
            finishfile();
            vputc(xm::ACK);
            return ymode;
        }
        if (c != xm::SOH && c != xm::STX) continue;
        const int n = c == xm::STX ? xm::BIG : xm::SMALL;
        if (!xgetn(rest, xm::restlen(n, crc), rtime)) {
            rcverror(errors, tlinmsg);
            continue;
        }
        const int blk = xmcheck(rest, n, crc);
        if (blk < 0) {
            rcverror(errors, blinmsg);
            continue;
        }
        started = true;
        eotseen = false;
        const uint8_t* data = rest + 2;
        if (blk == 0 && header) {
            if (haveheader) { // its ACK was lost
                if (n == hdrn && std::memcmp(data, hdr, static_cast<size_t>(n)) == 0) {
                    vputc(xm::ACK);
                    vputc(start);
                    continue;
                }
                rcverror(errors, slinmsg);
                continue;
            }
            YHeader h = parseyhdr(data, n);
            if (h.end) {
                vputc(xm::ACK);
                fpakcnt++;
                return false;
            }
            RcvName rn = rcvname(h.name.data(), h.name.size(), dir, renflag || !mult);
            if (!rn.ok) xfatal(sfmt("%s: %s", rn.why.c_str(), peertext(h.name).c_str()).c_str(), 1);
            for (const auto& b : batchnames)
                if (b == rn.path)
                    xfatal(
                        sfmt("Duplicate file name in batch: %s", peertext(h.name).c_str()).c_str(),
                        1);
            if (!mult) renflag = 1;
            batchnames.push_back(rn.path);
            size = h.size;
            openfile(rn.path, size);
            haveheader = true;
            std::memcpy(hdr, data, static_cast<size_t>(n));
            hdrn = n;
            fpakcnt++;
            errors = 0;
            vputc(xm::ACK);
            vputc(start);
            continue;
        }
        if (blk == (expect & 0xff)) {
            if (ymode && !haveheader) {
                xferstats(XS_MSG, "Received XMODEM-1K packet, switching to MODEM7-1K");
                ymode = false;
                openfile(spillname(), -1);
            } else if (!currcv) {
                openfile(dir, -1);
            }
            header = false;
            // The answer goes first: the sender works on while the data go to the disk, and
            // a failed write still cancels the transfer.
            vputc(xm::ACK);
            int take = n;
            if (size >= 0 && got + take > size) take = static_cast<int>(size - got);
            if (take > 0 && !rf.wrfile(data, take)) xfatal(rf.err.c_str(), 1);
            got += take;
            expect++;
            fpakcnt++;
            errors = 0;
            xferstats(XS_TICK);
            continue;
        }
        if (blk == ((expect - 1) & 0xff)) { // a repeat: our ACK was lost
            vputc(xm::ACK);
            continue;
        }
        rcverror(errors, slinmsg);
    }
}

} // namespace

void sndmdm7() {
    fcnt = 0;
    pushed = -1;
    xferstats(XS_BEGIN);
    std::string path;
    SendFile f;
    bool any = false;
    while (nxtlist(path)) {
        if (!ymodem() && (flags & (OPT_WILD | OPT_X))) {
            xferstats(XS_FATAL, "Wildcards disallowed with xmodem and modem7 protocols");
            done(1);
        }
        any = true;
        if (!f.open(path, flags)) {
            xferstats(XS_FATAL, sfmt("Can't open %s", peertext(path).c_str()));
            if (ymodem()) continue;
            xfatal(sfmt("Can't open %s", peertext(path).c_str()).c_str(), 1);
        }
        gfilename = path;
        xferstats(XS_SENDFILE);
        cursend = &f;
        int blk = 1;
        if (ymodem()) {
            std::string base =
                path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
            uint8_t h[xm::BIG];
            const int n = packyhdr(base, f.size(), h);
            if (n == 0) {
                f.close();
                cursend = nullptr;
                xferstats(XS_FATAL, sfmt("Name too long for protocol: %s", peertext(base).c_str()));
                continue;
            }
            waitstart();
            sendblk(0, h, n);
            fpakcnt++;
        }
        waitstart();
        sendfile(path, f, blk);
        f.close();
        cursend = nullptr;
        xferstats(XS_MSG, sfmt("%d records transferred", fpakcnt));
        xferstats(XS_FILEEND, "Success");
        fcnt++;
        if (!ymodem()) done(0);
    }
    if (!ymodem()) done(any ? 0 : 1);
    waitstart();
    uint8_t z[xm::SMALL] = {};
    if (!sendblk(0, z, xm::SMALL, true)) xferstats(XS_MSG, "End of batch not acknowledged");
    done(0);
}

void rcvmdm7() {
    fcnt = 0;
    pushed = -1;
    renflag = 0;
    xferstats(XS_BEGIN);
    vpurge(quietms());
    bool ymode = ymodem();
    if (!ymode && mult) xfatal(sfmt("Can't create %s", peertext(dir).c_str()).c_str(), 1);
    while (rcvone(ymode)) {
    }
    done(0);
}
