#pragma once
// The virtual screen: the memory of what the console shows in terminal mode.
//
// One block of cells (MAXROWS rows of the widest width asked for) holds the screen; `vscreen`
// points at each row, and scrolling, insert and delete of rows exchange these pointers only.
// A cell (`vcell`) keeps the sixteen-bit form the older emulations were written for in its
// low 16 bits (the character in the low byte, the rendition in the high byte or, in PC-screen
// mode, a PC colour byte) and, above it, what a modern host sends: the rest of a Unicode code
// point, wide-character halves and the foreground and background colours. Cells of the older
// emulations leave the upper bits 0, so for them a cell compares and masks as it always did. Every
// operation changes memory first and then tells the console through the display driver's primitives
// (screen/display.h), with the rendition neutralised around scrolls and clears, so that the console
// always shows what memory holds. When the emulated screen is wider than the console (132 columns
// on an 80-column console) the console shows the window vbegcol..vendcol, moved in steps of 16
// columns to keep the cursor in view. The emulators write characters through vputch().
#include <cstdint>
#include <string>

// Cell layout (64 bits):
//   0..7    character, or the low 8 bits of the code point
//   8..15   rendition (A_* below), or a PC colour byte in PC-screen mode
//   16..28  code point bits 8..20
//   29      left half of a double-width character
//   30      right half of a double-width character: nothing of its own to show
//   31      the code point field is a cluster number (a base with combining marks, vcluster)
//   32..47  foreground colour slot, 48..63 background colour slot (vcolslot: 0 the console's
//           default, 1..256 palette colour 0..255, above that a 24-bit colour)
using vcell = uint64_t;
constexpr vcell C_WIDE = vcell{1} << 29;
constexpr vcell C_WIDER = vcell{1} << 30;
constexpr vcell C_CLUSTER = vcell{1} << 31;
constexpr vcell C_COLORS = ~vcell{0} << 32;
constexpr vcell C_BG = ~vcell{0} << 48;
constexpr int FGSHIFT = 32;
constexpr int BGSHIFT = 48;

// The code point (or cluster number) of a cell, and a cell's code point field for one.
constexpr int cellcp(vcell c) {
    return static_cast<int>((c & 0xff) | ((c >> 8) & 0x1fff00));
}
constexpr vcell cpcell(int cp) {
    vcell u = static_cast<vcell>(cp) & 0x1fffff;
    return (u & 0xff) | ((u & 0x1fff00) << 8);
}
constexpr int cellfg(vcell c) {
    return static_cast<int>((c >> FGSHIFT) & 0xffff);
}
constexpr int cellbg(vcell c) {
    return static_cast<int>((c >> BGSHIFT) & 0xffff);
}
// Colour slots: 0 default, 1 + n for palette colour n, more for 24-bit colours (interned).
constexpr int COLDEFAULT = 0;
int vcolslot(int r, int g, int b);
// The colour of a slot: -1 default, 0..255 a palette colour, else 0x1000000 | rgb.
int vslotcolor(int slot);
// A cluster of a base character and combining marks, interned; its number, or -1 when the
// table is full. vclusterof gives the code points of a number (empty when unknown).
int vcluster(const std::u32string& cps);
const std::u32string& vclusterof(int n);

constexpr int MAXROWS = 66;
constexpr int MAXCOLS = 132;

// Cell rendition bits.
enum : int {
    A_PROTECT = 0x0100,  // erase-protected
    A_FIELD = 0x0200,    // embedded field attribute
    A_GLYPH = 0x0400,    // low byte is a line-drawing glyph index
    A_MODIFIED = 0x0800, // field modified
    A_BOLD = 0x1000,
    A_UNDER = 0x2000,
    A_BLINK = 0x4000,
    A_REVERSE = 0x8000,
};

// Emulation mode bits, the values kept in `vemode` (screen/display.h) and `emode`; the screen's
// rules name some of them. VT102 shares the VT100 bit.
enum : int {
    EM_MENU = 1, // alone: a procedure owns the screen (bit 0 is otherwise the batch flag)
    EM_WYSE60 = 2,
    EM_TTY = 4,
    EM_VT100 = 8,
    EM_VT52 = 16,
    EM_TV925 = 32,
    EM_TV912 = 64,
    EM_WYSE50 = 128,
    EM_ANSI = 256,
    EM_ADM1 = 512,
    EM_IB3101 = 1024,
    EM_TV950 = 2048,
    EM_VT2207 = 4096,
    EM_VT2208 = 8192,
    EM_PCTERM = 16384,
    EM_SCOANSI = 32768,
    EM_XTERM = 65536,
    EM_VT220 = EM_VT2207 | EM_VT2208,
    EM_DEC = EM_VT100 | EM_VT52 | EM_ANSI | EM_VT220 | EM_SCOANSI | EM_XTERM, // emvt100's
    EM_TVFAMILY = EM_TV950 | EM_TV925 | EM_TV912 | EM_WYSE50 | EM_WYSE60 | EM_ADM1,
};

// Screen memory.
extern vcell* vbegscr;          // first cell of the block
extern vcell* vendscr;          // one past the last cell
extern int vcolmax;             // row width of the block
extern vcell* vscreen[MAXROWS]; // row pointers
extern uint8_t vlattr[MAXROWS]; // 0 single, 1 double width, 2/3 double-height top/bottom

// Rendition and colour state.
extern int vcurattr;     // current rendition (high-byte form)
extern int vattr;        // ORed into stored characters
extern int vcurcolor;    // current colour (colour byte in bits 8-15), -1 none
extern vcell vextattr;   // current foreground and background slots (C_COLORS bits) of new cells
extern int vbce;         // cleared and scrolled-in cells take the current background
extern int colormap[16]; // rendition >> 12 to colour (<< 8), -1 = plain attributes
extern int bwmap[16];
extern int usermap[16];
extern const int ISOmap[8];
extern int dimattr;  // ORed into cleared cells
extern int protrev;  // show bold/dim as reverse
extern int pcscreen; // high bytes are PC colour bytes
extern int pcset;    // PC character set: glyphs by PC code
extern int vcharset, GLset, GRset, DEFset, DMNsetp;
extern int vinsmode; // insert mode
extern int protect;  // protected-field mode

// Cursor and geometry.
extern int vdestline, vdestcol;
extern int vlines, vcols;
extern int vscregtop, vscregbot, vscregion;
extern int vorigin, vrelorg;
extern int XNwrap, AMon;
extern int vnoscroll;
extern int vsave; // keep screen memory
extern int vbegcol, vendcol;
extern int erasemode;
extern int col132;
extern uint8_t tabs[MAXCOLS];
extern int vstatus;  // a status line is reserved
extern int vcurstat; // status line type (2: host-writable, shown)
extern int prauto, prextent, prformfd;
extern int blmode; // 1 blinking, 2 bright backgrounds

// Pages, and what is being drawn.
extern int vpages;    // screen pages to create
extern int vfromhost; // set while a received byte is drawn

// The state that status-line, message and menu output neutralises around itself.
struct AttrSave {
    int attr = 0;
    int color = -1;
    int dim = 0;
    int prot = 0;
    int charset = 0;
    int insmode = 0;
    int grset = 0;
    int glset = 0;
    vcell ext = 0;
    bool colorshown = false; // the console showed `color` (else it is only the emulator's)
};

// Allocation and size.
void eminit(int cols);
void vsetsize(int rows, int cols, int force);
// The console window changed size: `Lines` and `Cols` take the new size (clamped to the
// screen's limits), the emulated size stays as the emulation has it (TTY takes every row), a
// cursor row that no longer fits scrolls the rows above it into the scrollback, and the whole
// screen is drawn again on a cleared console.
void vconsize(int rows, int cols);
int fvcols();

// Cursor.
void cpos(int row, int col);
void cgoto();
// While `vdefer` is set (a run of received bytes drawn by the emulator), cgoto only notes where
// the cursor goes: the console is moved when something is drawn there or acts at its cursor,
// and by vsync, which ends the run. A host that moves the cursor several times between
// characters (a scroll region's home, a line end followed by an address) costs one move.
extern int vdefer;
void vsync();

// Renditions and colours.
void vsetattr(int attr);
inline void vset100(int attr) {
    vsetattr(attr);
}
void vcolor(int color);
// Makes fg and bg (vcolslot slots) the colours of new cells and shows them.
void vsetcolors(int fg, int bg);
void vsetpallete(int index, int color, int permanent);
void attroff(AttrSave& save);
void attron(const AttrSave& save);

// Characters: the emulators' output of one (already translated) code, with insert mode, the
// pending wrap and the bottom-right rule. A code with A_GLYPH is a line-drawing glyph index.
void vputch(int code);
// A Unicode code point (or, with C_CLUSTER, a cluster number) `width` columns wide (1 or 2)
// at the cursor, with the pending wrap; a width of 0 joins the mark to the previous cell.
void vputcp(int cp, int width);
// A run of printable ASCII (0x20..0x7e) as vputch would put it one by one; takes at least one
// byte when n > 0 and returns how many it took. Bytes outside that range must not be passed.
int vputs(const unsigned char* p, int n);
// A run of UTF-8 text from p as vputcp (and, below 0x80, vputch with plain character sets)
// would put it character by character; widthof gives the columns (1 or 2) of a code point from
// U+00A0 up. Returns how many bytes it took: it stops before anything else (controls, a
// combining mark, a malformed or cut sequence) and before what needs the one-at-a-time path (a
// pending wrap, the row's last column, insert mode, a console that does not take UTF-8, ...).
int vpututf8(const unsigned char* p, int n, int (*widthof)(int));
void newline();
void dowrap(int keepcol);

// Rows.
void vuscroll(int row, int show);
void vdscroll(int row);
void viline(int row);
void vdline(int row);
void vsline(int from, int to);
void vsetlattr(int row, int attr);
void resvlattr(uint8_t* save);
void setvlattr(const uint8_t* save);

// Cells.
void vinsert(int code, int count);
void vdelete(int count);
void vclreol(int row, int col);
void vclrbol(int row, int col);
void vclreos(int row, int col);
void verasech(int row, int col, int count);
void vclear();

// Repainting.
void _vredraw(int top, int left, int bottom, int right, int clear);
void vredraw();
void _vreline(int row, int from, int to);
void _vrechar(int row, int col);
void set132col(int on);
// The alternate screen: on saves the rows (and with `cursor` the cursor) and shows a cleared
// screen; off brings the saved rows back. Asking for the state already in force does nothing.
void valtscreen(int on, int cursor);
inline int valtshown = 0;
void scrleft();
void testdisp(int code);

// Printing and console extras (host-programmed keys are the keyboard's: screen/keyboard.h).
void prscreen();
void prcurlin(int row);
void vblink(int on);
void gline(int top);
void gttyout(int code);

// Power-on state (no screen allocated), for tests.
void vscreenreset();
