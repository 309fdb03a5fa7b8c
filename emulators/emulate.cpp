#include "emulators/emulate.h"

#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/scrollback.h"
#include "script/window.h"
#include "transfer/capture.h"

#include <algorithm>
#include <cstring>

namespace {

// Moves the memory's cursor down a row, scrolling at the bottom; with scrolling off it goes
// back to the top row instead and the console cursor is sent there. False in that case, so
// the caller does not also move the console's cursor.
bool ttyadvance() {
    if (vdestline + 1 < vlines) {
        vdestline++;
        return true;
    }
    if (vnoscroll) {
        vdestline = 0;
        cgoto();
        return false;
    }
    sbaddline(0);
    vuscroll(0, 0);
    return true;
}

// The plain TTY emulation: memory follows the console, which does its own wrapping.
void ttylf() {
    if (ttyadvance()) _ttyout('\n');
}

} // namespace

void ttytty(int c) {
    c &= 0xff;
    // Bytes go to the console as they are, so what the screen layer knew of the console's
    // cursor no longer holds.
    ccurline = -1;
    switch (c) {
    case '\b':
        if (vdestcol > 0) vdestcol--;
        _ttyout('\b');
        if (vdestbs) {
            _ttyout(' ');
            _ttyout('\b');
        }
        return;
    case '\t': {
        int next = (vdestcol / 8 + 1) * 8;
        if (next > Cols - 1) next = Cols - 1;
        if (next <= vdestcol) return;
        for (int col = vdestcol; col < next; col++) {
            if (vsave && vbegscr) vscreen[vdestline][col] = static_cast<vcell>(vcurattr | ' ');
            if (vtabex) _ttyout(' ');
        }
        if (!vtabex) _ttyout('\t');
        vdestcol = next;
        return;
    }
    case '\n':
        ttylf();
        return;
    case '\r':
        vdestcol = 0;
        _ttyout('\r');
        return;
    default:
        break;
    }
    if (c < 32 || c == 127) {
        _ttyout(c);
        return;
    }
    if (disptab) c = disptab[c];
    bool corner = vdestline >= vlines - 1 && vdestcol >= Cols - 1;
    if (vsave && vbegscr) vscreen[vdestline][vdestcol] = static_cast<vcell>(vcurattr | (c & 0xff));
    if (!(vnoscroll && corner)) _ttyout(c);
    if (++vdestcol < Cols) return;
    vdestcol = 0;
    if (!ttyadvance()) return;
    // A console that wrapped by itself is already there; one with the newline glitch or
    // without margins is taken there by CR LF, which scrolls it as the memory scrolled.
    if (!AM || XN) {
        _ttyout('\r');
        _ttyout('\n');
    }
}

namespace {

// Set once the line saying an emulation is not built has been shown for this selection.
int unbuiltshown = 0;

void setpcscreen(int on) {
    if (on == pcscreen) return;
    pcscreen = on;
    if (!vbegscr) return;
    for (int r = 0; r < Lines && r < MAXROWS; r++) {
        if (!vscreen[r]) continue;
        for (int c = 0; c < vcolmax; c++)
            vscreen[r][c] = static_cast<vcell>((vscreen[r][c] & 0xff) | (on ? 0x0700 : 0));
    }
}

} // namespace

void ttyout(int c) {
    if (castat == 2 && !nocapt) capture(c & 0xff);
    if (wactive) {
        wputc(c);
        return;
    }
    // Until the screen exists (and in quiet mode) bytes go to the console as they are.
    if (!vbegscr) {
        _ttyout(c);
        return;
    }
    int m = vemode & ~1;
    if (m & EM_DEC)
        emvt100(c);
    else if (m == EM_TTY)
        ttytty(c);
    else if (m & EM_TVFAMILY)
        emtv925(c);
    else if (m & EM_PCTERM)
        empcterm(c);
    else if (m & EM_IB3101)
        em3101(c);
    else
        _ttyout(c);
}

void ttyouts(const unsigned char* p, int n) {
    // Bytes still in hand count as received data waiting: the console is written once, at the
    // end, unless the buffer fills first.
    OutBatch b;
    while (n > 0) {
        int k = 0;
        if (!wactive && vbegscr && ((vemode & ~1) & EM_DEC)) k = emvt100s(p, n);
        if (k == 0) {
            ttyout(*p);
            k = 1;
        }
        p += k;
        n -= k;
    }
}

void emulate(int mode, int redisplay) {
    mode &= ~1;
    if ((mode & (EM_PCTERM | EM_SCOANSI)) && Lines < 25) {
        mode = EM_VT100;
        zzprintf("Screen must have at least 25 lines\r\n");
    }
    emreset = 1;
    unbuiltshown = 0;

    // Power-on state common to every emulation.
    XNwrap = 0;
    AMon = vtwrap;
    if (!PT) vtabex = 1;
    appcur = appkey = 0;
    clrprgkeys(); // a new emulation starts without the host's programmed keys
    kdisable = 0;
    protect = 0;
    dimattr = 0;
    vscregion = 0;
    vscregtop = 0;
    vorigin = vrelorg = 0;
    vinsmode = 0;
    csreset();
    setprint(0);
    prauto = 0;
    prextent = 1;
    prformfd = 1;
    state = ostate = 0;
    vtptr = 0;
    vtbuf[0] = '\0';
    blokmode = 0;
    vt200mode = 0;
    vtc18out = 0;
    vtdcson = vdcstate = vtstrign = 0;
    dcsreset();
    int oldpc = pcscreen;
    int newpc = 0;
    pcset = 0;
    vnlmode = 0;
    xtreset();
    vextattr = 0;
    vbce = 0;
    // The XTERM emulation's width is the console's: leaving it is no switch of the console.
    if (col132 || (vcols != 80 && (vemode & ~1) != EM_XTERM)) set132col(0);
    vlines = vstatus ? (Lines - 1 < 24 ? Lines - 1 : 24) : 24;
    vcols = 80;
    vbegcol = 0;
    vendcol = Cols - 1;
    vmaskpar = maskpar;
    nrcsmode = 0;
    sshift = 0;
    vcurstat = 0;
    vcapslock = 0;
    vblink(1);
    for (int i = 0; i < MAXCOLS; i++)
        tabs[i] = (i % 8) == 0;

    // Per emulation.
    switch (mode) {
    case EM_TTY:
        vlines = vstatus ? Lines - 1 : Lines;
        break;
    case EM_WYSE50:
        protrev = revdim;
        break;
    case EM_VT2207:
        pcset = 1;
        vt200mode = 1;
        vmaskpar = 1;
        vics200(defcset);
        nrcsmode = 1;
        break;
    case EM_VT2208:
        pcset = 1;
        vt200mode = 2;
        vmaskpar = 0;
        vics200(0);
        nrcsmode = 0;
        break;
    case EM_SCOANSI:
        newpc = 1;
        pcset = 1;
        vt200mode = 2;
        vmaskpar = 0;
        vblink(0);
        vlines = 25;
        break;
    case EM_WYSE60:
        vmaskpar = 0;
        break;
    case EM_PCTERM:
        vlines = 25;
        vmaskpar = 0;
        pcset = 1;
        break;
    case EM_XTERM:
        // The emulated screen is the console window, whatever its size.
        vlines = vstatus ? Lines - 1 : Lines;
        vcols = std::clamp(Cols, 1, MAXCOLS);
        vmaskpar = 0;
        vbce = 1;
        break;
    default:
        break;
    }
    if (vlines > Lines) vlines = Lines;
    if (vlines < 1) vlines = 1;
    vnoscroll = noscroll;
    if (!vstatus) statline(3, 0);
    if (sblockmode) {
        blokmode = 1;
        vnoscroll = 1;
        protect = 1;
    }
    if (mode == EM_PCTERM)
        vkbtype |= 128;
    else
        vkbtype &= ~128;

    vscregbot = vlines - 1;
    vtsavreset();
    for (int i = 0; i < NPRGKEYS; i++)
        setprgkey(i, "");
    std::memset(vlattr, 0, sizeof vlattr);

    setpcscreen(newpc);
    (void)oldpc;
    std::memcpy(colormap, pcscreen ? bwmap : usermap, sizeof colormap);
    if (mode == EM_XTERM)
        vcurcolor = -1; // the console's own colours, not grey on black
    else
        vcolor(bwmap[0]);
    vsetattr(0);

    ovemode = mode;
    if (mode == (vemode & ~1)) return;
    vemode = mode | (vemode & 1);
    if (mode == EM_TTY) return;
    if (!(mode & (EM_PCTERM | EM_SCOANSI | EM_XTERM)) && vdestline > 23) {
        vclreos(24, 0);
        cpos(23, vdestcol);
    }
    if (redisplay) {
        if (Lines > vlines) vclreos(vlines, 0);
        cpos(vlines - 1, 0);
        ttyout('\r');
        ttyout('\n');
    }
}

void setmaskpar(int on) {
    maskpar = on ? 1 : 0;
    constexpr int own = EM_VT2207 | EM_VT2208 | EM_SCOANSI | EM_WYSE60 | EM_PCTERM | EM_XTERM;
    if (!((vemode & ~1) & own)) vmaskpar = maskpar;
}

void setlinecs(int utf8) {
    linecs = utf8 ? 1 : 0;
}

void replyraw(const char* buf, int len) {
    if (replyhook) {
        replyhook(buf, len);
        return;
    }
    // An answer must never hold up input: a line that stops taking bytes only loses answers.
    comreply(reinterpret_cast<const uint8_t*>(buf), len);
}

void sndcsi(const char* text) {
    char buf[VTBUFSIZ + 8];
    int n = 0;
    if (vtc18out) {
        buf[n++] = static_cast<char>(0x9b);
    } else {
        buf[n++] = '\033';
        buf[n++] = '[';
    }
    for (const char* p = text; *p && n < static_cast<int>(sizeof buf) - 1; p++)
        buf[n++] = *p;
    replyraw(buf, n);
}

void vt_ident(int secondary) {
    int m = vemode & ~1;
    if (m & EM_VT220) {
        sndcsi(secondary ? ">1;10;0c" : "?62;2;6;8;9c");
        return;
    }
    if (m == EM_XTERM && secondary) { // an xterm of no particular version
        sndcsi(">41;0;0c");
        return;
    }
    const char* text = m == EM_VT52 ? "\033/Z" : "\033[?6c";
    replyraw(text, static_cast<int>(std::strlen(text)));
}

void vt_reset() {
    emulate(vemode & ~1, 0);
    vclear();
}

void vt_softreset() {
    const int m = vemode & ~1;
    setcursor(-1);
    vinsmode = 0;
    vrelorg = vorigin = 0;
    AMon = vtwrap;
    XNwrap = 0;
    kdisable = 0;
    appcur = appkey = 0;
    vnlmode = 0;
    vscregion = 0;
    vscregtop = 0;
    vscregbot = vlines - 1;
    csreset();
    if (m & EM_VT220) vics200(m == EM_VT2207 ? defcset : 0);
    vsetattr(0);
    vtsavreset();
}

void emreset0() {
    state = ostate = 0;
    vtptr = 0;
    vtcmd = 0;
    std::memset(vtbuf, 0, sizeof vtbuf);
    appcur = appkey = vnlmode = 0;
    vt200mode = vtc18out = nrcsmode = vtfkeyl = vtdcson = vdcstate = vtstrign = sshift = 0;
    blokmode = revmap = emreset = 0;
    vtsavx = vtsavy = vtsavattr = vtsavset = 0;
    vtwrap = 1;
    noscroll = sblockmode = defcset = vdestbs = vtabex = 0;
    revdim = maskpar = 1;
    linecs = 0;
    vemode = EM_VT100;
    ovemode = 0;
    unbuiltshown = 0;
    replyhook = nullptr;
    udkallow = 1;
    csreset();
    dcsreset();
}

void emunbuilt(const char* what, int c) {
    if (!unbuiltshown) {
        unbuiltshown = 1;
        zzprintf("%s emulation is not built yet\r\n", what);
    }
    ttytty(c);
}
