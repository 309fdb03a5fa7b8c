#include "screen/scrollback.h"

#include "screen/display.h"
#include "screen/hooks.h"
#include "screen/vscreen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

int vscrollback = 0;
int sblinemax = 0;
int sbcurline = 0;
int vcurpage = 0;

namespace {

// The screen's cell type, whatever it holds; the three helpers below are all that look inside.
using cell = std::remove_pointer_t<decltype(vbegscr)>;
cell blankcell() {
    return static_cast<cell>(' ');
}
bool isblank(cell c) {
    return cellcp(c) == ' ';
}
// The character of a cell as text for searching; 0 for a cell that is no plain character.
char celltext(cell c) {
    const int cp = cellcp(c);
    if ((c & A_GLYPH) || cp > 0xff) return 0;
    return static_cast<char>(cp);
}

// ---- the ring ------------------------------------------------------------------------------
// sblinemax rows, each as wide as the screen was (at most MAXCOLS cells) less its trailing plain
// blanks, so a wide window keeps whole lines and a short line costs only its text.
std::vector<std::vector<cell>> sbbegscr;
std::vector<uint8_t> sbvlattr; // their line attributes
int sbfirstline = -1;          // slot of the newest stored row
int sblastline = 0;            // rows stored

std::vector<cell>& slot(int s) {
    return sbbegscr[static_cast<size_t>(s)];
}
// The stored row k rows back from the newest (k >= 1).
int slotback(int k) {
    int s = sbfirstline - (k - 1);
    while (s < 0)
        s += sblinemax;
    return s;
}

// ---- the view ------------------------------------------------------------------------------
std::vector<cell> viewblock;   // what the view shows, MAXROWS rows of vcolmax cells
int viewcols = 0;              // width of its rows
cell* sbsavescreen[MAXROWS];   // the live row pointers while the view is shown
uint8_t sbsavevlattr[MAXROWS]; // and their line attributes
int sbsavy = 0, sbsavx = 0, sbsavattr = 0, sbsavcolor = -1, sbsavwrap = 0;

bool rowblank(const cell* row, int n) {
    for (int c = 0; c < n; c++)
        if (!isblank(row[c])) return false;
    return true;
}

// Fills view row r with what offset `off` shows there.
void fillview(int r, int off) {
    cell* d = viewblock.data() + static_cast<size_t>(r) * viewcols;
    vscreen[r] = d;
    int k = off - r; // rows back from the newest stored row
    if (k >= 1) {
        const std::vector<cell>& s = slot(slotback(k));
        int n = std::min(static_cast<int>(s.size()), viewcols);
        std::copy(s.begin(), s.begin() + n, d);
        std::fill(d + n, d + viewcols, blankcell());
        vlattr[r] = sbvlattr[slotback(k)];
    } else {
        const cell* s = sbsavescreen[r - off];
        std::copy(s, s + viewcols, d);
        vlattr[r] = sbsavevlattr[r - off];
    }
}

bool enterview() {
    viewcols = std::max(vcolmax, 1);
    try {
        viewblock.assign(static_cast<size_t>(MAXROWS) * viewcols, blankcell());
    } catch (const std::bad_alloc&) {
        disphooks.nomemory(16);
        return false;
    }
    std::copy(std::begin(vscreen), std::end(vscreen), sbsavescreen);
    std::memcpy(sbsavevlattr, vlattr, sizeof vlattr);
    sbsavy = vdestline;
    sbsavx = vdestcol;
    sbsavattr = vcurattr;
    sbsavcolor = vcurcolor;
    sbsavwrap = XNwrap;
    vsetattr(0);
    for (int r = 0; r < MAXROWS; r++) { // rows below the emulated screen stay as they are
        cell* d = viewblock.data() + static_cast<size_t>(r) * viewcols;
        std::copy(sbsavescreen[r], sbsavescreen[r] + viewcols, d);
        vscreen[r] = d;
    }
    return true;
}

int viewrows() {
    return std::clamp(vlines, 1, MAXROWS);
}

// ---- pages ---------------------------------------------------------------------------------
struct Page {
    std::vector<cell> block; // empty for page 0, whose cells are the screen's own block
    cell* rows[MAXROWS] = {};
    cell* begscr = nullptr; // the screen's block when stored (page 0's rows live there)
    uint8_t lattr[MAXROWS] = {};
    int colmax = 0;
    int y = 0, x = 0, curattr = 0, curcolor = -1, attr = 0, begcol = 0, endcol = 79;
    bool made = false;
};
Page pages[MAXPAGES];

void storepage(Page& p) {
    std::copy(std::begin(vscreen), std::end(vscreen), p.rows);
    std::memcpy(p.lattr, vlattr, sizeof vlattr);
    p.colmax = vcolmax;
    p.begscr = vbegscr;
    p.y = vdestline;
    p.x = vdestcol;
    p.curattr = vcurattr;
    p.curcolor = vcurcolor;
    p.attr = vattr;
    p.begcol = vbegcol;
    p.endcol = vendcol;
}

void loadpage(const Page& p) {
    std::copy(std::begin(p.rows), std::end(p.rows), vscreen);
    std::memcpy(vlattr, p.lattr, sizeof vlattr);
    vdestline = std::clamp(p.y, 0, viewrows() - 1);
    vdestcol = std::clamp(p.x, 0, std::max(vcols - 1, 0));
    vbegcol = p.begcol;
    vendcol = p.endcol;
    XNwrap = 0;
    vsetattr(p.curattr);
    if (p.curcolor >= 0 || pcscreen) vcolor(p.curcolor);
}

// A record is usable while its rows are as wide as the screen's and all lie in its own block,
// or in the screen's block when that was not made anew (a resize) since the record was stored.
bool intact(const Page& p) {
    if (p.colmax < vcolmax) return false;
    const cell* lo = p.block.data();
    const cell* hi = lo + p.block.size();
    if (p.begscr != vbegscr) {
        if (p.block.empty()) return false;
    } else if (p.block.empty()) {
        lo = vbegscr;
        hi = vendscr;
    }
    for (const cell* r : p.rows) {
        bool own = r >= lo && r + vcolmax <= hi;
        bool screen = p.begscr == vbegscr && r >= vbegscr && r + vcolmax <= vendscr;
        if (!own && !screen) return false;
    }
    return true;
}

} // namespace

// ---- storing rows --------------------------------------------------------------------------

void sbaddline(int row) {
    if (!sblinemax || vcurpage != 0 || sbcurline != 0 || !vbegscr) return;
    if (row < 0 || row >= MAXROWS || !vscreen[row]) return;
    sbfirstline = sbfirstline + 1 >= sblinemax ? 0 : sbfirstline + 1;
    if (sblastline < sblinemax) sblastline++;
    const cell* from = vscreen[row];
    int n = std::clamp(vcolmax, 0, MAXCOLS);
    while (n > 0 && from[n - 1] == blankcell())
        n--;
    slot(sbfirstline).assign(from, from + n); // a slot keeps its room once the ring is full
    sbvlattr[sbfirstline] = vlattr[row];
}

void sbaddrows(int n) {
    if (!sblinemax || !vbegscr) return;
    n = std::clamp(n, 0, MAXROWS);
    int w = std::clamp(vcolmax, 0, MAXCOLS);
    while (n > 0 && rowblank(vscreen[n - 1], w))
        n--;
    for (int r = 0; r < n; r++)
        sbaddline(r);
}

int sbinit(int rows) {
    if (rows < 1) return 0;
    rows = std::min(rows, SBMAXROWS);
    if (sblinemax) {
        if (rows != sblinemax) disphooks.message("Scrollback buffer unchanged\r\n");
        return 0;
    }
    try {
        sbbegscr.assign(static_cast<size_t>(rows), {});
        sbvlattr.assign(static_cast<size_t>(rows), 0);
    } catch (const std::bad_alloc&) {
        sbbegscr.clear();
        sbvlattr.clear();
        return disphooks.nomemory(16);
    }
    sblinemax = rows;
    sbfirstline = -1;
    sblastline = 0;
    sbcurline = 0;
    return 0;
}

// ---- viewing -------------------------------------------------------------------------------

void sbdisplay(int offset) {
    if (!sblinemax || vcurpage != 0 || !vbegscr) return;
    if (offset <= 0) {
        if (sbcurline == 0) return;
        std::copy(std::begin(sbsavescreen), std::end(sbsavescreen), vscreen);
        std::memcpy(vlattr, sbsavevlattr, sizeof vlattr);
        sbcurline = 0;
        vdestline = sbsavy;
        vdestcol = sbsavx;
        vsetattr(sbsavattr);
        if (sbsavcolor >= 0 || pcscreen) vcolor(sbsavcolor);
        vredraw();
        XNwrap = sbsavwrap;
        viewblock.clear();
        viewblock.shrink_to_fit();
        return;
    }
    if (sbcurline == 0 && sblastline == 0) return;
    offset = std::min(offset, sblastline);
    if (offset == sbcurline) return;
    if (sbcurline == 0 && !enterview()) return;
    const int rows = viewrows();
    const int delta = offset - sbcurline;
    sbcurline = offset;
    OutBatch b;
    for (int r = 0; r < rows; r++)
        fillview(r, offset);
    if (delta == 1 || delta == -1) {
        // One row: the console scrolls by one and only the new row is drawn.
        if (delta == 1)
            _vsline(rows - 1, 0);
        else
            _vsline(0, rows - 1);
        ccurline = -1; // the console's cursor moved with the scroll
        _vreline(delta == 1 ? 0 : rows - 1, 0, vcols - 1);
        return;
    }
    vredraw();
}

void sbprev(int n) {
    if (vcurpage != 0) {
        _ttyout(7);
        return;
    }
    n = std::clamp(n, 0, SBMAXROWS);
    for (int i = 0; i < n && sbcurline < sblastline; i++)
        sbdisplay(sbcurline + 1);
}

void sbnext(int n) {
    if (vcurpage != 0) {
        _ttyout(7);
        return;
    }
    n = std::clamp(n, 0, SBMAXROWS);
    for (int i = 0; i < n && sbcurline > 0; i++)
        sbdisplay(sbcurline - 1);
}

bool sbsearch(const char* text) {
    if (!sblinemax || vcurpage != 0 || !text || !*text) return false;
    std::string row;
    for (int k = sbcurline + 1; k <= sblastline; k++) {
        row.clear();
        for (cell c : slot(slotback(k))) {
            char ch = celltext(c);
            row += ch ? ch : ' ';
        }
        if (row.find(text) != std::string::npos) {
            sbdisplay(k);
            return true;
        }
    }
    sbredraw();
    return false;
}

void sbredraw() {
    if (!sbcurline) return;
    for (int r = 0; r < viewrows(); r++)
        fillview(r, sbcurline);
    vredraw();
}

// ---- pages ---------------------------------------------------------------------------------

int createsess(int mode) {
    (void)mode;
    vcurpage = 0;
    return 0;
}

int crpages(int n) {
    n = std::clamp(n, 1, MAXPAGES);
    if (n == 1 || !vbegscr) return 0;
    const int width = std::max(vcolmax, 1);
    for (int i = 0; i < n; i++) {
        Page& p = pages[i];
        if (p.made) continue;
        if (i == 0) {
            storepage(p);
            p.made = true;
            continue;
        }
        try {
            p.block.assign(static_cast<size_t>(MAXROWS) * width, blankcell());
        } catch (const std::bad_alloc&) {
            return disphooks.nomemory(15);
        }
        for (int r = 0; r < MAXROWS; r++)
            p.rows[r] = p.block.data() + static_cast<size_t>(r) * width;
        p.colmax = width;
        p.begscr = vbegscr;
        p.y = p.x = 0;
        p.curattr = 0;
        p.curcolor = colormap[0];
        p.begcol = 0;
        p.endcol = Cols - 1;
        p.made = true;
    }
    if (vcurpage != 0) selpage(0);
    return 0;
}

void selpage(int n, int redraw) {
    if (n == vcurpage || n < 0 || n >= MAXPAGES) return;
    Page& from = pages[vcurpage];
    Page& to = pages[n];
    bool usable = to.made && intact(to);
    if (!from.made || !usable) {
        _ttyout(7);
        char msg[40];
        std::snprintf(msg, sizeof msg, "[Page #%d not defined]\r\n", n + 1);
        disphooks.message(msg);
        return;
    }
    sbdisplay(0);
    poscursor();
    storepage(from);
    loadpage(to);
    vcurpage = n;
    if (redraw) vredraw();
}

void selnext() {
    selpage(vcurpage + 1 < std::max(vpages, 1) ? vcurpage + 1 : 0);
}

void selprev() {
    selpage(vcurpage > 0 ? vcurpage - 1 : std::max(vpages, 1) - 1);
}

int setscrollback(int rows) {
    vscrollback = std::clamp(rows, 0, SBMAXROWS);
    return sbinit(vscrollback);
}

int setpages(int n) {
    if (n < 1 || n > MAXPAGES - 1) return 1;
    vpages = n;
    return crpages(n);
}

void sbreset() {
    sbbegscr.clear();
    sbbegscr.shrink_to_fit();
    sbvlattr.clear();
    viewblock.clear();
    sblinemax = vscrollback = 0;
    sbfirstline = -1;
    sblastline = sbcurline = 0;
    vcurpage = 0;
    for (Page& p : pages)
        p = Page{};
}
