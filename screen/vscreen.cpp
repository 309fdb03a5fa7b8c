#include "screen/vscreen.h"

#include "screen/display.h"
#include "screen/hooks.h"
#include "screen/scrollback.h"
#include "screen/textrun.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

vcell* vbegscr = nullptr;
vcell* vendscr = nullptr;
int vcolmax = 0;
vcell* vscreen[MAXROWS];
uint8_t vlattr[MAXROWS];

int vcurattr = 0;
int vattr = 0;
int vcurcolor = -1;
vcell vextattr = 0;
int vbce = 0;
int colormap[16];
// clang-format off
int bwmap[16] = {0x0700, 0x0F00, 0x0100, 0x0900, 0x8700, 0x8F00, 0x8100, 0x8900,
                 0x7000, 0x7800, 0x7100, 0x7900, 0xF000, 0xF800, 0xF100, 0xF900};
// clang-format on
int usermap[16];
const int ISOmap[8] = {0, 4, 2, 6, 1, 5, 3, 7};
int dimattr = 0;
int protrev = 0;
int pcscreen = 0;
int pcset = 0;
int vcharset = 0, GLset = 0, GRset = 0, DEFset = 0, DMNsetp = 0;
int vinsmode = 0;
int protect = 0;

int vdestline = 0, vdestcol = 0;
int vlines = 24, vcols = 80;
int vbegcol = 0, vendcol = 79;
int erasemode = 0;
int col132 = 0;
int vscregtop = 0, vscregbot = 23, vscregion = 0;
int vorigin = 0, vrelorg = 0;
int XNwrap = 0, AMon = 1;
int vnoscroll = 0;
int vsave = 1;
uint8_t tabs[MAXCOLS];
int vstatus = 0;
int vcurstat = 0;
int prauto = 0, prextent = 1, prformfd = 1;
int blmode = 1;
int vpages = 1;
int vfromhost = 0;
int vdefer = 0;

namespace {

std::vector<vcell> block; // the cells; vbegscr points into it
int physcols = 80;        // the console's own width before any 132-column switch
bool conskn = false;      // ccurline/ccurcol are where the console's cursor really is
bool widesent = false;    // the console was switched to 132 columns (tW) and not back
bool cpend = false;       // a cursor move not yet sent (while vdefer is set)
bool apend = false;       // the current rendition and colours not yet shown (while vdefer is set)

// Emulations whose scrolled-in rows are blank in rendition 0.
constexpr int kPlainBlank =
    EM_VT100 | EM_VT52 | EM_ANSI | EM_SCOANSI | EM_VT2207 | EM_VT2208 | EM_PCTERM | EM_WYSE60;

int wcols() {
    return std::clamp(std::min(vcols, vcolmax), 1, MAXCOLS);
}
int wlines() {
    return std::clamp(vlines, 1, MAXROWS);
}
int rowwidth(int r) {
    return vlattr[r] ? std::max(wcols() / 2, 1) : wcols();
}
int pcblank() {
    return colormap[0] >= 0 ? colormap[0] & 0xff00 : 0x0700;
}

// Blanks of an emulation that erases in the current background colour carry it.
vcell bgfill() {
    return vbce ? (vextattr & C_BG) : 0;
}

// The rendition of blank rows brought in by scrolling.
vcell blankattr() {
    if (vbce) return bgfill();
    if (vemode & kPlainBlank) return pcscreen ? pcblank() : 0;
    return static_cast<vcell>(vattr & 0xff00) | bgfill();
}
// Cleared cells: the current rendition, with the dim bits outside PC-screen mode.
vcell clearattr() {
    return static_cast<vcell>((vattr | (pcscreen ? 0 : dimattr)) & 0xff00) | bgfill();
}

void fillrow(vcell* row, vcell attr) {
    std::fill(row, row + vcolmax, static_cast<vcell>(' ' | (attr & (0xff00 | C_COLORS))));
}

// Colour slots of 24-bit colours, and clusters of combining characters: interned so a cell
// carries only a number. Both tables are bounded; when full, colours fall back to the nearest
// palette colour and marks are dropped.
constexpr int kMaxRgb = 0xffff - 257;
std::vector<int> rgbs;
std::unordered_map<int, int> rgbslot;
// A host sends the same few colours again and again: the last ones found, by a hash of the
// colour, in front of the table.
struct Recent {
    int rgb = -1, slot = 0;
};
Recent recent[256];
constexpr int kMaxClusters = 0x1fffff;
constexpr int kClusterCap = 65536;
std::vector<std::u32string> clusters;
std::unordered_map<std::u32string, int> clusterid;

int nearest256(int r, int g, int b) {
    auto lvl = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
    int ri = lvl(r), gi = lvl(g), bi = lvl(b);
    static const int steps[6] = {0, 95, 135, 175, 215, 255};
    int cube = 16 + 36 * ri + 6 * gi + bi;
    int avg = (r + g + b) / 3;
    int gi2 = avg > 238 ? 23 : (avg - 3) / 10;
    int gv = 8 + 10 * std::max(gi2, 0);
    auto d = [&](int x, int y, int z) {
        return (x - r) * (x - r) + (y - g) * (y - g) + (z - b) * (z - b);
    };
    return d(gv, gv, gv) < d(steps[ri], steps[gi], steps[bi]) ? 232 + std::max(gi2, 0) : cube;
}

void relink() {
    for (int r = 0; r < MAXROWS; r++)
        vscreen[r] = vbegscr + static_cast<size_t>(r) * vcolmax;
}

// The console's cursor to (row, console column): nothing when it is there, a carriage return
// or a line feed when that is all it takes, else the cursor string.
void conpos(int row, int ccol) {
    if (conskn && ccurline == row) {
        if (ccurcol == ccol) return;
        if (ccol == 0) {
            _ttyout('\r');
            ccurcol = 0;
            return;
        }
    } else if (conskn && ccurline >= 0 && row == ccurline + 1 && row < Lines &&
               (ccurcol == ccol || ccol == 0)) {
        // The console scrolls the whole screen, so above its last row a line feed moves.
        if (ccol != ccurcol) _ttyout('\r');
        _ttyout('\n');
        ccurline = row;
        ccurcol = ccol;
        return;
    }
    _cpos(row, ccol);
    conskn = true;
}

// Shows a cell's rendition (high-byte form) and colours unless the console shows them already.
void showattr(vcell cell) {
    int a = static_cast<int>(cell & 0xff00);
    if (!(cell & C_COLORS) && lastfg > 0 && lastbg > 0 && !pcscreen && colormap[a >> 12] < 0) {
        // Both colours back to the console's own: one "all off" says it shorter.
        _vset(a & 0xf000);
        return;
    }
    if (cell & C_COLORS || lastfg > 0 || lastbg > 0) {
        if (lastrend != (a & 0xf000) || lastcolor >= 0) _vset(a & 0xf000);
        _vextcolor(vslotcolor(cellfg(cell)), vslotcolor(cellbg(cell)), cellfg(cell), cellbg(cell));
        return;
    }
    if (pcscreen) {
        if (lastcolor == (a >> 8)) return;
        _vcolor(a);
        return;
    }
    int rend = a & 0xf000;
    int cm = colormap[rend >> 12];
    if (cm < 0) {
        if (lastrend == rend && lastcolor < 0) return;
        _vset(rend);
    } else {
        if (lastcolor == ((cm >> 8) & 0xff)) return;
        if (lastrend) _vset(0);
        _vcolor(cm & 0xff00);
    }
}

// A host often changes the rendition several times before it draws (one parameter of an SGR at
// a time, a reset before a colour): while a run is drawn, the change is only noted and shown
// here, before what the console does in the current rendition (clears, scrolls that bring in
// its colour) or at the end of the run. Characters show their own cells' renditions anyway.
void attrsync() {
    if (!apend) return;
    apend = false;
    OutBatch b;
    showattr(static_cast<vcell>(vattr) | vextattr);
}

// Moves the shown window so that virtual column `col` is in it: steps of 16 columns.
bool pan(int col) {
    if (vcols <= Cols) {
        bool moved = vbegcol != 0;
        vbegcol = 0;
        vendcol = Cols - 1;
        return moved;
    }
    if (col >= vbegcol && col <= vendcol) return false;
    int step = Cols >= 16 ? 16 : 1; // a window narrower than a step could miss the cursor
    int nb = col < vbegcol ? (col / step) * step : ((col - Cols + step) / step) * step;
    nb = std::clamp(nb, 0, ((vcols - Cols + step - 1) / step) * step);
    if (nb == vbegcol) return false;
    vbegcol = nb;
    vendcol = nb + Cols - 1;
    return true;
}

bool visible(int col) {
    return col >= vbegcol && col <= vendcol && col - vbegcol < Cols;
}

// Writing the console's last cell would scroll a console that wraps at once.
bool lastcell(int row, int ccol) {
    return row == Lines - 1 && ccol == Cols - 1 && AM && !XN;
}

// A cell of the modern emulation: its code point(s) in UTF-8 on a UTF-8 console, else a byte
// that stands for it.
void showcp(vcell cell) {
    if (cell & C_CLUSTER) {
        const std::u32string& cl = vclusterof(cellcp(cell));
        if (cl.empty()) {
            _ttyout(' ');
            return;
        }
        for (char32_t cp : cl)
            _ucsout(static_cast<int>(cp));
        return;
    }
    int cp = cellcp(cell);
    if (cell & A_GLYPH) {
        gttyout(cp & 31);
        return;
    }
    if (cp < 32 || cp == 127 || (cp >= 128 && cp < 160)) cp = ' ';
    _ucsout(cp);
}

void showbyte(vcell cell) {
    int code = cell & 0xff;
    if (cell & (C_COLORS | C_CLUSTER | 0x1fff0000)) { // beyond a byte, a cluster, a colour
        showcp(cell);
        return;
    }
    if (pcscreen) { // the high byte is a colour: PC codes go through the graphics table
        if (pcset && (code < 32 || code >= 127))
            gttyout(code);
        else if (code < 32 || code == 127)
            _ttyout(' ');
        else
            _ttyout(code);
    } else if (cell & A_GLYPH) {
        gttyout(code);
    } else if (code < 32 || code == 127 || (code >= 128 && code < 160)) {
        _ttyout(' '); // controls would act on the console instead of showing
    } else {
        _ucsout(code); // Latin-1 above 0x9f: UTF-8 on a UTF-8 console
    }
}

// Shows memory cell (row, col) at the console, positioning first when needed.
void showcell(int row, int col) {
    if (!visible(col)) return;
    int cc = col - vbegcol;
    if (lastcell(row, cc)) {
        // Writing there would scroll the console; a blank can still be had by clearing.
        if ((vscreen[row][col] & 0xff) == ' ' && !cap::CE.empty()) {
            attrsync();
            conpos(row, cc);
            _vclreol(row, cc);
        }
        return;
    }
    vcell cell = vscreen[row][col];
    if (cell & C_WIDER) {
        // The right half shows with its left: nothing when that was just drawn.
        if (col == 0 || (conskn && ccurline == row && ccurcol == cc + 1)) return;
        showcell(row, col - 1);
        return;
    }
    int w = (cell & C_WIDE) ? 2 : 1;
    if (w == 2 && (cc + 1 >= Cols || lastcell(row, cc + 1))) { // half of it would show
        cell = ' ' | (cell & C_COLORS);
        w = 1;
    }
    if (!conskn || ccurline != row || ccurcol != cc) conpos(row, cc);
    showattr(cell);
    showbyte(cell);
    if (cc + w < Cols)
        ccurcol = cc + w;
    else
        conskn = false;
}

// The console's last cell is never written on a console that wraps at once; when a scroll
// brings the memory of that cell up a row, it is drawn there.
void fixcorner(int bottom) {
    if (!(AM && !XN) || bottom != Lines - 1 || bottom < 1) return;
    int col = vbegcol + Cols - 1;
    if (col < vcolmax && (vscreen[bottom - 1][col] & ~vcell{0xff00}) != ' ')
        showcell(bottom - 1, col);
}

void move(int row, int col) {
    vdestline = row;
    vdestcol = col;
    cgoto();
}

int clamprow(int row) {
    return std::clamp(row, 0, wlines() - 1);
}

// The cell for `code` in the current rendition. In PC-screen mode the whole high byte is colour.
vcell makecell(int code) {
    if (pcscreen) return static_cast<vcell>((code & 0xff) | (vattr & 0xff00));
    return static_cast<vcell>((code & (0xff | A_GLYPH)) | (vattr & 0xff00 & ~A_GLYPH)) | vextattr;
}

// Clears cells c0..c1 of a row in memory; erase mode keeps protected cells and the renditions.
void clearcells(int row, int c0, int c1) {
    c0 = std::max(c0, 0);
    c1 = std::min(c1, vcolmax - 1);
    vcell* p = vscreen[row];
    vcell a = clearattr();
    // Half a double-width character is no character: its other half goes too.
    if (c0 > 0 && (p[c0] & C_WIDER)) c0--;
    if (c1 + 1 < vcolmax && (p[c1] & C_WIDE)) c1++;
    for (int c = c0; c <= c1; c++) {
        if (erasemode) {
            if (!(p[c] & A_PROTECT))
                p[c] = (p[c] & ((pcscreen ? 0xff00 : 0xff00 & ~A_GLYPH) | C_COLORS)) | ' ';
        } else {
            p[c] = ' ' | a;
        }
    }
}

struct Neutral {
    AttrSave s;
    Neutral() { attroff(s); }
    ~Neutral() { attron(s); }
    Neutral(const Neutral&) = delete;
    Neutral& operator=(const Neutral&) = delete;
};

// Cells c..c+n-1 of row r are about to be overwritten: a double-width character only partly
// among them loses its other half to a blank, which the console is shown.
void splitwide(int r, int c, int n) {
    vcell* p = vscreen[r];
    if (c > 0 && (p[c] & C_WIDER)) {
        p[c - 1] = ' ' | (p[c - 1] & (0xff00 | C_COLORS));
        showcell(r, c - 1);
    }
    int e = c + n - 1;
    if (e + 1 < vcolmax && (p[e] & C_WIDE)) {
        p[e + 1] = ' ' | (p[e + 1] & (0xff00 | C_COLORS));
        if (e + 1 < rowwidth(r)) showcell(r, e + 1);
    }
}

bool allocate(int width) {
    try {
        std::vector<vcell> nb(static_cast<size_t>(MAXROWS) * width, ' ');
        block.swap(nb);
    } catch (const std::bad_alloc&) {
        return false;
    }
    vbegscr = block.data();
    vendscr = vbegscr + block.size();
    vcolmax = width;
    relink();
    return true;
}

// A new block `width` wide holding the old cells; `rows` rows are kept, the rest blank.
bool resizeblock(int width, int rows) {
    std::vector<vcell> nb;
    try {
        nb.assign(static_cast<size_t>(MAXROWS) * width, ' ');
    } catch (const std::bad_alloc&) {
        return false;
    }
    int fill = ' ' | (pcscreen ? (vattr & 0xff00) : (vcurattr & 0xff00));
    int keep = std::min(vcolmax, width);
    for (int r = 0; r < MAXROWS; r++) {
        vcell* d = nb.data() + static_cast<size_t>(r) * width;
        if (r < rows && vbegscr) {
            std::copy(vscreen[r], vscreen[r] + keep, d);
            std::fill(d + keep, d + width, static_cast<vcell>(fill));
        } else {
            std::fill(d, d + width, static_cast<vcell>(fill));
            vlattr[r] = 0;
        }
    }
    block.swap(nb);
    vbegscr = block.data();
    vendscr = vbegscr + block.size();
    vcolmax = width;
    relink();
    return true;
}

} // namespace

// ---- allocation and size -------------------------------------------------------------------

void eminit(int cols) {
    cols = std::clamp(cols, 1, MAXCOLS);
    vlines = std::clamp(vlines, 1, MAXROWS);
    vcols = std::clamp(vcols, 1, MAXCOLS);
    int width = std::max(cols, vcols);
    if (!vbegscr || width > vcolmax) {
        if (!allocate(width)) {
            vemode = 0;
            disphooks.nomemory(3);
            return;
        }
    }
    int a = ' ' | (pcscreen ? pcblank() : 0);
    std::fill(block.begin(), block.end(), static_cast<vcell>(a));
    std::memset(vlattr, 0, sizeof vlattr);
    physcols = Cols;
    vcurattr = 0;
    vcurcolor = colormap[0];
    vattr = pcscreen ? pcblank() : 0;
    vbegcol = 0;
    vendcol = Cols - 1;
    vscregtop = 0;
    vscregbot = wlines() - 1;
    vdestline = wlines() - 1;
    vdestcol = 0;
    XNwrap = 0;
    conskn = false;
}

void vsetsize(int rows, int cols, int force) {
    rows = std::clamp(rows, vstatus ? 2 : 1, MAXROWS);
    cols = std::clamp(cols, 1, MAXCOLS);
    if (!force && rows == Lines && cols == Cols) return;
    if (vbegscr) {
        if (!resizeblock(cols, Lines)) {
            disphooks.nomemory(3);
            return;
        }
        _vsetsize();
    }
    Lines = rows;
    Cols = cols;
    physcols = cols;
    vlines = rows - (vstatus ? 1 : 0);
    vcols = cols;
    if (!vbegscr) return;
    vdestcol = std::min(vdestcol, Cols - 1);
    vdestline = std::min(vdestline, vstatus ? Lines - 2 : Lines - 1);
    vscregion = 0;
    vscregtop = 0;
    vscregbot = vlines - 1;
    vbegcol = 0;
    vendcol = Cols - 1;
    XNwrap = 0;
    conskn = false;
}

void vconsize(int rows, int cols) {
    rows = std::clamp(rows, vstatus ? 2 : 1, MAXROWS);
    cols = std::clamp(cols, 1, MAXCOLS);
    if (vbegscr && cols > vcolmax && !resizeblock(cols, MAXROWS)) {
        disphooks.nomemory(3);
        return;
    }
    Lines = rows;
    Cols = cols;
    physcols = cols;
    col132 = vcols >= 132 && Cols >= 132;
    int room = rows - (vstatus ? 1 : 0);
    if (vemode & (EM_TTY | EM_XTERM)) vlines = room;
    if (vemode & EM_XTERM) vcols = cols;
    vlines = std::clamp(vlines, 1, room);
    if (vbegscr && vdestline >= vlines) {
        // The rows above the cursor give way, as on a terminal whose window shrinks.
        int k = vdestline - vlines + 1;
        for (int r = 0; r < k; r++)
            sbaddline(r);
        std::rotate(vscreen, vscreen + k, vscreen + MAXROWS);
        std::rotate(vlattr, vlattr + k, vlattr + MAXROWS);
        for (int r = MAXROWS - k; r < MAXROWS; r++) {
            fillrow(vscreen[r], blankattr());
            vlattr[r] = 0;
        }
        vdestline -= k;
    }
    if (!vscregion || vscregbot >= vlines) {
        vscregion = 0;
        vscregtop = 0;
        vscregbot = vlines - 1;
    }
    vbegcol = 0;
    vendcol = Cols - 1;
    XNwrap = 0;
    conskn = false;
    if (vbegscr) vredraw();
}

int fvcols() {
    return vbegscr ? rowwidth(clamprow(vdestline)) : vcols;
}

// ---- cursor --------------------------------------------------------------------------------

void cpos(int row, int col) {
    if (!vbegscr) {
        vdestline = std::max(row, 0);
        vdestcol = std::max(col, 0);
        _cpos(vdestline, vdestcol);
        return;
    }
    row = std::clamp(row + vorigin, 0, wlines() - 1);
    if (vrelorg) row = std::min(row, std::max(vscregbot, 0));
    col = std::clamp(col, 0, wcols() - 1);
    int leftw = rowwidth(clamprow(vdestline));
    if (vlattr[row] && col >= leftw) col /= 2;
    col = std::min(col, rowwidth(row) - 1);
    move(row, col);
}

void cgoto() {
    XNwrap = 0;
    if (!vbegscr) {
        _cpos(vdestline, vdestcol);
        return;
    }
    vdestline = clamprow(vdestline);
    vdestcol = std::clamp(vdestcol, 0, wcols() - 1);
    if (pan(vdestcol)) {
        _vredraw(0, 0, wlines() - 1, wcols() - 1, 1);
        return; // the redraw ends by placing the cursor
    }
    cpend = false;
    if (conskn && ccurline == vdestline && ccurcol == vdestcol - vbegcol) return; // there already
    if (vdefer) {
        cpend = true;
        return;
    }
    conpos(vdestline, vdestcol - vbegcol);
}

void vsync() {
    attrsync();
    if (!cpend) return;
    cpend = false;
    if (!vbegscr || (conskn && ccurline == vdestline && ccurcol == vdestcol - vbegcol)) return;
    OutBatch b;
    conpos(clamprow(vdestline), std::clamp(vdestcol - vbegcol, 0, Cols - 1));
}

// ---- renditions and colours ----------------------------------------------------------------

void vsetattr(int attr) {
    int rend = attr & 0xff00;
    if (protrev && !pcscreen && (rend & A_BOLD)) rend = (rend & ~A_BOLD) | A_REVERSE;
    if (vemode & EM_IB3101) {
        rend &= ~A_UNDER;
        if (rend & A_REVERSE) rend = (rend & ~A_REVERSE) | A_BOLD;
    }
    int c = colormap[(rend >> 12) & 15];
    if (pcscreen) {
        if (c < 0) c = pcblank();
        vcurcolor = c & 0xff00;
        vattr = vcurcolor;
    } else {
        vattr = rend;
    }
    vcurattr = rend;
    if (vdefer) {
        apend = true;
        return;
    }
    apend = false;
    OutBatch b;
    showattr(static_cast<vcell>(vattr) | vextattr);
}

void vsetcolors(int fg, int bg) {
    vextattr =
        (static_cast<vcell>(fg & 0xffff) << FGSHIFT) | (static_cast<vcell>(bg & 0xffff) << BGSHIFT);
    if (vdefer) {
        apend = true;
        return;
    }
    apend = false;
    OutBatch b;
    showattr(static_cast<vcell>(vattr) | vextattr);
}

int vcolslot(int r, int g, int b) {
    int rgb = ((r & 0xff) << 16) | ((g & 0xff) << 8) | (b & 0xff);
    Recent& hit = recent[(rgb ^ (rgb >> 8) ^ (rgb >> 16)) & 0xff];
    if (hit.rgb == rgb) return hit.slot;
    auto it = rgbslot.find(rgb);
    if (it != rgbslot.end()) {
        hit = Recent{rgb, it->second};
        return it->second;
    }
    if (static_cast<int>(rgbs.size()) >= kMaxRgb)
        return 1 + nearest256(r & 0xff, g & 0xff, b & 0xff);
    rgbs.push_back(rgb);
    int slot = 256 + static_cast<int>(rgbs.size());
    rgbslot.emplace(rgb, slot);
    return slot;
}

int vslotcolor(int slot) {
    if (slot <= 0) return -1;
    if (slot <= 256) return slot - 1;
    size_t i = static_cast<size_t>(slot - 257);
    return i < rgbs.size() ? 0x1000000 | rgbs[i] : -1;
}

int vcluster(const std::u32string& cps) {
    auto it = clusterid.find(cps);
    if (it != clusterid.end()) return it->second;
    if (static_cast<int>(clusters.size()) >= std::min(kMaxClusters, kClusterCap)) return -1;
    clusters.push_back(cps);
    int n = static_cast<int>(clusters.size()) - 1;
    clusterid.emplace(cps, n);
    return n;
}

const std::u32string& vclusterof(int n) {
    static const std::u32string none;
    return n >= 0 && static_cast<size_t>(n) < clusters.size() ? clusters[static_cast<size_t>(n)]
                                                              : none;
}

void vcolor(int color) {
    attrsync();
    vcurcolor = color & 0xff00;
    if (pcscreen) vattr = vcurcolor;
    OutBatch b;
    if (pcscreen) {
        showattr(vattr);
    } else if (lastcolor != (vcurcolor >> 8)) {
        _vcolor(vcurcolor);
    }
}

void vsetpallete(int index, int color, int permanent) {
    if (Ncolors <= 0) return;
    int i = (index >> 12) & 15;
    colormap[i] = color == -1 ? bwmap[i] : (color & 0xff) << 8;
    if (permanent) {
        bwmap[i] = colormap[i];
        usermap[i] = colormap[i];
    }
    if (i == ((vcurattr >> 12) & 15)) {
        lastcolor = -2; // the same colour number may now mean another colour
        vsetattr(vcurattr);
    }
}

void attroff(AttrSave& save) {
    attrsync(); // what the console shows is what is saved
    save = AttrSave{
        vcurattr, vcurcolor, dimattr, protect,  vcharset,
        vinsmode, GRset,     GLset,   vextattr, vcurcolor >= 0 && lastcolor == (vcurcolor >> 8)};
    vextattr = 0;
    dimattr = protect = vcharset = vinsmode = 0;
    GLset = GRset = 0;
    vcurcolor = pcscreen ? pcblank() : -1;
    int defer = vdefer; // neutral at once: what follows is sent in it
    vdefer = 0;
    vsetattr(0);
    vdefer = defer;
}

void attron(const AttrSave& save) {
    dimattr = save.dim;
    protect = save.prot;
    vcharset = save.charset;
    vinsmode = save.insmode;
    GRset = save.grset;
    GLset = save.glset;
    vextattr = save.ext;
    vsetattr(save.attr);
    if (save.color != vcurcolor) {
        if (pcscreen || (save.color >= 0 && save.colorshown))
            vcolor(save.color);
        else
            vcurcolor = save.color;
    }
}

// ---- characters ----------------------------------------------------------------------------

void vputch(int code) {
    code &= 0xff | A_GLYPH;
    if (!vbegscr) {
        _ttyout(code & 0xff);
        return;
    }
    OutBatch b;
    if (XNwrap) dowrap(0);
    int r = clamprow(vdestline);
    int c = std::clamp(vdestcol, 0, rowwidth(r) - 1);
    bool skip = c - vbegcol == Cols - 1 && r == vlines - 1 && vlines >= Lines && AM && !XN &&
                ((vemode & (EM_VT100 | EM_VT52 | EM_VT2207 | EM_VT2208)) || vnoscroll ||
                 (!AMon && vcurstat == 2));
    if (!skip) {
        splitwide(r, c, 1);
        if (vinsmode) {
            vinsert(code, 0);
        } else {
            if (vsave) vscreen[r][c] = makecell(code);
            showcell(r, c);
        }
    }
    vdestcol = std::min(c + 1, rowwidth(r) - 1); // never outside the row, even for a moment
    if (c + 1 >= rowwidth(r)) {
        if ((vemode & (EM_ANSI | EM_SCOANSI)) && AMon) {
            dowrap(0);
        } else {
            vdestcol = rowwidth(r) - 1;
            cgoto();
            if (AMon) XNwrap = 1;
        }
    } else if (skip || vinsmode || !conskn || ccurline != r || ccurcol != vdestcol - vbegcol) {
        cgoto(); // the console's cursor did not follow by itself
    }
}

void vputcp(int cp, int width) {
    if (!vbegscr) return;
    OutBatch b;
    vcell v = cpcell(cp);
    if (width <= 0) {
        // A combining mark joins the character last written: the one left of the cursor, or
        // under it while a wrap is pending.
        int r = clamprow(vdestline);
        int c = XNwrap ? vdestcol : vdestcol - 1;
        if (c >= 0 && c < vcolmax && (vscreen[r][c] & C_WIDER)) c--;
        if (c < 0 || c >= vcolmax) return;
        vcell& cell = vscreen[r][c];
        std::u32string cl;
        if (cell & C_CLUSTER)
            cl = vclusterof(cellcp(cell));
        else
            cl = std::u32string(1, static_cast<char32_t>(cellcp(cell)));
        if (cl.empty() || cl.size() >= 8) return; // a pile of marks shows its first few
        cl += static_cast<char32_t>(cp & 0x1fffff);
        int id = vcluster(cl);
        if (id < 0) return;
        cell = (cell & ~(vcell{0xff} | vcell{0x1fff0000})) | C_CLUSTER | cpcell(id);
        int keep = vdestcol, wrap = XNwrap;
        showcell(r, c);
        vdestcol = keep;
        cgoto();
        XNwrap = wrap;
        return;
    }
    width = std::min(width, 2);
    if (XNwrap) dowrap(0);
    int r = clamprow(vdestline);
    int w = rowwidth(r);
    int c = std::clamp(vdestcol, 0, w - 1);
    if (width == 2 && c + 1 >= w) {
        if (w < 2) {
            width = 1;
            v = cpcell(' ');
        } else if (AMon) {
            // No room for both halves: the character goes to the next row.
            if (vsave) vscreen[r][c] = ' ' | clearattr();
            showcell(r, c);
            dowrap(0);
            r = clamprow(vdestline);
            c = 0;
        } else {
            c = w - 2;
        }
    }
    vcell cell = v | static_cast<vcell>(vattr & 0xff00 & ~A_GLYPH) | vextattr;
    if (width == 2) cell |= C_WIDE;
    vcell* p = vscreen[r];
    splitwide(r, c, width);
    if (vinsmode) {
        for (int k = w - 1; k >= c + width; k--)
            p[k] = p[k - width];
        if (p[w - 1] & C_WIDE) p[w - 1] = ' ' | (p[w - 1] & (0xff00 | C_COLORS));
    }
    if (vsave) {
        p[c] = cell;
        if (width == 2) p[c + 1] = C_WIDER | ' ' | (cell & (0xff00 | C_COLORS));
    }
    if (vinsmode)
        _vreline(r, c, w - 1);
    else
        showcell(r, c);
    int next = c + width;
    if (next >= w) {
        vdestcol = w - 1;
        cgoto();
        if (AMon) XNwrap = 1;
    } else {
        vdestcol = next;
        if (!conskn || ccurline != r || ccurcol != next - vbegcol) cgoto();
    }
}

namespace {
std::vector<vcell> altcells; // the rows the alternate screen covers, in screen order
uint8_t altlattr[MAXROWS];
int altwidth = 0, altrow = 0, altcol = 0, altattr = 0;
vcell altext = 0;
} // namespace

void valtscreen(int on, int cursor) {
    if (!vbegscr || on == valtshown) return;
    OutBatch b;
    if (on) {
        try {
            altcells.assign(static_cast<size_t>(MAXROWS) * vcolmax, ' ');
        } catch (const std::bad_alloc&) {
            disphooks.nomemory(3);
            return;
        }
        for (int r = 0; r < MAXROWS; r++)
            std::copy(vscreen[r], vscreen[r] + vcolmax,
                      altcells.begin() + static_cast<ptrdiff_t>(r) * vcolmax);
        std::memcpy(altlattr, vlattr, sizeof vlattr);
        altwidth = vcolmax;
        if (cursor) {
            altrow = vdestline;
            altcol = vdestcol;
            altattr = vcurattr;
            altext = vextattr;
        }
        valtshown = 1;
        std::fill(block.begin(), block.end(), ' ' | clearattr());
        std::memset(vlattr, 0, sizeof vlattr);
        _vredraw(0, 0, wlines() - 1, wcols() - 1, 1);
        return;
    }
    valtshown = 0;
    int keep = std::min(altwidth, vcolmax);
    for (int r = 0; r < MAXROWS && !altcells.empty(); r++) {
        auto from = altcells.begin() + static_cast<ptrdiff_t>(r) * altwidth;
        std::copy(from, from + keep, vscreen[r]);
        std::fill(vscreen[r] + keep, vscreen[r] + vcolmax, vcell{' '});
        vlattr[r] = altlattr[r];
    }
    altcells.clear();
    if (cursor) {
        vextattr = altext;
        vsetattr(altattr);
        vdestline = clamprow(altrow);
        vdestcol = std::clamp(altcol, 0, wcols() - 1);
    }
    vredraw();
}

int vputs(const unsigned char* p, int n) {
    if (n <= 0) return 0;
    // The cases vputch treats specially take the one-at-a-time path: a pending wrap, insert
    // mode, PC colours, double-width rows, a cursor outside the shown window.
    int r = vdestline;
    int c = vdestcol;
    if (!vbegscr || XNwrap || vinsmode || !vsave || pcscreen || r != clamprow(r) || vlattr[r] ||
        c < vbegcol || !visible(c)) {
        vputch(p[0]);
        return 1;
    }
    // Never the row's last column (it decides wrapping) nor the console's (writing it may
    // scroll the console): both are left to vputch.
    int cc = c - vbegcol;
    int k = std::min({n, wcols() - 1 - c, Cols - 1 - cc});
    if (k <= 0) {
        vputch(p[0]);
        return 1;
    }
    OutBatch b;
    if (!conskn || ccurline != r || ccurcol != cc) conpos(r, cc);
    vcell attr = static_cast<vcell>(vattr & 0xff00 & ~A_GLYPH) | vextattr;
    showattr(attr);
    apend = false; // attr is the current rendition
    vcell* cell = vscreen[r] + c;
    // A control would act on the console instead; half a wide character needs its other half
    // blanked: both go the one-at-a-time way.
    k = vprintrun(p, k);
    int i = 0;
    for (; i + 4 <= k; i += 4)
        if ((cell[i] | cell[i + 1] | cell[i + 2] | cell[i + 3]) & (C_WIDE | C_WIDER)) break;
    while (i < k && !(cell[i] & (C_WIDE | C_WIDER)))
        i++;
    k = i;
    for (i = 0; i < k; i++)
        cell[i] = p[i] | attr;
    if (k == 0) {
        vputch(p[0]);
        return 1;
    }
    _ttyouts(p, static_cast<size_t>(k));
    vdestcol = c + k;
    ccurcol = cc + k;
    return k;
}

int vpututf8(const unsigned char* p, int n, int (*widthof)(int)) {
    // As vputs: the special cases, and a console that does not take UTF-8, go one at a time.
    int r = vdestline;
    int c = vdestcol;
    if (n <= 0 || !vbegscr || !consutf8 || XNwrap || vinsmode || !vsave || pcscreen ||
        r != clamprow(r) || vlattr[r] || c < vbegcol || !visible(c))
        return 0;
    int cc = c - vbegcol;
    // Columns left before the row's last one and the console's (both left to the slow path).
    const int room = std::min(wcols() - 1 - c, Cols - 1 - cc);
    const vcell attr = static_cast<vcell>(vattr & 0xff00 & ~A_GLYPH) | vextattr;
    const vcell right = C_WIDER | ' ' | (attr & (0xff00 | C_COLORS));
    vcell* cell = vscreen[r] + c;
    int used = 0, i = 0;
    while (i < n) {
        int ch = p[i];
        if (ch >= 0x20 && ch < 0x7f) {
            // Half of a wide character under the new ones needs its other half blanked: that
            // and the columns that decide wrapping are left to the one-at-a-time path.
            int k = vprintrun(p + i, std::min(n - i, room - used));
            int j = 0;
            while (j < k && !(cell[used + j] & (C_WIDE | C_WIDER)))
                j++;
            if (j == 0) break;
            for (int t = 0; t < j; t++)
                cell[used + t] = static_cast<vcell>(p[i + t]) | attr;
            used += j;
            i += j;
            continue;
        }
        int len, cp, least;
        if (ch >= 0xc2 && ch <= 0xdf)
            len = 2, cp = ch & 0x1f, least = 0xa0; // U+0080..U+009F are C1 controls
        else if (ch >= 0xe0 && ch <= 0xef)
            len = 3, cp = ch & 0x0f, least = 0x800;
        else if (ch >= 0xf0 && ch <= 0xf4)
            len = 4, cp = ch & 0x07, least = 0x10000;
        else
            break;
        if (len > n - i) break; // cut by the end of the block: the decoder keeps it
        int j = 1;
        for (; j < len && (p[i + j] & 0xc0) == 0x80; j++)
            cp = (cp << 6) | (p[i + j] & 0x3f);
        if (j < len || cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) break;
        int w = widthof(cp);
        if (w != 1 && w != 2) break; // a combining mark joins the cell before
        if (used + w > room || (cell[used] & (C_WIDE | C_WIDER)) ||
            (w == 2 && (cell[used + 1] & (C_WIDE | C_WIDER))))
            break;
        if (w == 2) {
            cell[used] = cpcell(cp) | attr | C_WIDE;
            cell[used + 1] = right;
        } else {
            cell[used] = cpcell(cp) | attr;
        }
        used += w;
        i += len;
    }
    if (i == 0) return 0;
    OutBatch b;
    if (!conskn || ccurline != r || ccurcol != cc) conpos(r, cc);
    showattr(attr);
    apend = false; // attr is the current rendition
    _ttyouts(p, static_cast<size_t>(i));
    vdestcol = c + used;
    ccurcol = cc + used;
    return i;
}

void newline() {
    if (!vbegscr) {
        _ttyout('\n');
        return;
    }
    OutBatch b;
    if (prauto) prcurlin(vdestline);
    if (vscregion) {
        if (vdestline == vscregbot) {
            int col = vdestcol;
            vsline(vscregtop, vscregbot);
            move(vscregbot, col);
        } else {
            move(std::min(vdestline + 1, wlines() - 1), vdestcol);
        }
    } else {
        dowrap(1);
    }
}

void dowrap(int keepcol) {
    if (!vbegscr) return;
    OutBatch b;
    int col = keepcol ? vdestcol : 0;
    XNwrap = 0;
    if (vscregion && vdestline == vscregbot) {
        vsline(vscregtop, vscregbot);
        move(vscregbot, col);
    } else if (vdestline >= wlines() - 1) {
        if (vnoscroll || protect) {
            move(0, col);
        } else {
            sbaddline(0);
            vuscroll(0, 1);
            move(wlines() - 1, col);
        }
    } else {
        move(vdestline + 1, col);
    }
}

// ---- rows ----------------------------------------------------------------------------------

void vuscroll(int row, int show) {
    if (!vbegscr) return;
    if (show) attrsync();
    int last = wlines() - 1;
    row = std::clamp(row, 0, last);
    vcell* p = vscreen[row];
    for (int r = row; r < last; r++) {
        vscreen[r] = vscreen[r + 1];
        vlattr[r] = vlattr[r + 1];
    }
    vscreen[last] = p;
    vlattr[last] = 0;
    fillrow(p, blankattr());
    if (!show) return;
    bool full = row == 0 && vlines == Lines; // line feeds at the bottom scroll the console
    if (bgfill() && !(full && BCE)) {        // the console's scroll brings in its default colour
        {
            OutBatch b;
            Neutral n;
            _vsline(row, last);
            conskn = false;
        }
        _vreline(last, 0, wcols() - 1);
        return;
    }
    OutBatch b;
    if (full) {
        // Line feeds at the bottom scroll the whole console. A console that clears in the
        // current background (bce) brings in the blank row's colour by itself; otherwise the
        // rendition is plain while it scrolls.
        std::optional<Neutral> n;
        if (bgfill())
            showattr(' ' | blankattr());
        else
            n.emplace();
        int cc = conskn ? ccurcol : 0;
        if (!conskn || last - ccurline > 2) {
            conpos(last, cc);
            _ttyout('\n');
        } else {
            for (int r = ccurline; r <= last; r++)
                _ttyout('\n');
        }
        ccurline = last;
        ccurcol = cc;
        fixcorner(last);
        if (!n) showattr(static_cast<vcell>(vattr) | vextattr);
    } else {
        Neutral n;
        if (row > 0 && vlines == Lines && !cap::DL.empty()) {
            conpos(row, 0);
            _vdline();
            if (XS) {
                conpos(last, vdestcol - vbegcol);
                _vclreol(last, vdestcol - vbegcol);
            }
        } else {
            _vsline(row, last);
        }
        conskn = false;
        fixcorner(last);
    }
    cgoto();
}

void vdscroll(int row) {
    if (!vbegscr) return;
    int last = wlines() - 1;
    row = std::clamp(row, 0, last);
    vcell* p = vscreen[last];
    for (int r = last; r > row; r--) {
        vscreen[r] = vscreen[r - 1];
        vlattr[r] = vlattr[r - 1];
    }
    vscreen[row] = p;
    vlattr[row] = 0;
    fillrow(p, blankattr());
    OutBatch b;
    attrsync();
    {
        Neutral n;
        if (vlines == Lines && !cap::AL.empty()) {
            conpos(row, 0);
            _viline();
        } else {
            _vsline(last, row);
        }
        conskn = false;
    }
    if (bgfill()) _vreline(row, 0, wcols() - 1);
    cgoto();
}

void viline(int row) {
    if (!vbegscr) return;
    row = clamprow(row);
    vdscroll(row);
    move(row, 0);
}

void vdline(int row) {
    if (!vbegscr) return;
    row = clamprow(row);
    vuscroll(row, 1);
    move(row, 0);
}

void vsline(int from, int to) {
    if (!vbegscr) return;
    from = clamprow(from);
    to = clamprow(to);
    OutBatch b;
    // The cursor ends at the start of `from`; the console is told once, at the end, since the
    // scroll positions the console's cursor by itself.
    vdestline = from;
    vdestcol = 0;
    XNwrap = 0;
    if (from == to) {
        fillrow(vscreen[from], blankattr());
        vlattr[from] = 0;
        _vreline(from, 0, wcols() - 1);
        cgoto();
        return;
    }
    vcell* p = vscreen[from];
    if (from < to) {
        for (int r = from; r < to; r++) {
            vscreen[r] = vscreen[r + 1];
            vlattr[r] = vlattr[r + 1];
        }
    } else {
        for (int r = from; r > to; r--) {
            vscreen[r] = vscreen[r - 1];
            vlattr[r] = vlattr[r - 1];
        }
    }
    vscreen[to] = p;
    vlattr[to] = 0;
    fillrow(p, blankattr());
    {
        Neutral n;
        _vsline(from, to);
        conskn = false;
        if (from < to) fixcorner(to);
    }
    if (bgfill()) _vreline(to, 0, wcols() - 1);
    cgoto();
}

void vsetlattr(int row, int attr) {
    if (!vbegscr) return;
    row = clamprow(row);
    attr = std::clamp(attr, 0, 3);
    if (vlattr[row] == attr) return;
    vlattr[row] = static_cast<uint8_t>(attr);
    if (attr) {
        int half = std::max(wcols() / 2, 1);
        int a = ' ' | (pcscreen ? pcblank() : 0);
        std::fill(vscreen[row] + half, vscreen[row] + vcolmax, static_cast<vcell>(a));
        if (row == vdestline && vdestcol > half - 1) vdestcol = half - 1;
    }
    OutBatch b;
    _vsetfont();
    _vreline(row, 0, wcols() - 1);
}

void resvlattr(uint8_t* save) {
    std::memcpy(save, vlattr, sizeof vlattr);
    std::memset(vlattr, 0, sizeof vlattr);
    _vsetfont();
}

void setvlattr(const uint8_t* save) {
    for (int r = 0; r < MAXROWS; r++)
        vlattr[r] = static_cast<uint8_t>(std::min<int>(save[r], 3));
    _vsetfont();
}

// ---- cells ---------------------------------------------------------------------------------

void vinsert(int code, int count) {
    if (!vbegscr) return;
    int r = clamprow(vdestline);
    int w = rowwidth(r);
    int c = std::clamp(vdestcol, 0, w - 1);
    vcell* p = vscreen[r];
    int end = w; // cells c..end-1 shift right
    if (protect) {
        for (int k = c; k < w; k++) {
            if (p[k] & A_BOLD) {
                end = k;
                break;
            }
        }
        if (end == c) {
            _ttyout('\a');
            return;
        }
    }
    for (int k = end - 1; k > c; k--)
        p[k] = p[k - 1];
    p[c] = makecell(code);
    OutBatch b;
    _vreline(r, c, end - 1);
    if (count) {
        vdestcol = std::min(c + count, w - 1);
        cgoto();
    }
}

void vdelete(int count) {
    if (!vbegscr) return;
    int r = clamprow(vdestline);
    int w = rowwidth(r);
    int c = std::clamp(vdestcol, 0, w - 1);
    OutBatch b;
    if (count <= 0) {
        _vreline(r, 0, w - 1);
        return;
    }
    vcell* p = vscreen[r];
    int end = w;
    if (protect) {
        for (int k = c; k < w; k++) {
            if (p[k] & A_BOLD) {
                end = k;
                break;
            }
        }
        if (end == c) {
            _ttyout('\a');
            return;
        }
    }
    int n = std::min(count, end - c);
    for (int k = c; k + n < end; k++)
        p[k] = p[k + n];
    for (int k = end - n; k < end; k++)
        p[k] = makecell(' ');
    _vreline(r, c, end - 1);
}

void vclreol(int row, int col) {
    if (!vbegscr) return;
    row = clamprow(row);
    col = std::clamp(col, 0, wcols() - 1);
    OutBatch b;
    attrsync(); // the console clears in its current rendition
    if (vdestline != row || vdestcol != col) move(row, col);
    clearcells(row, col, vcolmax - 1);
    if (col == 0 && vlattr[row]) {
        vlattr[row] = 0;
        _vsetfont();
    }
    if (erasemode) {
        _vreline(row, col, wcols() - 1);
        return;
    }
    if (col > vendcol) return;
    int cc = std::max(col, vbegcol) - vbegcol;
    conpos(row, cc);
    _vclreol(row, cc);
    cgoto();
}

void vclrbol(int row, int col) {
    if (!vbegscr) return;
    row = clamprow(row);
    col = std::clamp(col, 0, wcols() - 1);
    OutBatch b;
    if (vdestline != row || vdestcol != col) move(row, col);
    clearcells(row, 0, col);
    _vreline(row, 0, col);
}

void vclreos(int row, int col) {
    if (!vbegscr) return;
    row = clamprow(row);
    col = std::clamp(col, 0, wcols() - 1);
    OutBatch b;
    attrsync();
    if (vdestline != row || vdestcol != col) move(row, col);
    clearcells(row, col, vcolmax - 1);
    if (col == 0 && !erasemode) vlattr[row] = 0;
    for (int r = row + 1; r < wlines(); r++) {
        clearcells(r, 0, vcolmax - 1);
        if (!erasemode) vlattr[r] = 0;
    }
    if (erasemode) {
        _vredraw(row, 0, wlines() - 1, wcols() - 1, 0);
        return;
    }
    if (col <= vendcol) {
        int cc = std::max(col, vbegcol) - vbegcol;
        conpos(row, cc);
        _vclreol(row, cc);
    }
    if (row + 1 < Lines) {
        conpos(row + 1, 0);
        _vclres(row + 1, 0);
    }
    cgoto();
}

void verasech(int row, int col, int count) {
    if (!vbegscr || count <= 0) return;
    row = clamprow(row);
    int w = rowwidth(row);
    col = std::clamp(col, 0, w - 1);
    int end = std::min(col + std::min(count, MAXCOLS), w) - 1;
    OutBatch b;
    if (vdestline != row || vdestcol != col) move(row, col);
    clearcells(row, col, end);
    _vreline(row, col, end);
}

void vclear() {
    if (!vbegscr) {
        _vclear();
        return;
    }
    OutBatch b;
    attrsync();
    if (erasemode) {
        for (int r = 0; r < wlines(); r++)
            clearcells(r, 0, vcolmax - 1);
        _vredraw(0, 0, wlines() - 1, wcols() - 1, 1);
        move(0, 0);
        return;
    }
    _vclear();
    conskn = true; // cl homes the cursor
    ccurline = ccurcol = 0;
    std::memset(vlattr, 0, sizeof vlattr);
    sbaddrows(wlines());
    for (vcell* row : vscreen) // the rows of the page shown, wherever its block is
        fillrow(row, clearattr());
    move(0, 0);
}

// ---- repainting ----------------------------------------------------------------------------

void _vredraw(int top, int left, int bottom, int right, int clear) {
    if (!vbegscr) return;
    OutBatch b;
    {
        Neutral n;
        if (clear) {
            // The console's rendition may be anything (a shell ran, a fresh terminal): plain.
            outcap(cap::ME);
            lastrend = 0;
            lastcolor = -1;
            lastfg = lastbg = 0;
            showattr(vattr);
            _vclear();
            conskn = true;
            ccurline = ccurcol = 0;
        }
        top = clamprow(top);
        bottom = clamprow(bottom);
        for (int r = top; r <= bottom; r++) {
            int w = rowwidth(r);
            int c0 = std::max(left, vbegcol);
            int c1 = std::min({right, w - 1, vendcol, vbegcol + Cols - 1});
            if (clear) // the console is blank: trailing plain blanks need nothing
                while (c1 >= c0 && vscreen[r][c1] == ' ')
                    c1--;
            for (int c = c0; c <= c1; c++)
                showcell(r, c);
            // A double-width row shows half the cells; the rest of the console row is blank.
            if (!clear && vlattr[r] && right >= w && w <= vendcol) {
                int cc = std::max(w, vbegcol) - vbegcol;
                if (cc < Cols) {
                    conpos(r, cc);
                    _vclreol(r, cc);
                }
            }
        }
    }
    cgoto();
}

void vredraw() {
    _vredraw(0, 0, wlines() - 1, wcols() - 1, 1);
}

void _vreline(int row, int from, int to) {
    _vredraw(row, from, row, to, 0);
}

void _vrechar(int row, int col) {
    _vredraw(row, col, row, col, 0);
}

void set132col(int on) {
    if (!on && vcols == 80 && Cols == 80) return;
    int w = on ? 132 : 80;
    int cw;
    if (on && physcols >= w) {
        cw = w; // the window is wide enough: switching the console's width would shrink it
    } else if (on && !cap::tW.empty()) {
        outcap(cap::tW);
        widesent = true;
        cw = 132;
    } else if (!on && !cap::tN.empty() && col132 && widesent) {
        outcap(cap::tN);
        widesent = false;
        cw = 80;
    } else {
        cw = std::min(physcols, w);
    }
    cw = std::min(cw, w);
    if (vbegscr && (w > vcolmax || cw > vcolmax)) {
        if (!resizeblock(std::max(w, cw), MAXROWS)) {
            disphooks.nomemory(3);
            return;
        }
    }
    vcols = w;
    Cols = cw;
    col132 = cw >= 132;
    vbegcol = 0;
    vendcol = Cols - 1;
    vdestcol = std::min(vdestcol, w - 1);
    _vsetsize();
    vclear();
}

void scrleft() {
    if (vbegcol == 0) return;
    vbegcol = 0;
    vendcol = Cols - 1;
    if (vdestcol > vendcol) vdestcol = vendcol;
    vredraw();
}

void testdisp(int code) {
    vclear();
    if (!vbegscr) return;
    int keepam = AMon;
    AMon = 0;
    for (int r = 0; r < wlines(); r++) {
        move(r, 0);
        for (int c = 0; c < rowwidth(r); c++)
            vputch(code);
    }
    AMon = keepam;
    move(0, 0);
}

// ---- printing and console extras ------------------------------------------------

namespace {
// Sends rows to the printer; false when the printer is not there.
bool printrows(int top, int bottom) {
    // A printer's complaint is shown on the screen; its line feeds must not print again.
    static bool busy = false;
    if (busy) return false;
    busy = true;
    bool ok = true;
    for (int r = top; r <= bottom && ok; r++) {
        int n = vlattr[r] ? std::min(40, rowwidth(r)) : wcols();
        ok = disphooks.printcells(vscreen[r], n) >= 0;
    }
    busy = false;
    return ok;
}
} // namespace

void prscreen() {
    if (!vbegscr) return;
    OutBatch b;
    bool ok;
    {
        Neutral n;
        conpos(0, 0);
        for (const char* s = "Printing..."; *s; s++)
            _ttyout(*s);
        conskn = false;
        int top = prextent ? 0 : clamprow(vscregtop);
        int bottom = prextent ? wlines() - 1 : clamprow(vscregbot);
        ok = printrows(top, bottom);
        if (ok && prformfd &&
            (vemode & (EM_VT100 | EM_VT52 | EM_ANSI | EM_VT2207 | EM_VT2208 | EM_SCOANSI)))
            disphooks.printbyte('\f');
    }
    if (ok)
        _vreline(0, 0, 10);
    else
        vredraw(); // the printer's complaint went over the screen
}

void prcurlin(int row) {
    if (!vbegscr) return;
    row = clamprow(row);
    // Without a printer, auto print stops instead of complaining at every line.
    if (!printrows(row, row)) prauto = 0;
}

void vblink(int on) {
    OutBatch b;
    if (on) {
        outcap(cap::BE);
        blmode = 1;
    } else {
        outcap(cap::BD);
        blmode = 2;
    }
}

void gline(int) {
    OutBatch b;
    for (int i = 0; i < 79; i++)
        _gttyout(_grset[18]);
    _ttyout('\r');
    _ttyout('\n');
    conskn = false;
}

void gttyout(int code) {
    code &= 0xff;
    if (!pcset && consutf8) {
        _ucsout(decglyphs[code & 31]);
    } else if (!pcset) {
        _gttyout(_grset[code & 31]);
    } else if (consutf8 && (code < 32 || code >= 127)) {
        _ucsout(pcglyphs[code < 32 ? code : 32 + code - 127]);
    } else if (code < 32) {
        _gttyout(_grset[63 + code]);
    } else if (code < 127) {
        _ttyout(code);
    } else {
        _gttyout(_grset[95 + code - 127]);
    }
}

void vscreenreset() {
    widesent = false;
    cpend = false;
    vdefer = 0;
    block.clear();
    block.shrink_to_fit();
    vbegscr = vendscr = nullptr;
    vcolmax = 0;
    std::fill(std::begin(vscreen), std::end(vscreen), nullptr);
    std::memset(vlattr, 0, sizeof vlattr);
    vcurattr = vattr = 0;
    vcurcolor = -1;
    vextattr = 0;
    vbce = 0;
    valtshown = 0;
    rgbs.clear();
    rgbslot.clear();
    std::fill(std::begin(recent), std::end(recent), Recent{});
    clusters.clear();
    clusterid.clear();
    std::fill(std::begin(colormap), std::end(colormap), -1);
    std::fill(std::begin(usermap), std::end(usermap), -1);
    const int bw[16] = {0x0700, 0x0F00, 0x0100, 0x0900, 0x8700, 0x8F00, 0x8100, 0x8900,
                        0x7000, 0x7800, 0x7100, 0x7900, 0xF000, 0xF800, 0xF100, 0xF900};
    std::copy(std::begin(bw), std::end(bw), bwmap);
    dimattr = protrev = pcscreen = pcset = 0;
    vcharset = GLset = GRset = DEFset = DMNsetp = 0;
    vinsmode = protect = 0;
    vdestline = vdestcol = 0;
    vlines = 24;
    vcols = 80;
    vscregtop = 0;
    vscregbot = 23;
    vscregion = vorigin = vrelorg = 0;
    XNwrap = 0;
    AMon = 1;
    vnoscroll = 0;
    vsave = 1;
    vbegcol = 0;
    vendcol = 79;
    erasemode = col132 = 0;
    for (int i = 0; i < MAXCOLS; i++)
        tabs[i] = i % 8 == 0;
    vstatus = vcurstat = 0;
    prauto = 0;
    prextent = prformfd = 1;
    blmode = 1;
    physcols = 80;
    conskn = false;
}

namespace {
// Power-on state at load time: colour tables unset, tab stops every eighth column.
struct Init {
    Init() {
        std::fill(std::begin(colormap), std::end(colormap), -1);
        std::fill(std::begin(usermap), std::end(usermap), -1);
        for (int i = 0; i < MAXCOLS; i++)
            tabs[i] = i % 8 == 0;
    }
} init;
} // namespace
