#include "core/term.h"

#include "config/menu.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "ports/pty.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/scrollback.h"
#include "screen/vscreen.h"
#include "script/cmd.h"
#include "transfer/capture.h"
#include "transfer/zmodem.h"

#include <algorithm>
#include <cstring>

int cmdchar = 5;
int terchar = -1;
int mnuchar = KC_F1;
int hlpchar = KC_F2;
int gldchar = KC_F3;
int shechar = KC_F4;
int capchar = KC_F5;
int prnchar = KC_F6;
int cpschar = KC_F9;
int brkchar = 2;
int linchar = -1;
int louchar = -1;
int abochar = 3;
int scrchar = KC_INSLINE;
int sclchar = KC_DELLINE;
int scachar = KC_ALTK;
int sldchar = KC_CDOWN;
int sluchar = KC_CUP;
int spdchar = KC_SCRDN;
int spuchar = KC_SCRUP;
int wruchar = 5;
char wrustr[81] = "";

void termreset() {
    cmdchar = 5, terchar = -1, mnuchar = KC_F1, hlpchar = KC_F2, gldchar = KC_F3, shechar = KC_F4;
    capchar = KC_F5, prnchar = KC_F6, cpschar = KC_F9, brkchar = 2, linchar = -1, louchar = -1;
    abochar = 3, scrchar = KC_INSLINE, sclchar = KC_DELLINE, scachar = KC_ALTK, sldchar = KC_CDOWN;
    sluchar = KC_CUP, spdchar = KC_SCRDN, spuchar = KC_SCRUP, wruchar = 5;
    wrustr[0] = 0;
}

namespace {
constexpr int TALK = 0, HALF = 2;

int toldlines = -1, toldcols = -1; // the emulated size the line was last told

// Whatever way terminal mode ends, the keyboard goes back to its plain type.
struct KbdRestore {
    KbdRestore() = default;
    KbdRestore(const KbdRestore&) = delete;
    KbdRestore& operator=(const KbdRestore&) = delete;
    ~KbdRestore() { setkbd(vkbtype & ~128); }
};

void kbdnormal() {
    setkbd(vkbtype & ~128);
}

bool isscrollkey(int k) {
    return k == sldchar || k == sluchar || k == spdchar || k == spuchar;
}

// While the scrollback is shown, "/" asks on the bottom row for text and shows the next older
// row holding it (the bell when none does).
constexpr int SBSEARCHKEY = '/';

void sbfind() {
    cpos(vlines - 1, 0);
    vclreol(vlines - 1, 0);
    zzprintf("Search back for: ");
    char buf[NGETS_MAX + 1] = {};
    if (ngets(buf, NG_ECHO | NG_ESC) == 0 && buf[0]) {
        if (!sbsearch(buf)) bell();
    } else {
        sbredraw();
    }
}
} // namespace

void termsize() {
    if (winchsig) {
        winchsig = 0;
        int rows = Lines, cols = Cols;
        if (conswinsize(rows, cols)) {
            rows = std::clamp(rows, 24, MAXROWS);
            cols = std::clamp(cols, 80, MAXCOLS);
            if (rows != Lines || cols != Cols) {
                sbdisplay(0); // the live rows are resized, never a view of the scrollback
                vconsize(rows, cols);
                oflush();
            }
        }
    }
    if (vlines == toldlines && vcols == toldcols) return;
    toldlines = vlines;
    toldcols = vcols;
    ptysetsize(vlines, vcols);
}

int termcmd(int k) {
    if (sbcurline && k == SBSEARCHKEY) return sbfind(), 0;
    if (!isscrollkey(k)) sbdisplay(0);
    if (compose) {
        int r = comkey(k);
        if (r == -2) {
            compose = 0;
            ttyout(7);
            return 0;
        }
        if (r == -1) return 0;
        compose = 0;
        k = r;
    }
    if (k == terchar) return 3;
    if (k == cmdchar) return 1;
    if (col132 && (k == scrchar || k == sclchar)) {
        if (k == scrchar && vbegcol < 132 - Cols) vbegcol += 16, vendcol += 16;
        if (k == sclchar && vbegcol > 0) vbegcol -= 16, vendcol -= 16;
        vredraw();
        return 0;
    }
    if (k == mnuchar) {
        kbdnormal();
        enterproc(runmenus, 0);
        return 0;
    }
    if (sblinemax) {
        int page = vlines / 3 * 2;
        if (k == sldchar) return sbprev(1), 0;
        if (k == spdchar) return sbprev(page), 0;
        if (k == sluchar) return sbnext(1), 0;
        if (k == spuchar) return sbnext(page), 0;
    }
    if (k == brkchar) return COM->brk(), 0;
    if (k == louchar) return kbdnormal(), dologout(), 0;
    if (k == linchar) return kbdnormal(), dologin(), 0;
    if (k == hlpchar) return kbdnormal(), help(""), 0;
    if (k == gldchar) return gold = 1, 0;
    if (k == cpschar && (vemode & 0x3000)) return compose = 1, 0;
    if (k == shechar) return shell(1), 0;
    if (k == capchar) {
        kbdnormal();
        setcapt(castat == 2 ? 1 : 2);
        captstatus(1);
        return 0;
    }
    if (k == prnchar) return prscreen(), 0;
    if (k == KC_LOSTLINE) return 4;
    if (k == scachar && (vemode & 0x4000)) {
        if (kbtype == 4)
            vkbtype &= ~128;
        else
            vkbtype |= 128;
        return 0;
    }
    if (kbtype == 4 && dupmode == HALF) ttyout(k);
    return -1;
}

void dispcapt(int c) {
    if (wrustr[0] && c == wruchar) {
        for (const char* p = wrustr; *p; p++) {
            dcomout(static_cast<unsigned char>(*p));
            if (viewflag) zzprintf("%kc", static_cast<unsigned char>(*p));
        }
        return;
    }
    if (vmaskpar) c &= 127;
    bool addedcr = false;
    bool addedlf = false;
    if (amode == 1) {
        if (inigtab[c & 255]) return;
        if (intrtab) c = intrtab[c & 255];
        if (c == 13 && addlf) addedlf = true;
        if (c == 10 && addcr) addedcr = true;
    }
    if (quiet && castat == 2 && dupmode != TALK) {
        if (addedcr) capture(13);
        capture(c);
        if (addedlf) capture(10);
        return;
    }
    if (addedcr) ttyout(13);
    ttyout(c);
    if (addedlf) ttyout(10);
}

namespace {
// After a received byte, the bytes queued right behind it are shown in one piece when
// dispcapt would pass each of them to ttyout unchanged. A remote-command byte stays queued for
// chwait, and keys are looked at again after the piece.
void dispcaptrun() {
    // Server mode watches every byte for the ^C that ends it.
    if (xflag || wrustr[0] || amode == 1 || (quiet && castat == 2)) return;
    unsigned char buf[COMBUFSIZ];
    int n = unqbytes(comq, buf, static_cast<int>(sizeof buf), remotebyte());
    for (int i = 0; i < n; i++) {
        zmautostart(buf[i]);
        lrncom(buf[i]);
        if (vmaskpar) buf[i] &= 127;
    }
    ttyouts(buf, n);
}
} // namespace

int term(const char* const* list) {
    dmatch(0, nullptr);
    KbdRestore restore;
    for (;;) {
        setkbd((vkbtype & 128) ? 4 : vkbtype);
        if (dupmode == TALK) zzprintf("t=>");
        for (bool newpass = false; !newpass;) {
            termsize();
            int c = 0;
            int k = chwait(&c);
            if (k == -2) return 2;
            if (k == -1) {
                sbdisplay(0);
                if (xflag && c == 3) return 0;
                vfromhost = 1;
                if (dupmode > HALF) {
                    zzprintf("%kv", c);
                } else if (dupmode == TALK) {
                    dispcapt(c & 127);
                    if (!(c & 128)) dcomout((c & 127) | 128);
                    if ((c & 127) == 10) newpass = true;
                } else {
                    zmautostart(c);
                    lrncom(c);
                    dispcapt(c);
                    if (list && dmatch(c, list)) {
                        vfromhost = 0;
                        return 0;
                    }
                    if (!list) dispcaptrun();
                    zmautorcv();
                }
                vfromhost = 0;
                continue;
            }
            if (k <= 0) continue;
            if (gold) {
                gold = 0;
                if (kbtype == 4)
                    toscancode(k);
                else
                    goldkey(k);
                continue;
            }
            int r = termcmd(k);
            if (r == 0) break;
            if (r > 0) return r;
            if (kdisable) continue;
            if (vcapslock && k >= 'a' && k <= 'z') k -= 32;
            if (blokmode) {
                doblock(k);
                continue;
            }
            if (kbtype == 4) {
                toscancode(k);
                continue;
            }
            if (k > 255) {
                fnkey(k);
                continue;
            }
            if (dupmode == HALF) ttyout(k);
            if (dupmode == TALK && k == 26) return 0;
            lrnkey(k);
            xcomout(k);
            if (dupmode == TALK && k == 13) dcomout(10);
        }
    }
}
