// Native protocol receiver.
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "transfer/vornline.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"

#include <cstring>

namespace {

int seqno = 0;
RcvFile rf;
uint8_t hdrdata[vorn::DATAN]; // the data of the current file's header, to spot a repeat
int hdrcount = 0;
bool answerk = false;
VornKblock kanswer;
long announced = -1;
int peermode = 0;
bool sizecheck = false;

int hdrlen() {
    return vvar == Variant::OldVorn ? vorn::OLDHDRN : vorn::DATAN;
}

uint8_t letter() {
    return vvar == Variant::VornCRC ? vorn::Y : vvar == Variant::Vorn5 ? vorn::X : vorn::M;
}

// Reads the rest of a block after its type byte; the count when it is whole and good, else 0.
int getblk(uint8_t* data, int n, int* seq) {
    uint8_t after[vorn::DATAN + 8];
    const int len = static_cast<int>(framelen(vvar, n)) - 1;
    if (!vgetn(after, len, rtime)) return 0;
    int count = checkblk(vvar, after, n, seq);
    if (!count) return 0;
    const int skip = vvar == Variant::VornCRC ? 2 : vvar == Variant::Vorn5 ? 1 : 0;
    std::memcpy(data, after + skip, static_cast<size_t>(n));
    return count;
}

void answer() {
    if (answerk) {
        uint8_t k[vorn::KN];
        packk(kanswer, k);
        vsendblk(vorn::K, k, vorn::KN, vorn::KCOUNT, 0);
    } else {
        vputc(vorn::G);
    }
}

// Names and opens the file a header announces, and prepares the header's answer.
void makfil(const uint8_t* data, int count) {
    VornHeader h;
    parseheader(vvar, data, count, h);
    std::string name = h.name;
    if (vvar == Variant::OldVorn && !upflag) convdn(name.data(), nullptr);
    hismachine = h.machine;
    RcvName rn = rcvname(name.data(), name.size(), dir, renflag || !mult);
    if (!rn.ok) vfatal(sfmt("%s: %s", rn.why.c_str(), peertext(name).c_str()).c_str(), 1);
    for (const auto& b : batchnames)
        if (b == rn.path)
            vfatal(sfmt("Duplicate file name in batch: %s", peertext(name).c_str()).c_str(), 1);
    announced = vvar == Variant::VornCRC && h.version >= 1 ? h.size : -1;
    if (vvar == Variant::VornCRC && h.version >= 1 && h.size < 0) vfatal("Bad file size", 1);
    const bool dokpacket = vvar == Variant::VornCRC && h.version > 1;
    bool dorestart =
        (dflags & OPT_R) || (dokpacket && (h.flags & vorn::HF_RESTART)) || (isxferget && rexfer);
    if (dorestart && (dflags & OPT_CONV)) {
        xferstats(XS_MSG, "Restart ignored with [c] option");
        dorestart = false;
    }
    if (announced < 0) dorestart = false;
    gfilename = rn.path;
    xferstats(XS_RCVFILE);
    ffilsiz = announced > 0 ? announced : 0;
    long at = 0;
    std::string err;
    if (rf.part.open(rn.path, dorestart, announced, at, err) < 0) vfatal(peertext(err).c_str(), 1);
    currcv = &rf;
    keeppart = dorestart && vvar == Variant::VornCRC;
    const bool willing = compon && !(dflags & OPT_Z);
    const bool docomp = dokpacket && (h.flags & vorn::HF_COMPRESS) && willing;
    resfilsiz = fbytcnt = at;
    rf.begin(dflags, docomp, announced >= 0 ? announced - at : -1);
    sizecheck = announced >= 0 && !(dflags & OPT_CONV);
    peermode = h.mode;
    answerk = dokpacket;
    kanswer = VornKblock{mymachine, dorestart, at,
                         static_cast<int>(dflags & 0xffff) | (willing ? 0 : vorn::OPT_Z)};
    if (dorestart) xferstats(XS_MSG, sfmt("Restarting at %ld", at));
    batchnames.push_back(rn.path);
    std::memcpy(hdrdata, data, static_cast<size_t>(hdrlen()));
    hdrcount = count;
    xferstats(XS_MSG, sfmt("Receiving %s", peertext(rn.path).c_str()));
}

void compstats() {
    std::string s = sfmt("%d records %s", fpakcnt, "received");
    xferstats(XS_MSG, s);
}

// Receives the data blocks and the end of the open file.
void rcvfil() {
    uint8_t data[vorn::DATAN];
    int tries = retries;
    bool lastE = false;
    for (;;) {
        xferstats(XS_TICK);
        if (vkeyabort()) vfatal(ccabmsg, 2);
        const int c = vgetc(rtime);
        const char* err = nullptr;
        int seq = 0;
        switch (c) {
        case vorn::E:
            // A lone E is believed only when the bytes add up; a damaged type byte can turn a
            // data block into one, and the sender repeats a real E until it is answered.
            if (!rf.docomp() && sizecheck && fbytcnt != announced) {
                err = llinmsg;
                lastE = true;
                break;
            }
            if (!rf.finish()) vfatal(rf.err.c_str(), 1);
            if (sizecheck && fbytcnt != announced) vfatal(szabmsg, 1);
            if (!rf.part.commit(peermode, rcvsync != 0)) vfatal(weabmsg, 1);
            currcv = nullptr;
            xferstats(XS_TICK);
            compstats();
            xferstats(XS_FILEEND, "Success");
            if (fbytcnt > resfilsiz) rexfer = 0;
            return;
        case vorn::ETX:
            if (vetxquiet()) vfatal(rcabmsg, 1, false);
            continue;
        case vorn::G: {
            int n = getblk(data, vorn::DATAN, &seq);
            if (!n) {
                err = blinmsg;
                break;
            }
            if (vvar == Variant::VornCRC && seq != seqno) {
                if (((seq + 1) & 127) == seqno) { // a repeat: its answer was lost
                    vputc(vorn::G);
                    continue;
                }
                xferstats(XS_RETRY, slinmsg);
                vfatal(exabmsg, 1);
            }
            if (vvar == Variant::OldVorn) n = vorn::DATAN;
            // The answer goes before the write, so the next block travels while this one
            // is stored; a write that fails still ends the transfer with ^C.
            vputc(vorn::G);
            if (!rf.wrfile(data, n)) vfatal(rf.err.c_str(), 1);
            fpakcnt++;
            seqno = (seqno + 1) & 127;
            tries = retries;
            lastE = false;
            continue;
        }
        case vorn::F: {
            // The header again: its answer was lost. Anything else is a damaged data block.
            uint8_t h[vorn::DATAN];
            int n = getblk(h, hdrlen(), &seq);
            if (n && n == hdrcount && std::memcmp(h, hdrdata, static_cast<size_t>(hdrlen())) == 0) {
                answer();
                continue;
            }
            err = llinmsg;
            break;
        }
        case -1:
            vfatal(ccabmsg, 2);
        case -2:
            err = tlinmsg;
            break;
        default:
            continue; // hunting for a type byte
        }
        fretcnt++;
        xferstats(XS_RETRY, err);
        if (--tries < 0) vfatal(lastE ? szabmsg : tmabmsg, 1);
        vputc(vorn::B);
    }
}

// Waits for the sender's request; false never (ends through done on failure).
void waitrequest() {
    int allowance = htime;
    for (;;) {
        int c = vgetc(1);
        if (c == vorn::R) return;
        if (c == -1) vfatal(ccabmsg, 2);
        if (c == vorn::ETX) vfatal(rcabmsg, 1, false);
        if (c == -2 && !(dflags & OPT_S) && --allowance <= 0) {
            gtimeout = 1;
            vfatal(htabmsg, 1);
        }
    }
}

} // namespace

void rcvvorn() {
    fcnt = 0;
    const Variant configured = errprot == 1   ? Variant::Vorn5
                               : errprot == 9 ? Variant::OldVorn
                                              : Variant::VornCRC;
    xferstats(XS_BEGIN);
    for (;;) {
        vvar = configured;
        waitrequest();
        if (!mult && configured != Variant::VornCRC) {
            // Single-file mode: no header, the destination is the file.
            if (dflags & OPT_O) vvar = Variant::OldVorn;
            RcvName rn = rcvname(nullptr, 0, dir, true);
            gfilename = rn.path;
            xferstats(XS_RCVFILE);
            long at = 0;
            std::string err;
            if (!rn.ok || rf.part.open(rn.path, false, -1, at, err) < 0)
                vfatal(peertext(err.empty() ? rn.why : err).c_str(), 1);
            currcv = &rf;
            keeppart = false;
            rf.begin(dflags, false, -1);
            sizecheck = false;
            peermode = 0;
            answerk = false;
            hdrcount = -1;
            seqno = 0;
            vpurge();
            vputc(vorn::S);
            rcvfil();
            fcnt = 1;
            vputc(vorn::G);
            done(0);
        }
        if (!mult) renflag = 1;
        vpurge();
        vputc(letter());
        int tries = retries, rcount = 0;
        for (bool batch = true; batch;) {
            const int c = vgetc(rtime);
            switch (c) {
            case vorn::R:
                if (rexfer) break;
                if (++rcount >= 4 && vvar != Variant::OldVorn) {
                    rcount = 0;
                    vvar = vvar == Variant::VornCRC ? Variant::Vorn5 : Variant::OldVorn;
                    xferstats(XS_MSG, vvar == Variant::Vorn5 ? "Using Vorn5 protocol"
                                                             : "Using OldVorn protocol");
                    dolog("WARNING: ", "the peer does not see our answers; no sequence check");
                }
                vputc(letter());
                break;
            case vorn::D:
                vputc(vorn::G);
                if (!(dflags & OPT_S)) done(0);
                xferstats(XS_MSG, sfmt("%d files received", fcnt));
                fcnt = 0;
                batchnames.clear();
                batch = false;
                break;
            case vorn::ETX:
                if (vetxquiet()) vfatal(rcabmsg, 1, false);
                break;
            case -1:
                vfatal(ccabmsg, 2);
            case vorn::E:
                vputc(vorn::G); // the answer to the last E was lost
                break;
            case -2:
            case vorn::G:
            case vorn::F: {
                const char* err = tlinmsg;
                if (c == vorn::F) {
                    if (renflag && fcnt > 0) vfatal(mfabmsg, 1);
                    uint8_t h[vorn::DATAN];
                    int seq = 0;
                    int n = getblk(h, hdrlen(), &seq);
                    const int want = vvar == Variant::VornCRC ? vorn::CRCHDRCOUNT
                                     : vvar == Variant::Vorn5 ? vorn::V5HDRCOUNT
                                                              : hdrlen();
                    if (n && n == want) {
                        makfil(h, n);
                        answer();
                        seqno = 1;
                        rcvfil();
                        fcnt++;
                        vputc(vorn::G);
                        tries = retries;
                        break;
                    }
                    err = blinmsg;
                } else {
                    vpurge();
                }
                fretcnt++;
                xferstats(XS_RETRY, err);
                if (--tries < 0) vfatal(tmabmsg, 1);
                vputc(vorn::B);
                break;
            }
            default:
                break;
            }
        }
    }
}
