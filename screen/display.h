#pragma once
// The console driver: the lowest layer of the screen.
//
// tinit() learns the console's capabilities from its termcap description (screen/termcap.h)
// into the capability strings below; _vinit() derives the graphics table and the colour
// numbers from them and puts the console into raw mode. Every byte bound for the console goes
// through _ttyout() into the 512-byte buffer `obuf`; the buffer is written with one write when
// no received data is waiting (so a burst from the host becomes few writes), when it reaches
// `obufsiz` bytes, or - while a primitive sends several strings (the batch flag, bit 0 of
// `vemode`) - only when full. The primitives (_cpos, _vclear, _vclreol, ...) are the only
// operations that send control strings; each falls back to plainer means when the console
// lacks a capability. bttyout() is the one raw write to the console; tests point it at a
// buffer with setconswriter().
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

inline int Lines = 24; // console rows: the window's, else termcap's li
inline int Cols = 80;  // console columns: the window's, else termcap's co

// The console window's size as the terminal reports it (TIOCGWINSZ); false when it reports
// none (not a terminal, or a terminal that does not know its size).
bool conswinsize(int& rows, int& cols);
// SIGWINCH: the handler only sets the flag; terminal mode takes the new size (core/term.h).
inline volatile sig_atomic_t winchsig = 0;
void winchcatch(int sig);

// Capability strings; empty means absent. They live in a namespace because ncurses' own
// termcap globals (UP, BC, PC) share some of these names.
namespace cap {
inline std::string BC, CE, CD, CL, CM, UP, SE, DL, AL, xPC, KS, KE, VI, VS, VE, TI, TE, IS, US, UE,
    GS, GE, GH, GV, G1, G2, G3, G4, Ga, Setc, PO, PF, BE, BD, MR, MB, MD, ME, AS, AE, AC, Setf,
    Setb, Gm, EA, DS, FS, TS, RI, CS, SF, SR, SC, RC, OrigPair, tN, tW, SO;
}

// Flags and numbers.
inline int XS = 0; // standout not erased by overwriting (or magic cookies)
inline int XN = 0; // newline glitch
inline int AM = 0; // automatic margins
inline int PT = 0; // hardware tabs
inline int CT = 0;
inline int HS = 0;      // has a status line
inline int ES = 0;      // escapes allowed in the status line
inline int BCE = 0;     // clears use the background colour
inline int Ncolors = 0; // colours (0 = monochrome)
inline int NCV = 0;
inline int PA = 0; // colour pairs
inline int SG = 0; // magic-cookie width
inline char padchar = 0;

// Console output buffer.
constexpr int OBUFMAX = 512;
inline uint8_t obuf[OBUFMAX];
inline int optr = 0;      // fill level
inline int obufsiz = 512; // flush level while received data waits (at most 512)

// Graphics table: the console byte for each glyph slot; 0x100 = send between GS and GE.
constexpr int GRSETSIZ = 224;
extern uint16_t _grset[GRSETSIZ];
extern const uint16_t _xegrset[GRSETSIZ]; // the built-in look-alikes
extern const int _gremap[];               // groups of similar slots, -1 ends a group
inline int extcolor[16] = {0, 4, 2, 6, 1, 5, 3, 7, 0, 4, 2, 6, 1, 5, 3, 7};

// Start-up and exit.
int tinit(const char* name);
void _vinit();
void consexit();
int setcap(const char* name, const char* value);

// Output.
void _ttyout(int byte);
void _ttyouts(const void* bytes, size_t count); // count bytes as one batch
int _ttyputc(int byte);                         // _ttyout for tputs
void oflush();
int bttyout(const void* buf, size_t count);
void outcap(const std::string& s); // one capability string through tputs into obuf

// Tests capture console bytes here instead of the console (an empty function restores it).
void setconswriter(std::function<void(const char*, size_t)> w);

// Primitives.
void _cpos(int row, int col);
void _vclear();
void _vclreol(int row, int col);
void _vclres(int row, int col);
void _viline();
void _vdline();
void _vsline(int top, int bottom);
void _vset(int rendition);
void _vcolor(int color); // colour byte in bits 8-15, as kept in the screen cells
void outcolor(int fg, int bg);
std::string tcolor(const std::string& format, int fg, int bg);
void _gttyout(int entry);
void _vsetsize();
void _vsetfont();
void poscursor();
void setcursor(int shape);
// The host's cursor style (DECSCUSR: 0 the console's own, 1..6 block, underline, bar, blinking
// or steady), sent only to a console that takes it (Ss in its description, or of the xterm
// kind); 0 again at exit.
void setcursorstyle(int style);
void statline(int mode, int col);
void _getmattrs(int& rows, int& cols);
void setkbd(int type);

// What the console was last told (for the primitives' own repositioning).
inline int ccurline = 0, ccurcol = 0;
inline int lastrend = 0;   // rendition last sent with _vset
inline int lastcolor = -1; // colour byte last sent with _vcolor, -1 none since the last me
inline int lastfg = 0;     // colour slots (screen/vscreen.h's vcolslot) last sent with
inline int lastbg = 0;     // _vextcolor; 0 the default, -1 unknown

// The console takes UTF-8 (from the locale: LC_ALL, else LC_CTYPE, else LANG); code points
// beyond ASCII and the line-drawing glyphs are then sent as UTF-8, else as a byte standing for
// them. With `construecolor` 24-bit colours are sent as they are, else as the nearest palette
// colour the console has.
inline int consutf8 = 0;
inline int construecolor = 0;
bool localeutf8();
// One code point to the console: UTF-8 on a UTF-8 console, else the byte itself up to 0xff and
// "?" beyond.
void _ucsout(int cp);
// Unicode forms of the line-drawing glyphs 0..31 (DEC special graphics 0x5F..0x7E).
extern const uint16_t decglyphs[32];
// Unicode forms of the PC character set's glyphs: codes 0..31 at 0..31, codes 127..255 from 32.
extern const uint16_t pcglyphs[32 + 129];
// Foreground and background colours (-1 default, 0..255 palette, 0x1000000|rgb), with the slots
// they came from so that unchanged ones are not sent again.
void _vextcolor(int fg, int bg, int fgslot, int bgslot);

extern int vemode; // the emulation word (bits EM_*, screen/vscreen.h); bit 0 is the batch flag
void batchend();   // the outermost batch ended: flush unless received data waits

// Sets the batch flag while several strings are sent; restores it and, with the flag clear and
// nothing received waiting, shows the result.
struct OutBatch {
    int saved;
    OutBatch() : saved(vemode & 1) { vemode |= 1; }
    ~OutBatch() {
        vemode = (vemode & ~1) | saved;
        if (!saved) batchend();
    }
    OutBatch(const OutBatch&) = delete;
    OutBatch& operator=(const OutBatch&) = delete;
};
inline int kbdtype = 0;

// Power-on state of the driver (capabilities, buffer, tables), for tests.
void displayreset();
