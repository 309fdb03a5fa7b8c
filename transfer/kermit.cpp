// Kermit: the file sender (states S F D Z B) and receiver (R F D) over basic packets with
// type-1 checks, control and 8-bit prefixing and repeat counts as agreed in Send-Init.
#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "transfer/kermpkt.h"
#include "transfer/vornline.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"

#include <cstring>

namespace {

KParams mine, peer;
KCoding coding;
int bct = 1;   // the block check type in use: 1 until Send-Init has been answered
int capas = 0; // the capabilities both sides offered (long packets)
int seq = 0;
uint8_t inbuf[kp::MAXLONG + 16];
int inlen = 0;

struct KAbort {};

void spack(char type, int s, const std::string& data) {
    const std::string p = kpack(s, type, data, peer.eol, bct);
    for (int i = 0; i < peer.npad; i++)
        dcomout(peer.padc);
    qcomout(reinterpret_cast<const uint8_t*>(p.data()), static_cast<int>(p.size()), 0);
}

[[noreturn]] void kfatal(const std::string& msg, int code, bool senderr = true) {
    xferstats(XS_FATAL, msg);
    if (senderr) spack('E', seq, msg.substr(0, kp::MAXDATA + 1 - bct));
    done(code);
}

// The next good packet, or one with ok false after a time-out or a bad one.
KPacket rpack() {
    const int secs = peer.time > 0 ? peer.time : rtime;
    for (;;) {
        // Hunt for a MARK in what is held, then parse.
        int at = 0;
        while (at < inlen && inbuf[at] != kp::MARK)
            at++;
        if (at > 0) {
            std::memmove(inbuf, inbuf + at, static_cast<size_t>(inlen - at));
            inlen -= at;
        }
        if (inlen > 1) {
            int used = 0;
            KPacket k =
                kparse(inbuf + 1, inlen - 1, used, bct, capas & kp::CAP_LONG ? mine.maxlx : 0);
            if (used > 0 && !k.ok && bct != 1) {
                // A Send-Init sent again after its answer was lost still has a type-1 check.
                int used1 = 0;
                KPacket k1 = kparse(inbuf + 1, inlen - 1, used1, 1);
                if (k1.ok && k1.type == 'S') {
                    k = k1;
                    used = used1;
                }
            }
            if (used > 0) {
                std::memmove(inbuf, inbuf + 1 + used, static_cast<size_t>(inlen - 1 - used));
                inlen -= 1 + used;
                if (k.ok) {
                    fpakcnt++;
                    return k;
                }
                xferstats(XS_RETRY, blinmsg);
                fretcnt++;
                return k;
            }
        }
        if (vkeyabort()) kfatal(ccabmsg, 2);
        int c = vgetc(secs);
        if (c == -1) kfatal(ccabmsg, 2);
        if (c == -2) {
            inlen = 0;
            xferstats(XS_RETRY, tlinmsg);
            fretcnt++;
            return KPacket{};
        }
        if (inlen == static_cast<int>(sizeof inbuf)) inlen = 0;
        inbuf[inlen++] = static_cast<uint8_t>(c);
    }
}

std::string peermsg(const std::string& d) {
    return sfmt("Message from remote host: %s", peertext(d).c_str());
}

// Sends a packet until it is accepted: Y with its sequence or N with the next. Returns the
// answer's data.
std::string exchange(char type, const std::string& data) {
    for (int tries = 0; tries <= 10; tries++) {
        spack(type, seq, data);
        KPacket k = rpack();
        if (!k.ok) continue;
        if (k.type == 'E') kfatal(peermsg(k.data), 1, false);
        if (k.type == 'Y' && k.seq == seq) return k.data;
        if (k.type == 'N' && k.seq == ((seq + 1) & 63)) return "";
    }
    kfatal(tmabmsg, 1);
}

std::string encodename(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
    if (base.size() >= 2 && base[1] == ':') base.erase(0, 2);
    std::string out;
    KCoding k = coding;
    k.image = true;
    for (char ch : base) {
        uint8_t c = static_cast<uint8_t>(ch);
        if (upflag && c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
        kencode(c, k, out);
        if (out.size() > kp::MAXDATA - 4) break;
    }
    return out;
}

void sendone(const std::string& path) {
    SendFile f;
    if (!f.open(path, flags & ~OPT_CONV)) kfatal(sfmt("Can't open %s", peertext(path).c_str()), 1);
    gfilename = path;
    xferstats(XS_SENDFILE);
    cursend = &f;
    coding.image = !(flags & OPT_C);
    const std::string name = encodename(path);
    xferstats(XS_MSG, sfmt("Sending %s as %s", peertext(path).c_str(), peertext(name).c_str()));
    std::string ans = exchange('F', name);
    if (!ans.empty())
        xferstats(XS_MSG, sfmt("File being saved on remote machine as %s", peertext(ans).c_str()));
    seq = (seq + 1) & 63;
    const int room = kroom(peer, capas, bct) - 5; // the longest encoding of one byte
    uint8_t buf[4096];
    std::string pkt;
    bool stop = false;
    for (int n; !stop && (n = f.rdfile(buf, sizeof buf)) > 0;) {
        for (int i = 0; i < n && !stop; i++) {
            std::string enc;
            kencode(buf[i], coding, enc);
            if (static_cast<int>(pkt.size() + enc.size()) > room) {
                std::string a = exchange('D', pkt);
                seq = (seq + 1) & 63;
                pkt.clear();
                if (!a.empty() && (a[0] == 'X' || a[0] == 'Z')) stop = true; // receiver stops
            }
            pkt += enc;
            fbytcnt++;
            xferstats(XS_TICK);
        }
    }
    if (!stop && !pkt.empty()) {
        std::string a = exchange('D', pkt);
        seq = (seq + 1) & 63;
        if (!a.empty() && (a[0] == 'X' || a[0] == 'Z')) stop = true;
    }
    exchange('Z', stop ? "D" : "");
    seq = (seq + 1) & 63;
    f.close();
    cursend = nullptr;
    if (stop) kfatal("File refused by the remote side", 1, false);
    xferstats(XS_FILEEND, "Success");
    fcnt++;
}

void defaults() {
    mine = KParams{};
    mine.maxl = 94;
    mine.time = 10;
    mine.qbin = (parity != 0) ? '&' : 'Y';
    mine.rept = '~';
    // Long packets only when the other side offers them too; a peer sending the nine basic
    // fields sees exactly those nine in the answer.
    mine.capas = kp::CAP_LONG;
    mine.maxlx = kp::MAXLONG;
    peer = KParams{};
    coding = KCoding{};
    bct = 1;
    capas = 0;
    seq = 0;
    inlen = 0;
}

// ---- receiving ---------------------------------------------------------------------------

RcvFile rf;

void nak() {
    spack('N', seq, "");
}

} // namespace

void sndkermit() {
    fcnt = 0;
    defaults();
    xferstats(XS_BEGIN);
    vpurge();
    mine.chkt = '3'; // the receiver answers '3' to use the CRC, anything else keeps type 1
    std::string ans = exchange('S', spar(mine));
    peer = rpar(reinterpret_cast<const uint8_t*>(ans.data()), static_cast<int>(ans.size()));
    coding = agree(mine, peer);
    bct = agreechk(mine, peer);
    capas = mine.capas & peer.capas;
    if (coding.qbin) xferstats(XS_MSG, "Using 8-bit quoting");
    seq = 1;
    std::string path;
    while (nxtlist(path))
        sendone(path);
    exchange('B', "");
    done(0);
}

void rcvkermit() {
    fcnt = 0;
    defaults();
    xferstats(XS_BEGIN);
    int tries = 0;
    int allowance = htime;
    // R: wait for the Send-Init.
    for (;;) {
        KPacket k = rpack();
        if (k.ok && k.type == 'S') {
            peer = rpar(reinterpret_cast<const uint8_t*>(k.data.data()),
                        static_cast<int>(k.data.size()));
            KParams answer = mine;
            // Answer the 8-bit offer: 'Y' to a prefix character, 'N' to a bare 'Y'.
            answer.qbin = peer.qbin == 'Y' ? (parity ? '&' : 'N') : 'Y';
            answer.rept = peer.rept == '~' || (peer.rept > 32 && peer.rept < 127) ? peer.rept : ' ';
            // The stronger checks only when the sender asks for them.
            answer.chkt = peer.chkt == '2' || peer.chkt == '3' ? peer.chkt : '1';
            answer.capas = mine.capas & peer.capas;
            capas = answer.capas;
            coding = agree(answer, peer);
            mine = answer;
            seq = k.seq;
            spack('Y', seq, spar(answer));
            bct = agreechk(answer, peer);
            seq = (seq + 1) & 63;
            break;
        }
        if (k.ok && k.type == 'E') kfatal(peermsg(k.data), 1, false);
        if (!k.ok && --allowance <= 0) {
            gtimeout = 1;
            kfatal(htabmsg, 1);
        }
        nak();
    }
    if (coding.qbin) xferstats(XS_MSG, "Using 8-bit quoting");
    coding.image = !(dflags & OPT_C);
    int failed = 0;
    bool infile = false;
    std::vector<uint8_t> out;
    for (;;) {
        KPacket k = rpack();
        const int prev = (seq + 63) & 63;
        if (!k.ok) {
            if (++tries > retries) kfatal(tmabmsg, 1);
            nak();
            continue;
        }
        tries = 0;
        if (k.type == 'E') kfatal(peermsg(k.data), 1, false);
        const uint8_t* d = reinterpret_cast<const uint8_t*>(k.data.data());
        const int n = static_cast<int>(k.data.size());
        if (k.seq == prev) { // our answer was lost: answer again, write nothing
            if (k.type == 'S') {
                const int now = bct;
                bct = 1;
                spack('Y', prev, spar(mine));
                bct = now;
            } else {
                spack('Y', prev, "");
            }
            continue;
        }
        if (k.seq != seq) {
            nak();
            continue;
        }
        if (!infile && k.type == 'F') {
            out.clear();
            KCoding kc = coding;
            kc.image = true;
            if (!kdecode(d, n, kc, out, 255)) {
                nak();
                continue;
            }
            std::string name(out.begin(), out.end());
            RcvName rn = rcvname(name.data(), name.size(), dir, renflag || !mult);
            if (!rn.ok) kfatal(sfmt("%s: %s", rn.why.c_str(), peertext(name).c_str()), 1);
            if (!mult) renflag = 1;
            gfilename = rn.path;
            ffilsiz = 0;
            xferstats(XS_RCVFILE);
            long at = 0;
            std::string err;
            if (rf.part.open(rn.path, false, -1, at, err) < 0)
                kfatal(sfmt("Can't create %s", peertext(rn.path).c_str()), 1);
            currcv = &rf;
            keeppart = false;
            fbytcnt = 0;
            rf.begin(dflags & ~OPT_CONV, false, -1);
            xferstats(XS_MSG, sfmt("Receiving %s as %s", peertext(name).c_str(),
                                   peertext(rn.path).c_str()));
            spack('Y', seq, "");
            seq = (seq + 1) & 63;
            infile = true;
            continue;
        }
        if (!infile && k.type == 'B') {
            spack('Y', seq, "");
            done(failed ? 1 : 0);
        }
        if (infile && k.type == 'D') {
            out.clear();
            if (!kdecode(d, n, coding, out)) {
                nak();
                continue;
            }
            if (!out.empty() && !rf.wrfile(out.data(), static_cast<int>(out.size())))
                kfatal(rf.err, 1);
            spack('Y', seq, "");
            seq = (seq + 1) & 63;
            xferstats(XS_TICK);
            continue;
        }
        if (infile && k.type == 'Z') {
            if (n > 0 && d[0] == 'D') { // the sender gave the file up
                rf.part.abandon(false);
                currcv = nullptr;
                xferstats(XS_FILEEND, "Discarded");
                failed = 1;
            } else {
                if (!rf.finish()) kfatal(rf.err, 1);
                if (!rf.part.commit(0, rcvsync != 0)) kfatal(weabmsg, 1);
                currcv = nullptr;
                xferstats(XS_FILEEND, "Success");
                fcnt++;
            }
            spack('Y', seq, "");
            seq = (seq + 1) & 63;
            infile = false;
            continue;
        }
        kfatal(sfmt("Unexpected packet %s", peertext(std::string(1, k.type)).c_str()), 1);
    }
}
