// Kermit: the file sender (states S F D Z B) and receiver (R F D) over basic packets with
// type-1 checks, control and 8-bit prefixing and repeat counts as agreed in Send-Init; long
// packets, the stronger checks and sliding windows only when the peer offers them too.
#include "transfer/kermit.h"
#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "transfer/kermpkt.h"
#include "transfer/vornline.h"
#include "transfer/xfer.h"
#include "transfer/xferstats.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

KParams mine, peer;
KCoding coding;
int bct = 1;    // the block check type in use: 1 until Send-Init has been answered
int capas = 0;  // the capabilities both sides offered (long packets, windows)
int window = 1; // the sliding-window slots agreed; 1 is stop-and-wait
int seq = 0;
bool ktimeout = false; // the last rpack() failed for a time-out rather than a damaged packet
int lastb = -1;        // the sequence of the peer's B answered last, -1 when the end was other
bool lossy = false;    // this receive saw a damaged, repeated or missing packet
uint8_t inbuf[2 * kp::MAXLONG];
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

// The seconds of silence before the peer is asked again, as the peer asked in its Send-Init.
int waitsecs() {
    return peer.time > 0 ? peer.time : rtime;
}

// The next good packet, or one with ok false after a time-out (`wait` seconds of silence,
// else waitsecs()) or a bad one.
KPacket rpack(int wait = 0) {
    const int secs = wait > 0 ? wait : waitsecs();
    ktimeout = false;
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
        if (inlen == static_cast<int>(sizeof inbuf)) inlen = 0;
        // What the line already delivered is taken in one piece; the keyboard is looked at
        // only when the line has to be waited for.
        if (!vlinehook && !qempty(comq)) {
            const int k =
                unqbytes(comq, inbuf + inlen, static_cast<int>(sizeof inbuf) - inlen, 0x100);
            if (k == 0) unqchar(comq); // not a byte: dropped
            inlen += k;
            continue;
        }
        if (vkeyabort()) kfatal(ccabmsg, 2);
        int c = vgetc(secs);
        if (c == -1) kfatal(ccabmsg, 2);
        if (c == -2) {
            inlen = 0;
            ktimeout = true;
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
// answer's data. With `silent`, silence for as long as the peer waits before it asks again
// (the time-out it was given) ends the exchange instead, with *silent set.
std::string exchange(char type, const std::string& data, bool* silent = nullptr) {
    const int wait = silent ? std::max(waitsecs(), mine.time) + 1 : 0;
    int stale = 0;
    for (int tries = 0; tries <= 10; tries++) {
        spack(type, seq, data);
        KPacket k = rpack(wait);
        // Answers to the packets of a window, late or repeated, are no answer to this one:
        // waited past, up to a few windows of them.
        while (k.ok && (k.type == 'Y' || k.type == 'N') && k.seq != seq &&
               k.seq != ((seq + 1) & 63) && ++stale <= 128)
            k = rpack(wait);
        if (silent && ktimeout) {
            *silent = true;
            return "";
        }
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

// The file's bytes read and not yet sent (or, stop-and-wait, not yet answered), from `at`.
struct Feed {
    explicit Feed(SendFile& file) : f(file) {}
    SendFile& f;
    std::vector<uint8_t> pend;
    size_t at = 0;
    bool eof = false;
    // Reads on until `want` bytes are held or the file ends; false when nothing is left.
    bool fill(size_t want) {
        while (!eof && pend.size() - at < want) {
            pend.erase(pend.begin(), pend.begin() + static_cast<long>(at));
            at = 0;
            uint8_t buf[8192];
            const int n = f.rdfile(buf, sizeof buf);
            if (n <= 0)
                eof = true;
            else
                pend.insert(pend.end(), buf, buf + n);
        }
        return at < pend.size();
    }
    // Encodes into `pkt` as many bytes from `at` as fit in `room`; returns their count.
    size_t cut(int room, std::string& pkt) const {
        pkt.clear();
        size_t used = 0;
        while (at + used < pend.size()) {
            const size_t before = pkt.size();
            kencode(pend[at + used], coding, pkt);
            if (static_cast<int>(pkt.size()) > room) {
                pkt.resize(before);
                break;
            }
            used++;
        }
        return used;
    }
};

// The longest packet data to cut while the line is clean, and the basic length it falls back
// to; a byte whose encoding would pass it goes in the next packet.
int roommost() {
    return kroom(peer, capas, bct);
}
int roomleast() {
    return std::min(roommost(), kroom(peer, 0, bct));
}

// True when the receiver's answer asks to stop the file (X) or the batch (Z).
bool stopasked(const std::string& a) {
    return !a.empty() && (a[0] == 'X' || a[0] == 'Z');
}

// Stop-and-wait data packets. Packets as long as agreed while the line is clean. A retry halves
// the length (down to a basic packet) and the unanswered packet is cut again from the same
// bytes, so a noisy line still gets packets through; every 8 answered packets double it again.
// Returns true when the receiver asked to stop.
bool sendstop(SendFile& f) {
    const int most = roommost(), least = roomleast();
    int room = most, clean = 0;
    Feed in(f);
    std::string pkt;
    while (in.fill(static_cast<size_t>(room))) {
        int tries = 0;
        size_t used = 0;
        std::string a;
        for (bool sent = false; !sent;) {
            used = in.cut(room, pkt);
            for (;;) {
                if (++tries > 10) kfatal(tmabmsg, 1);
                spack('D', seq, pkt);
                KPacket k = rpack();
                if (k.ok && k.type == 'E') kfatal(peermsg(k.data), 1, false);
                if (k.ok && ((k.type == 'Y' && k.seq == seq) ||
                             (k.type == 'N' && k.seq == ((seq + 1) & 63)))) {
                    a = k.type == 'Y' ? k.data : "";
                    sent = true;
                    break;
                }
                clean = 0;
                if (room > least && pkt.size() > static_cast<size_t>(least)) {
                    room = std::max(least, room / 2);
                    break; // cut the packet again, shorter
                }
            }
        }
        seq = (seq + 1) & 63;
        in.at += used;
        fbytcnt += static_cast<long>(used);
        xferstats(XS_TICK);
        if (++clean >= 8 && room < most) {
            room = std::min(most, room * 2);
            clean = 0;
        }
        if (stopasked(a)) return true;
    }
    return false;
}

// Milliseconds of a monotonic clock.
long kclock() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Data packets with up to `window` of them unanswered. A packet once sent keeps its bytes (the
// receiver may hold it already), so the length adapts for new packets only: it starts basic,
// doubles after every 8 clean answers and halves on each resend. A packet is sent again on its
// NAK, when the line falls quiet, on a damaged answer or a NAK outside the window (the oldest),
// and when the answer to a later packet shows that its own copy or answer was lost. Only its own Y
// counts as an answer: a NAK past the window does not acknowledge the packets before it. Returns
// true when the receiver asked to stop.
//
// A receiver asks again for its oldest gap on every damaged packet and every time-out, so
// while a resend is on its way the asks for it pile up; each resend must count as one retry,
// not each ask. An ask for a packet sent again is therefore taken only once the resend has
// surely reached the receiver: an answer came for a packet sent after it, the line fell quiet
// for a second, or about two round trips passed. Until then it is only noted.
bool sendwindow(SendFile& f) {
    struct Slot {
        std::string data;
        size_t bytes = 0;
        int tries = 0;
        long sentno = 0; // when it last went out
        long sentat = 0; // kclock() then
        bool acked = false;
        bool owed = false; // asked for again while its resend may still be on its way
    };
    std::vector<Slot> slots(64);
    const int most = roommost(), least = roomleast();
    int room = least, clean = 0, low = seq;
    long sentno = 0, heard = 0, rtt = 0; // heard: the latest packet sent that has its answer
    long resentno = 0;                   // the latest resend
    int quiet = 0;                       // seconds of silence not yet counted as a try
    bool stop = false;
    Feed in(f);
    auto out = [&] { return (seq - low) & 63; };
    auto send = [&](int s) {
        slots[s].sentno = ++sentno;
        slots[s].sentat = kclock();
        spack('D', s, slots[s].data);
    };
    auto resend = [&](int s, bool counts = true) {
        if (counts && ++slots[s].tries > 10) kfatal(tmabmsg, 1);
        slots[s].owed = false;
        send(s);
        resentno = sentno;
        clean = 0;
        room = std::max(least, room / 2);
    };
    // The receiver asks for packet `s` (a NAK, or a damaged answer for the oldest).
    auto asked = [&](int s) {
        const Slot& sl = slots[s];
        const long within = std::clamp(2 * rtt, 50L, 1000L * waitsecs());
        if (sl.tries > 0 && heard < sl.sentno && kclock() - sl.sentat < within) {
            slots[s].owed = true;
            clean = 0;
            room = std::max(least, room / 2);
        } else {
            resend(s);
        }
    };
    for (;;) {
        while (!stop && out() < window && in.fill(static_cast<size_t>(room))) {
            Slot& sl = slots[seq];
            sl.bytes = in.cut(room, sl.data);
            in.at += sl.bytes;
            sl.tries = 0;
            sl.acked = sl.owed = false;
            send(seq);
            seq = (seq + 1) & 63;
        }
        if (out() == 0) return stop;
        // Silence while packets are unanswered means that one of them or its answer was lost:
        // after about two round trips (a second at least) the packets asked for and the oldest
        // go again. The short waits count as one try per time-out, so a dead line is given up
        // as late as with the whole time-out.
        const int wait =
            static_cast<int>(std::clamp((2 * rtt + 999) / 1000, 1L, static_cast<long>(waitsecs())));
        KPacket k = rpack(wait);
        if (!k.ok && ktimeout) {
            quiet += wait;
            const bool counts = quiet >= waitsecs();
            if (counts) quiet = 0;
            for (int j = (low + 1) & 63; j != seq; j = (j + 1) & 63)
                if (slots[j].owed) resend(j);
            resend(low, counts || slots[low].owed);
            continue;
        }
        quiet = 0;
        if (!k.ok) {
            asked(low);
            continue;
        }
        if (k.type == 'E') kfatal(peermsg(k.data), 1, false);
        const int d = (k.seq - low) & 63;
        if (k.type == 'N' && d < out()) {
            if (!slots[k.seq].acked) asked(k.seq);
            continue;
        }
        if (k.type == 'N') { // for a packet not sent yet: it answers nothing, so ask again
            asked(low);
            continue;
        }
        if (k.type == 'Y' && d < out() && !slots[k.seq].acked) {
            Slot& sl = slots[k.seq];
            sl.acked = true;
            sl.owed = false;
            heard = std::max(heard, sl.sentno);
            // The round trip is timed on packets sent once with no resend after them: a
            // receiver may hold back the answers to the packets after a gap until it is filled.
            if (sl.tries == 0 && resentno < sl.sentno) {
                const long took = kclock() - sl.sentat;
                rtt = rtt ? (7 * rtt + took) / 8 : took;
            }
            if (stopasked(k.data)) stop = true;
            // Only packets near the current length, through at the first try, show that the
            // line takes longer ones.
            if (sl.tries == 0 && 2 * sl.data.size() >= static_cast<size_t>(room) && ++clean >= 8 &&
                room < most) {
                room = std::min(most, room * 2);
                clean = 0;
            }
            // The line keeps order: an answer to a packet sent after the last copy of one
            // before it means that copy or its answer was lost.
            for (int j = low; j != k.seq; j = (j + 1) & 63)
                if (!slots[j].acked && slots[j].sentno < sl.sentno) resend(j);
        }
        while (low != seq && slots[low].acked) {
            fbytcnt += static_cast<long>(slots[low].bytes);
            low = (low + 1) & 63;
            xferstats(XS_TICK);
        }
    }
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
    const bool stop = window > 1 ? sendwindow(f) : sendstop(f);
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
    mine.maxl = std::clamp(kmaxl, 10, 94);
    mine.time = 10;
    mine.qbin = (parity != 0) ? '&' : 'Y';
    mine.rept = '~';
    // Long packets only when the other side offers them too; a peer sending the nine basic
    // fields sees exactly those nine in the answer.
    mine.capas = (klongmax >= 10 ? kp::CAP_LONG : 0) | (kwindow > 1 ? kp::CAP_WINDOWS : 0);
    mine.window = std::clamp(kwindow, 1, 31);
    // Never the protocol's limit itself: a peer that adds the check to the offer would need a
    // longer length field than a long packet has.
    mine.maxlx = std::clamp(klongmax, 10, kp::MAXLONG - 24);
    peer = KParams{};
    coding = KCoding{};
    bct = 1;
    capas = 0;
    window = 1;
    seq = 0;
    inlen = 0;
    lastb = -1;
    lossy = false;
}

// The capabilities both sides offered, and the window: the smaller offer when both offer one.
void agreecaps(const KParams& offer) {
    capas = offer.capas & peer.capas;
    window = capas & kp::CAP_WINDOWS ? std::min(offer.window, peer.window) : 1;
}

// ---- receiving ---------------------------------------------------------------------------

RcvFile rf;

void nak() {
    spack('N', seq, "");
}

// Answers a Send-Init with this side's parameters: the 8-bit offer answered ('Y' to a prefix
// character, 'N' to a bare 'Y'), repeats and the stronger checks only when the sender asks.
void takeinit(const KPacket& k) {
    peer = rpar(reinterpret_cast<const uint8_t*>(k.data.data()), static_cast<int>(k.data.size()));
    KParams answer = mine;
    answer.qbin = peer.qbin == 'Y' ? (parity ? '&' : 'N') : 'Y';
    answer.rept = peer.rept == '~' || (peer.rept > 32 && peer.rept < 127) ? peer.rept : ' ';
    answer.chkt = peer.chkt == '2' || peer.chkt == '3' ? peer.chkt : '1';
    agreecaps(mine);
    answer.capas = capas;
    answer.window = window;
    coding = agree(answer, peer);
    mine = answer;
    seq = k.seq;
    bct = 1;
    spack('Y', seq, spar(answer));
    bct = agreechk(answer, peer);
    seq = (seq + 1) & 63;
    if (coding.qbin) xferstats(XS_MSG, "Using 8-bit quoting");
    if (window > 1) xferstats(XS_MSG, sfmt("Using sliding windows of %d", window));
}

// Text for the screen (X packets, a server's short answers), kept for the caller to show.
void keeptext(const std::vector<uint8_t>& t) {
    constexpr size_t most = 256 * 1024;
    if (kreply.size() < most)
        kreply.append(t.begin(),
                      t.begin() + static_cast<long>(std::min(t.size(), most - kreply.size())));
}

// The receive states after a Send-Init: files (F) or text for the screen (X), their data, end
// of file and end of batch. Returns 1 when a file was discarded by the sender, else 0.
//
// With sliding windows the packets after the next one expected, up to the window, are answered
// at once and held; each gap seen gets a NAK, and the held packets are taken in order. A gap is
// asked for again only when its resend is known lost: the packet of a later NAK came first (the
// sender answers NAKs in order and the line keeps it), or the sender fell silent.
int recvbatch() {
    int tries = 0, failed = 0, quiet = 0;
    bool infile = false, toscreen = false;
    std::vector<uint8_t> out;
    std::vector<KPacket> held(64); // answered packets ahead of `seq` (ok set)
    std::vector<long> nakat(64);   // when each gap was NAKed (a count of NAKs), 0 for not
    long naks = 0, heard = 0;      // NAKs sent; the latest NAK whose packet has come
    int ahead = 0;                 // the slots from `seq` seen or NAKed
    bool answered = false;         // the packet being taken was answered when it came
    auto ack = [&] {
        if (!answered) spack('Y', seq, "");
        nakat[static_cast<size_t>(seq)] = 0;
        seq = (seq + 1) & 63;
        ahead = std::max(0, ahead - 1);
    };
    auto naknow = [&](int s) {
        spack('N', s, "");
        nakat[static_cast<size_t>(s)] = ++naks;
    };
    // A packet `dist` slots ahead was seen: the slots before it not seen yet are gaps.
    auto seen = [&](int dist) {
        for (int j = ahead; j < dist; j++) {
            const size_t gap = static_cast<size_t>((seq + j) & 63);
            if (!held[gap].ok && !nakat[gap]) naknow(static_cast<int>(gap));
        }
        ahead = std::max(ahead, dist + 1);
    };
    for (;;) {
        KPacket k;
        answered = held[static_cast<size_t>(seq)].ok;
        if (answered) {
            k = std::move(held[static_cast<size_t>(seq)]);
            held[static_cast<size_t>(seq)] = KPacket{};
        } else {
            // With a hole in the window (the next packet asked for again, or later ones
            // held) a windowed sender falls silent only while it waits for an answer, most
            // often for the very packet asked for, whose resend was lost too. A second of
            // silence then asks again at once rather than after the whole time-out; the
            // short waits count as one try per time-out, so a dead line is given up as late.
            const long asked = nakat[static_cast<size_t>(seq)];
            if (window > 1 && asked && asked < heard) naknow(seq);
            const bool hole = window > 1 && (asked || ahead > 0);
            k = rpack(hole ? 1 : 0);
            if (!k.ok) {
                lossy = true;
                const bool counts = !(hole && ktimeout) || ++quiet >= waitsecs();
                if (counts) quiet = 0;
                if (counts && ++tries > retries) kfatal(tmabmsg, 1);
                // A damaged long packet whose header held tells which one it was: a resend
                // of one taken already (its answer lost) is answered again, one in the window
                // asked for again at once.
                if (k.head && window > 1) {
                    const int d = (k.seq - seq) & 63;
                    if (d >= 64 - window) {
                        if (k.type != 'S') spack('Y', k.seq, "");
                        continue;
                    }
                    if (d < window) {
                        seen(d);
                        if (!held[static_cast<size_t>(k.seq)].ok) naknow(k.seq);
                        continue;
                    }
                }
                if (window == 1 || ktimeout || !nakat[static_cast<size_t>(seq)]) naknow(seq);
                continue;
            }
            tries = quiet = 0;
            if (k.type == 'E') kfatal(peermsg(k.data), 1, false);
            const int dist = (k.seq - seq) & 63;
            if (dist >= 64 - window) { // our answer was lost: answer again, write nothing
                lossy = true;
                if (k.type == 'S') {
                    const int now = bct;
                    bct = 1;
                    spack('Y', k.seq, spar(mine));
                    bct = now;
                } else {
                    spack('Y', k.seq, "");
                }
                continue;
            }
            if (dist >= window) {
                lossy = true;
                nak();
                continue;
            }
            heard = std::max(heard, nakat[static_cast<size_t>(k.seq)]);
            if (dist > 0) {
                spack('Y', k.seq, "");
                seen(dist);
                nakat[static_cast<size_t>(k.seq)] = 0;
                held[static_cast<size_t>(k.seq)] = std::move(k);
                continue;
            }
        }
        const uint8_t* d = reinterpret_cast<const uint8_t*>(k.data.data());
        const int n = static_cast<int>(k.data.size());
        // A packet answered already cannot be asked for again.
        auto bad = [&] {
            if (answered) kfatal("Bad packet data", 1);
            nak();
        };
        if (!infile && k.type == 'X') { // a server's answer for the screen, no file
            out.clear();
            KCoding kc = coding;
            kc.image = true;
            if (!kdecode(d, n, kc, out, 255)) {
                bad();
                continue;
            }
            ack();
            infile = toscreen = true;
            continue;
        }
        if (!infile && k.type == 'F') {
            out.clear();
            KCoding kc = coding;
            kc.image = true;
            if (!kdecode(d, n, kc, out, 255)) {
                bad();
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
            ack();
            infile = true;
            continue;
        }
        if (!infile && k.type == 'B') {
            lastb = seq;
            ack();
            return failed;
        }
        if (infile && k.type == 'D') {
            out.clear();
            KCoding kc = coding;
            if (toscreen) kc.image = false;
            if (!kdecode(d, n, kc, out)) {
                bad();
                continue;
            }
            // The answer goes first: the sender works on while the data go to the disk, and
            // a failed write still ends the transfer with an E packet.
            ack();
            if (toscreen)
                keeptext(out);
            else if (!out.empty() && !rf.wrfile(out.data(), static_cast<int>(out.size())))
                kfatal(rf.err, 1);
            xferstats(XS_TICK);
            continue;
        }
        if (infile && k.type == 'Z') {
            if (toscreen) {
                toscreen = false;
            } else if (n > 0 && d[0] == 'D') { // the sender gave the file up
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
            ack();
            infile = false;
            continue;
        }
        kfatal(sfmt("Unexpected packet %s", peertext(std::string(1, k.type)).c_str()), 1);
    }
}

// A server transaction starts at sequence 0 with type-1 checks.
void newrequest() {
    seq = 0;
    bct = 1;
    inlen = 0;
}

// Server init: this side's parameters for the short answers. A server that does not know I
// answers E, which is taken as "defaults".
void serverinit() {
    vpurge();
    newrequest();
    KParams ask = mine;
    ask.chkt = '1';
    for (int tries = 0; tries <= 10; tries++) {
        spack('I', 0, spar(ask));
        KPacket k = rpack();
        if (!k.ok) continue;
        if (k.type == 'E') return;
        if (k.type == 'Y' && k.seq == 0) {
            peer = rpar(reinterpret_cast<const uint8_t*>(k.data.data()),
                        static_cast<int>(k.data.size()));
            coding = agree(ask, peer);
            agreecaps(ask);
            return;
        }
    }
    kfatal(tmabmsg, 1);
}

// Sends a request (R, G or C) and waits for its answer: the server's Send-Init (answered and
// then received), a Y carrying a short answer, or an E. Returns 0 on success, 1 on an E.
int request(char type, const std::string& data, const std::string& what) {
    newrequest();
    for (int tries = 0; tries <= 10; tries++) {
        spack(type, 0, data);
        KPacket k = rpack();
        if (!k.ok) continue;
        if (k.type == 'E') {
            xferstats(XS_MSG, type == 'R' ? sfmt("Get failed on file: %s", peertext(what).c_str())
                                          : peermsg(k.data));
            std::vector<uint8_t> t(k.data.begin(), k.data.end());
            keeptext(t);
            return 1;
        }
        if (k.type == 'Y' && k.seq == 0 && type != 'R') {
            std::vector<uint8_t> t;
            KCoding kc = coding;
            kc.image = false;
            if (!kdecode(reinterpret_cast<const uint8_t*>(k.data.data()),
                         static_cast<int>(k.data.size()), kc, t, 4096))
                t.assign(k.data.begin(), k.data.end());
            xferstats(XS_MSG,
                      sfmt("Completed msg: %s", peertext(std::string(t.begin(), t.end())).c_str()));
            keeptext(t);
            return 0;
        }
        if (k.type == 'S' && k.seq == 0) {
            takeinit(k);
            return recvbatch();
        }
    }
    kfatal(tmabmsg, 1);
}

// The data of a G or C packet, encoded like file data.
std::string encodetext(const std::string& t) {
    KCoding k = coding;
    k.image = true;
    std::string out;
    for (char c : t)
        kencode(static_cast<uint8_t>(c), k, out);
    return out;
}

// The peer's B was answered last, and a sender ends only when it has that answer: if it was
// lost, the peer sends B again, at once when the answer came damaged, after its time-out when
// it never came. Until the line has been quiet for 2 s (and at most the peer's time-out and 2 s
// more), a repeated B gets the same answer. Anything else ends the wait and is left for the
// terminal: the peer has ended and its host is talking. Keys typed meanwhile wait for the
// terminal too.
void linger(int bseq) {
    struct KeepKeys {
        int was = canabort;
        KeepKeys() { canabort = 0; }
        ~KeepKeys() { canabort = was; }
    } keys;
    // Bytes taken from the line and not yet known to be a repeated B, starting with those read
    // after the B.
    std::string held(reinterpret_cast<const char*>(inbuf), static_cast<size_t>(inlen));
    inlen = 0;
    auto take = [&] {
        while (!qempty(comq)) {
            const int c = unqchar(comq);
            if (c >= 0 && c <= 0xff) held += static_cast<char>(c);
        }
    };
    const long end = kclock() + 1000L * (waitsecs() + 2);
    while (kclock() < end) {
        take();
        // The end of line and padding after a packet.
        while (!held.empty() && (held[0] == '\r' || held[0] == '\n' || held[0] == '\0'))
            held.erase(0, 1);
        if (!held.empty() && static_cast<uint8_t>(held[0]) != kp::MARK) break;
        if (held.size() > 1) {
            int used = 0;
            const KPacket k = kparse(reinterpret_cast<const uint8_t*>(held.data()) + 1,
                                     static_cast<int>(held.size()) - 1, used, bct,
                                     capas & kp::CAP_LONG ? mine.maxlx : 0);
            if (used > 0) {
                if (k.ok && (k.type != 'B' || k.seq != bseq)) break;
                if (k.ok) spack('Y', bseq, ""); // a damaged one comes again: nothing to say
                held.erase(0, static_cast<size_t>(used) + 1);
                continue;
            }
        }
        if (held.size() > sizeof inbuf) break;
        const int c = vgetc(2);
        if (c < 0) break; // quiet
        held += static_cast<char>(c);
    }
    take();
    qwrite(comq, reinterpret_cast<const uint8_t*>(held.data()), static_cast<int>(held.size()));
}

// The end of a receive: the summary at once, then the wait for a repeated B, but only after a
// receive that lost packets: on a line that lost none, the lone answer to B is as safe as every
// other, and the wait would hold back the terminal 2 s after every clean transfer from a peer
// whose host stays silent (a server, or a bare program on the line).
[[noreturn]] void kend(int code) {
    const int bseq = lastb;
    if (bseq < 0 || !lossy) done(code);
    try {
        done(code);
    } catch (const XferDone&) {
        oflush();
        linger(bseq);
        throw;
    }
}

} // namespace

void sndkermit() {
    fcnt = 0;
    defaults();
    xferstats(XS_BEGIN);
    comflush();      // what came before is stale; the peer may be waiting already
    mine.chkt = '3'; // the receiver answers '3' to use the CRC, anything else keeps type 1
    std::string ans = exchange('S', spar(mine));
    peer = rpar(reinterpret_cast<const uint8_t*>(ans.data()), static_cast<int>(ans.size()));
    coding = agree(mine, peer);
    bct = agreechk(mine, peer);
    agreecaps(mine);
    if (coding.qbin) xferstats(XS_MSG, "Using 8-bit quoting");
    if (window > 1) xferstats(XS_MSG, sfmt("Using sliding windows of %d", window));
    seq = 1;
    std::string path;
    while (nxtlist(path))
        sendone(path);
    // Every file is acknowledged by now. A receiver ends as soon as it has answered B, so when
    // that answer is lost nobody answers again: the batch ends as sent.
    bool silent = false;
    exchange('B', "", &silent);
    if (silent) xferstats(XS_MSG, "End of batch not acknowledged");
    done(0);
}

void rcvkermit() {
    fcnt = 0;
    defaults();
    xferstats(XS_BEGIN);
    if (!kgetlist.empty() || !kcommand.empty()) {
        // Client of a Kermit server: GET each name, or one generic or host command.
        const std::string names = kgetlist, cmd = kcommand;
        kgetlist.clear();
        kcommand.clear();
        coding.image = !(dflags & OPT_C);
        serverinit();
        int failed = 0;
        if (!cmd.empty()) {
            std::string data = cmd.substr(1);
            if (cmd[0] == 'G') { // the letter, then each argument as a length and its text
                data = std::string(1, cmd[1]);
                if (cmd.size() > 2) {
                    const std::string arg = encodetext(cmd.substr(2));
                    if (arg.size() > 90) kfatal("Remote command too long", 1, false);
                    data += static_cast<char>(kp::tochar(static_cast<int>(arg.size())));
                    data += arg;
                }
            } else {
                data = encodetext(data);
                if (static_cast<int>(data.size()) > kp::MAXDATA - 2)
                    kfatal("Remote command too long", 1, false);
            }
            failed = request(cmd[0], data, "");
        } else {
            size_t at = 0;
            while (at < names.size()) {
                size_t end = names.find_first_of(" \t", at);
                if (end == std::string::npos) end = names.size();
                const std::string name = names.substr(at, end - at);
                at = names.find_first_not_of(" \t", end);
                if (at == std::string::npos) at = names.size();
                if (name.empty()) continue;
                const std::string enc = encodetext(name);
                if (static_cast<int>(enc.size()) > kp::MAXDATA - 2) {
                    xferstats(XS_MSG, sfmt("Get failed on file: %s", peertext(name).c_str()));
                    failed = 1;
                    continue;
                }
                failed |= request('R', enc, name);
            }
        }
        kend(failed);
    }
    int allowance = htime;
    // R: wait for the Send-Init.
    for (;;) {
        KPacket k = rpack();
        if (k.ok && k.type == 'S') {
            takeinit(k);
            break;
        }
        if (k.ok && k.type == 'E') kfatal(peermsg(k.data), 1, false);
        if (!k.ok && --allowance <= 0) {
            gtimeout = 1;
            kfatal(htabmsg, 1);
        }
        nak();
    }
    coding.image = !(dflags & OPT_C);
    kend(recvbatch());
}

int kremote(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.pop_back();
    size_t sp = t.find_first_of(" \t");
    const std::string verb = t.substr(0, sp);
    std::string arg = sp == std::string::npos ? "" : t.substr(t.find_first_not_of(" \t", sp));
    if (verb == "bye")
        kcommand = "GL";
    else if (verb == "finish")
        kcommand = "GF";
    else if (verb == "cwd")
        kcommand = "GC" + arg;
    else if (verb == "directory")
        kcommand = "GD" + arg;
    else
        kcommand = "C" + t;
    kreply.clear();
    const int r = rcv("", ".");
    kcommand.clear();
    // The server's text, line by line, with its control bytes made visible.
    size_t at = 0;
    while (at < kreply.size()) {
        size_t nl = kreply.find('\n', at);
        if (nl == std::string::npos) nl = kreply.size();
        std::string line = kreply.substr(at, nl - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        zzprintf("%s\r\n", peertext(line, 200).c_str());
        at = nl + 1;
    }
    kreply.clear();
    return r;
}
