#pragma once
// The emulator framework: every byte bound for the screen in terminal mode - received from the
// host or printed by the program itself - goes through ttyout(), which hands it to the
// interpreter of the selected emulation. emulate() selects an emulation and returns every mode
// of the emulator and the screen to its power-on state. The DEC/ANSI family interpreter
// (emvt100: VT100, VT102, VT52, ANSI, SCO-ANSI, VT220 7- and 8-bit) lives in vt100.cpp; the
// plain TTY emulation is inline in ttyout. Replies to the host go out through sndcsi().
//
// The interpreter keeps its state across calls, one byte per call with no allocation, so a
// sequence split over two received blocks completes on the next byte. It changes the screen
// only through the virtual screen's operations.
#include "screen/vscreen.h"

#include <cstdint>

// The emulation mode bits (EM_VT100, ...) are the screen's: screen/vscreen.h.

// The emulation mode word: one bit per emulation; bit 0 is the display driver's batch flag,
// and the value 1 alone marks plain output while a procedure owns the screen.
extern int vemode;
inline int ovemode = 0; // the emulation asked for by the last selection

// ---- the interpreter's state (module-level, reset by emulate) ----------------------------
constexpr int VTBUFSIZ = 80; // parameter and intermediate bytes kept: at most 79
inline int state = 0;        // 0 ground, 1 ESC, 2 CSI, 3..6 ESC ( ) * +, 7 ESC #, 8 ESC SP,
                             // 10, 11 VT52 ESC Y, 20..23 SCO-ANSI key programming
inline int ostate = 0;       // state at the last final byte
inline char vtbuf[VTBUFSIZ]; // collected parameter bytes, NUL-terminated
inline int vtptr = 0;        // fill level of vtbuf
inline int vtcmd = 0;        // the final byte

// Modes.
inline int appcur = 0;    // cursor keys send application sequences
inline int appkey = 0;    // keypad application mode
inline int vnlmode = 0;   // line feed also returns the carriage
inline int vt200mode = 0; // 0 VT100 mode, 1 VT200 7-bit, 2 VT200 8-bit
inline int vtc18out = 0;  // replies and keys use 8-bit C1 introducers
inline int vbsdel = 1;    // the backspace key sends DEL in the VT220 emulations
inline int nrcsmode = 0;  // national replacement sets active
inline int vtfkeyl = 0;   // user-defined keys locked
inline int vtdcson = 0;   // a device-control string is open
inline int vdcstate = 0;  // its interpreter state
inline int vtstrign = 0;  // 1 inside an operating-system command or other string that is not
                          // shown (ESC ] ^ _ X), 2 after an ESC in it
inline int sshift = 0;    // single shift 2 or 3 pending
inline int blokmode = 0;  // block mode of the TeleVideo emulations
inline int revmap = 0;    // screen shown reversed (private mode 5)
inline int emreset = 0;   // set whenever emulate ran (the escape prompt looks at it)

// Saved cursor (ESC 7 / CSI s).
inline int vtsavx = 0, vtsavy = 0, vtsavattr = 0, vtsavset = 0;

// Settings that shape a selection (set by scripts and the configuration).
inline int vtwrap = 1;     // auto-wrap at selection
inline int noscroll = 0;   // a line feed on the last row goes to row 0
inline int sblockmode = 0; // start the TeleVideo emulations in block mode
inline int revdim = 1;     // show dim as reverse (Wyse 50)
inline int defcset = 0;    // default national set (VT220-7)
inline int vdestbs = 0;    // destructive backspace
inline int vtabex = 0;     // expand tabs into spaces on the console
inline int maskpar = 1;    // received bytes are cut to 7 bits unless the emulation is 8-bit
// The line's character set: 1 UTF-8 (decoded before the interpreter, in every emulation of the
// DEC family but SCO-ANSI, which is a PC code page by nature), 0 bytes. XTERM always decodes.
// Start-up takes it from the locale; with UTF-8 parity masking starts off.
inline int linecs = 0;

// Longest text of a host-programmed key (the keys themselves live with the keyboard).
constexpr int PRGKEYMAX = 79;

// Modes that live with the screen (screen/vscreen.h): prauto, prextent, prformfd (printing),
// vcurstat (status line), pcset (PC character set); with the line settings
// (ports/settings.h): vmaskpar (received bytes cut to 7 bits).

// The `maskpar` setting (`set maskpar`): kept for every later emulation change, and shown at
// once unless the current emulation decides the masking itself (VT220, SCO-ANSI, PC-term,
// Wyse 60).
void setmaskpar(int on);
// ==== `set linecs utf8|8bit` hook (for the settings table): the line's character set. ====
void setlinecs(int utf8);

// ---- entry points --------------------------------------------------------------------------
void ttyout(int c);
// n received bytes, with the same result as ttyout on each in turn; runs of printable ASCII
// met in the DEC family's ground state go to the screen in one piece.
void ttyouts(const unsigned char* p, int n);
// ttyout's work on bytes for the DEC family, from the first byte until the output goes
// elsewhere (a script window, another family); returns how many bytes it took.
int emvt100s(const unsigned char* p, int n);
void emulate(int mode, int redisplay);
void emvt100(int c);
void sndcsi(const char* text);
// Sends bytes to the host as they are (through the reply writer).
void replyraw(const char* buf, int len);
void vt_ident(int secondary);
// RIS: the emulation selected afresh and the screen cleared.
void vt_reset();
// DECSTR: modes, margins, renditions and character sets to their power-on state; the screen,
// the cursor and the programmed keys stay.
void vt_softreset();
// The saved cursor (ESC 7) to its power-on state: home, plain, the current character sets.
void vtsavreset();
int vtgetp1();
int vtgetp2();
int vtgetp3();
int vtqgetp1();
void savestat();
void restorestat();
void erasedisplay(int selective);
void eraseline(int selective);
void insline(int n);
void delline(int n);
void isofg(int n, int permanent);
void isobg(int n, int permanent);
void ansicolor(int n);
void vtescape();
void vtcontrol();
void vtqcontrol();
void vtecontrol();
void vt_ri();
void vt_hts();
void vt_ss2();
void vt_ss3();
int doblock(int key);

// ---- the character sets (charset.cpp) -------------------------------------------------------
// Set numbers: 0..12 the national variants of ASCII (0 american), then these two.
constexpr int SET_DMN = 13; // DEC supplemental (multinational)
constexpr int SET_DSG = 14; // DEC special graphics
// VT220: the set designated as G0..G3. GLset / GRset (screen/vscreen.h) say which G-set serves
// the left and right halves: 1..4 for G0..G3, 0 for the neutral DEFset / DMNsetp.
extern int G0set, G1set, G2set, G3set;
// The simple model of the other emulations: each G-set is 0 ASCII, 1 United Kingdom or
// 2 line drawing; `charset` is the one invoked (0 G0, 1 G1); vcharset the effective one, with
// 8 added while a single shift lasts one character (savcharset is then restored).
extern int charset, savcharset;
extern int g0charset, g1charset, g2charset, g3charset;
// Whether a host may program the user-defined keys (DECUDK). A setting: `set udkallow`.
extern int udkallow;

// The cell code of a received printable byte (a glyph for line drawing and PC characters);
// with `show` it is also sent to the console.
int grconvert(int c, int show);
// True when printable ASCII shows as itself in the current sets (no single shift pending).
int grplain();
// Finishes ESC ( ) * + with `final`; returns the next interpreter state.
int vtpcontrol(int final);
void selectcs(int set, int* target);
void vics200(int defset);
void setcset(int n);
// The sets as ESC 7 saves them.
struct CsSave {
    int g[4];
    int gl, gr;
    int invoked, vcharset;
    int simple[4];
};
void cssave(CsSave& s);
void csrestore(const CsSave& s);
// Every set back to ASCII in G0 (and special graphics in G1..G3 of the VT220 model).
void csreset();
// The device-control string; returns 1 when the byte after an ESC ended it and must start an
// escape sequence of its own.
int dcstring(int c);
void dcsreset();

// The VT52 escapes (vt52.cpp); vt52cursor takes the row and column bytes of ESC Y (interpreter
// states 10 and 11).
void vt52escape(int c);
void vt52cursor(int c);

// Locking shifts of the VT220 sets: GL = G0..G3, GR = G1..G3.
void vtlshift(int g);
void vtrshift(int g);

// The plain TTY emulation (also what an emulation whose interpreter is missing falls back on,
// after one line saying so: emunbuilt).
void ttytty(int c);
void emunbuilt(const char* what, int c);

// The XTERM emulation (xterm.cpp): UTF-8 decoding in front of emvt100's interpreter.
inline int xtpaste = 0;    // the host asked for bracketed paste (2004)
inline int xtmouse = 0;    // the host asked for mouse reports: 0, 1000 clicks, 1002 drags too
inline int xtsgrmouse = 0; // ... in the SGR form (1006)
inline int xtcursor = 0;   // cursor style asked for (DECSCUSR 0..6)
// One received byte: decoded, then interpreted.
void emxterm(int c);
// emvt100's interpreter for one byte or decoded control below U+00A0.
void emvt100b(int c);
// No UTF-8 sequence is half received.
bool xtidle();
// Columns a code point takes: 2 wide, 1, 0 a combining mark, -1 a control.
int xtwidth(int cp);
// The XTERM emulation's control sequences, tried before the VT100 ones: true when handled.
bool xtcontrol();
// Its private modes (CSI ? h / l), looked at before the VT100 ones.
void xtqcontrol();
// Power-on state of the XTERM additions (run at every selection).
void xtreset();

// Interpreters of the other families.
void emtv925(int c);
void empcterm(int c);
void em3101(int c);

// The reply writer; tests point it at a buffer. Unset, replies go to the line through scmd.
inline void (*replyhook)(const char* text, int len) = nullptr;

// Power-on state of the emulator (state machine, modes, saved cursor), for tests.
void emreset0();
