// Native protocol sender.
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "transfer/vornline.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"

#include <sys/stat.h>

namespace {

int seqno = 0;
bool single = false;

int acksecs() {
    return baud <= 300 ? stim * 5 : stim;
}

// Waits for the answer to the last block: 1 positive, 2 a valid K block (only when `wantk`),
// 0 send again. Ends the transfer itself on an abort or when `tries` was 0.
int getack(int tries, bool wantk, VornKblock* k) {
    const char* err;
    int c = vgetc(acksecs());
    if (c == vorn::G) return 1;
    if (c == vorn::ETX) vfatal(rcabmsg, 1, false);
    if (c == -1) vfatal(ccabmsg, 2);
    if (c == -2) {
        err = tlinmsg;
    } else if (c == vorn::K) {
        uint8_t after[vorn::KN + 4];
        int seq = -1;
        int count = vgetn(after, static_cast<int>(framelen(Variant::VornCRC, vorn::KN)) - 1, rtime)
                        ? checkblk(Variant::VornCRC, after, vorn::KN, &seq)
                        : 0;
        VornKblock kb;
        if (count && seq == 0 && parsek(after + 2, count, kb) && wantk) {
            if (k) *k = kb;
            return 2;
        }
        vpurge();
        err = llinmsg; // a damaged K, or a K where a data block is acknowledged
    } else {
        vpurge();
        err = c == vorn::B ? blinmsg : llinmsg;
    }
    fretcnt++;
    xferstats(XS_RETRY, err);
    if (tries <= 0) vfatal(tmabmsg, 1);
    return 0;
}

void handshake() {
    int timeouts = htime / 2, attempts = htime * 10;
    const Variant configured = errprot == 1 ? Variant::Vorn5 : Variant::VornCRC;
    vpurge();
    for (;;) {
        vputc(vorn::R);
        int c = vgetc(2);
        switch (c) {
        case vorn::M:
            xferstats(XS_MSG, "Using OldVorn protocol");
            vvar = Variant::OldVorn;
            return;
        case vorn::X:
            if (configured != Variant::Vorn5) xferstats(XS_MSG, "Using Vorn5 protocol");
            vvar = Variant::Vorn5;
            return;
        case vorn::Y:
            if (configured != Variant::VornCRC) xferstats(XS_MSG, "Using VornCRC protocol");
            vvar = Variant::VornCRC;
            return;
        case vorn::S:
            if (listcount() > 1) vfatal("Receive end must specify directory/drive name only", 1);
            single = true;
            vvar = Variant::Vorn5; // only a Vorn5 receiver asks for a single file
            return;
        case vorn::ETX:
            vfatal(rcabmsg, 1, false);
        case -1:
            vfatal(ccabmsg, 2);
        case -2:
            if (--timeouts <= 0) {
                gtimeout = 1;
                vfatal(htabmsg, 1);
            }
            break;
        default:
            break;
        }
        if (--attempts <= 0) {
            gtimeout = 1;
            vfatal(htabmsg, 1);
        }
    }
}

// Sends the data of the open file and its end of file; the E is answered by the caller.
void sndfil(SendFile& f) {
    uint8_t buf[2][vorn::DATAN];
    int cur = 0, n = f.rdfile(buf[cur], vorn::DATAN), next = -1;
    while (n > 0) {
        for (int tries = retries;; tries--) {
            xferstats(XS_TICK);
            if (vkeyabort()) vfatal(ccabmsg, 2);
            vsendblk(vorn::G, buf[cur], vorn::DATAN, n, seqno);
            // The next block is read while this one travels and is answered.
            if (next < 0) next = n < vorn::DATAN ? 0 : f.rdfile(buf[cur ^ 1], vorn::DATAN);
            if (getack(tries, false, nullptr) == 1) break;
        }
        fpakcnt++;
        if (!f.compressing()) fbytcnt += n;
        seqno = (seqno + 1) & 127;
        cur ^= 1, n = next, next = -1; // a short block ends the file
    }
    if (f.compressing()) fbytcnt = f.coder()->incount() + resfilsiz;
    vputc(vorn::E);
}

// Repeats a closing byte (E of a single file, D of a batch) until the receiver answers G.
bool closing(uint8_t what) {
    for (int i = 0; i <= retries; i++) {
        int c = vgetc(rtime);
        if (c == vorn::G) return true;
        if (c == vorn::ETX) vfatal(rcabmsg, 1, false);
        if (c == -1) vfatal(ccabmsg, 2);
        dcomout(what);
    }
    return false;
}

void compstats(const SendFile& f) {
    std::string s = sfmt("%d records %s", fpakcnt, "transferred");
    if (f.compressing())
        s += ", compression factor " +
             prratio(f.coder()->incount() - f.coder()->bytesout(), f.coder()->incount());
    xferstats(XS_MSG, s);
}

void sendone(const std::string& path, SendFile& f) {
    const long opts = flags | (errprot == 9 ? static_cast<long>(OPT_O) : 0L);
    if (opts & OPT_Q) {
        zzprintf("Send %s (y/n):", path.c_str());
        int k = chrin();
        zzprintf("\r\n");
        if (k == abochar) vfatal(ccabmsg, 2);
        if (k == 27) {
            flags &= ~OPT_Q;
        } else if (k != 'y' && k != 'Y') {
            return;
        }
    }
    gfilename = path;
    xferstats(XS_SENDFILE);
    std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    if (upflag) convup(base.data(), nullptr);
    if (!f.open(path, opts)) {
        xferstats(XS_FATAL, sfmt("Can't open %s", peertext(path).c_str()));
        return;
    }
    if (f.size() > 0x7fffffffL) {
        f.close();
        xferstats(XS_FATAL, sfmt("File too large for protocol: %s", peertext(path).c_str()));
        return;
    }
    VornHeader h;
    h.machine = mymachine;
    h.name = base;
    struct stat st {};
    h.mode = stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0xffff) : 0666;
    h.version = 2;
    h.size = f.size();
    const bool want = vvar == Variant::VornCRC && compon && !(opts & OPT_Z);
    const bool askrestart = ((opts & OPT_R) || rexfer) && !(opts & OPT_CONV);
    h.flags = (askrestart ? vorn::HF_RESTART : 0) | (want ? vorn::HF_COMPRESS : 0);
    uint8_t hdr[vorn::DATAN];
    if (!single && !packheader(vvar, h, hdr)) {
        f.close();
        xferstats(XS_FATAL, sfmt("Name too long for protocol: %s", peertext(base).c_str()));
        return;
    }
    cursend = &f;
    xferstats(XS_MSG, sfmt("Sending %s", peertext(path).c_str()));
    seqno = 0;
    if (single) {
        f.compress(false);
        sndfil(f);
        if (!closing(vorn::E)) xferstats(XS_MSG, "End of file not acknowledged");
    } else {
        const int n = vvar == Variant::OldVorn ? vorn::OLDHDRN : vorn::DATAN;
        const int count = vvar == Variant::VornCRC ? vorn::CRCHDRCOUNT : vorn::V5HDRCOUNT;
        VornKblock k;
        int a = 0;
        for (int tries = retries; a == 0; tries--) {
            vsendblk(vorn::F, hdr, n, count, 0);
            a = getack(tries, vvar == Variant::VornCRC, &k);
        }
        bool docomp = want;
        if (a == 2) {
            if (k.options & vorn::OPT_Z) docomp = false;
            hismachine = k.machine;
        }
        f.compress(docomp);
        if (a == 2 && k.restart) {
            if (k.offset < 0 || k.offset > f.size()) vfatal(roabmsg, 1);
            if (!f.seek(k.offset)) vfatal(seabmsg, 1);
            resfilsiz = k.offset;
            fbytcnt = k.offset;
            xferstats(XS_MSG, sfmt("Restarting at %ld", k.offset));
        }
        fpakcnt++;
        seqno = 1;
        sndfil(f);
        for (int tries = retries; getack(tries, false, nullptr) != 1; tries--)
            dcomout(vorn::E);
    }
    f.close();
    cursend = nullptr;
    compstats(f);
    xferstats(XS_FILEEND, "Success");
    if (fbytcnt > resfilsiz) rexfer = 0;
    fcnt++;
}

} // namespace

void sndvorn() {
    fcnt = 0;
    single = false;
    vvar = errprot == 1 ? Variant::Vorn5 : Variant::VornCRC;
    xferstats(XS_BEGIN);
    handshake();
    SendFile f;
    std::string path;
    if (single) {
        if (nxtlist(path)) {
            if (flags & OPT_O) vvar = Variant::OldVorn;
            sendone(path, f);
        }
        done(fcnt == 1 ? 0 : 1);
    }
    while (nxtlist(path))
        sendone(path, f);
    dcomout(vorn::D);
    if (!closing(vorn::D)) xferstats(XS_MSG, "End of batch not acknowledged");
    done(0);
}
