// Character sets of the DEC family and the VT220 device-control string.
//
// Two models. The VT220 emulations keep four designated sets G0..G3, a set for the left half
// (GL) and one for the right half (GR) of the byte range, and single shifts; every table entry
// is a code-page-437 byte, which the screen shows through the console's PC glyphs. The other
// emulations keep the simple VT100 model: each G-set is ASCII, United Kingdom or line drawing,
// SO/SI pick G0 or G1, and a line-drawing character is stored as a glyph index into the
// console's graphics table (filled from its acsc where it has one, plain look-alikes where not).
//
// The national replacement sets patch the one ASCII table in place, so every designation of a
// national set shows the variant chosen last, as on the terminal.
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/settings.h"
#include "screen/keyboard.h"

#include <algorithm>
#include <cstring>

int G0set = 0, G1set = SET_DSG, G2set = SET_DSG, G3set = SET_DSG;
int charset = 0;
int savcharset = 0;
int g0charset = 0, g1charset = 0, g2charset = 0, g3charset = 0;
int udkallow = 1;

namespace {

// clang-format off
// The twelve national positions, and each set's code-page-437 bytes for them.
constexpr char roffset[12] = {'#', '@', '[', '\\', ']', '^', '_', '`', '{', '|', '}', '~'};
constexpr uint8_t repsets[13][12] = {
    {0x23, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E}, // american
    {0x9C, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x60, 0x7B, 0x7C, 0x7D, 0x7E}, // british
    {0x9C, 0x25, 0x98, 0xAB, 0xB3, 0x5E, 0x5F, 0x60, 0x22, 0x9F, 0xAC, 0x27}, // dutch
    {0x23, 0x40, 0x8E, 0x99, 0x8F, 0x9A, 0x5F, 0x82, 0x84, 0x94, 0x86, 0x81}, // finnish
    {0x9C, 0x85, 0xF8, 0x87, 0x15, 0x5E, 0x5F, 0x60, 0x82, 0x97, 0x8A, 0x22}, // french
    {0x23, 0x85, 0x83, 0x87, 0x88, 0x8C, 0x5F, 0x93, 0x82, 0x97, 0x8A, 0x96}, // canadian
    {0x23, 0x15, 0x8E, 0x99, 0x9A, 0x5E, 0x5F, 0x60, 0x84, 0x94, 0x81, 0xE1}, // german
    {0x9C, 0x15, 0xF8, 0x87, 0x82, 0x5E, 0x5F, 0x97, 0x85, 0x95, 0x8A, 0x8D}, // italian
    {0x23, 0x40, 0x92, 0xED, 0x8F, 0x5E, 0x5F, 0x60, 0x91, 0xED, 0x86, 0x7E}, // norwegian/danish
    {0x23, 0x40, 0x41, 0x80, 0x4F, 0x5E, 0x5F, 0x60, 0x61, 0x87, 0x6F, 0x7E}, // portuguese
    // The DEC Spanish set: { is the degree sign, | n tilde, } c cedilla, ~ stays.
    {0x9C, 0x15, 0xAD, 0xA5, 0xA8, 0x5E, 0x5F, 0x60, 0xF8, 0xA4, 0x87, 0x7E}, // spanish
    {0x23, 0x90, 0x8E, 0x99, 0x8F, 0x9A, 0x5F, 0x82, 0x84, 0x94, 0x86, 0x81}, // swedish
    {0x97, 0x85, 0x82, 0x87, 0x88, 0x8C, 0x8A, 0x93, 0x84, 0x94, 0x81, 0x96}, // swiss
};

// DEC special graphics from 0x5F; below it the set is ASCII. The control-picture letters follow
// HT h, FF f, CR c, LF l, NL n, VT v.
constexpr uint8_t dsghigh[32] = {
    0x20, 0x04, 0xB1, 0x68, 0x66, 0x63, 0x6C, 0xF8, 0xF1, 0x6E, 0x76, 0xD9, 0xBF, 0xDA, 0xC0, 0xC5,
    0xC4, 0xC4, 0xC4, 0x5F, 0x5F, 0xC3, 0xB4, 0xC1, 0xC2, 0xB3, 0xF3, 0xF2, 0xE3, 0xF7, 0x9C, 0xFA,
};

// DEC supplemental (multinational), positions 0xA0..0xFF.
constexpr uint8_t DMNset[96] = {
    0x20, 0xAD, 0x9B, 0x9C, 0x20, 0x9D, 0x20, 0x15, 0x0F, 0x09, 0xA6, 0xAE, 0x20, 0x20, 0x20, 0x20,
    0xF8, 0xF1, 0xFD, 0x33, 0x20, 0x75, 0x14, 0xFA, 0x20, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x20, 0xA8,
    0x85, 0xA0, 0x83, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x8A, 0x90, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x20, 0xA5, 0x95, 0xA2, 0x93, 0x4F, 0x99, 0x4F, 0xED, 0x97, 0xA3, 0x96, 0x9A, 0x98, 0x20, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x20, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0x6F, 0xED, 0x97, 0xA3, 0x96, 0x81, 0x98, 0x20, 0x20,
};
// clang-format on

struct Tables {
    uint8_t usa[96]; // ASCII with the national positions of the variant chosen last
    uint8_t dsg[96];
    Tables() {
        for (int i = 0; i < 96; i++)
            usa[i] = dsg[i] = static_cast<uint8_t>(i + 32);
        std::copy(std::begin(dsghigh), std::end(dsghigh), dsg + 0x5F - 32);
    }
};
Tables tab;
int curnat = 0; // the national row applied to the ASCII table

void applynat(int set) {
    if (set < 0 || set > 12) set = 0;
    curnat = set;
    for (int i = 0; i < 12; i++)
        tab.usa[roffset[i] - 32] = repsets[set][i];
}

// A set number through its table: 13 supplemental, 14 special graphics, any other the ASCII
// table (with its national variant).
const uint8_t* table(int set) {
    if (set == SET_DMN) return DMNset;
    if (set == SET_DSG) return tab.dsg;
    return tab.usa;
}

int* gset(int g) {
    static int* const gs[4] = {&G0set, &G1set, &G2set, &G3set};
    return gs[g & 3];
}
int* gcharset(int g) {
    static int* const gs[4] = {&g0charset, &g1charset, &g2charset, &g3charset};
    return gs[g & 3];
}

bool vt220() {
    return (vemode & EM_VT220) != 0;
}

// The set a designation final names in the VT220 emulations, -1 for none. `pct` is set after
// a "%" intermediate.
int vt220set(int final, bool pct) {
    if (pct) {
        if (final == '5') return nrcsmode ? -1 : SET_DMN;
        if (final == '6') return nrcsmode ? 9 : -1;
        return -1;
    }
    switch (final) {
    case '0':
    case '2':
    case '>':
        return SET_DSG;
    case '1':
    case 'B':
        return nrcsmode ? defcset : 0;
    case '<':
        return SET_DMN;
    case 'A': // British, also outside NRCS mode: the set every VT100 host asks for as UK
        return 1;
    default:
        break;
    }
    if (!nrcsmode) return -1;
    // clang-format off
    static const struct { char f; int set; } nrcs[] = {
        {'4', 2}, {'5', 3}, {'C', 3}, {'6', 8}, {'E', 8}, {'`', 8}, {'7', 11}, {'H', 11},
        {'9', 5}, {'Q', 5}, {'=', 12}, {'K', 6}, {'R', 4}, {'Y', 7}, {'Z', 10},
    };
    // clang-format on
    for (const auto& n : nrcs)
        if (n.f == final) return n.set;
    return -1;
}

// A code-page-437 byte as a cell code: printable ASCII as it is, the rest through the PC
// glyphs of the console's graphics table.
int pccell(int b) {
    return (b >= 0x20 && b < 0x7f) ? b : (A_GLYPH | b);
}

} // namespace

void selectcs(int set, int* target) {
    if (set != SET_DMN && set != SET_DSG) applynat(set);
    *target = set;
}

void vics200(int defset) {
    selectcs(defset, &G0set);
    DEFset = G0set;
    G1set = G2set = G3set = SET_DSG;
    DMNsetp = SET_DMN;
    GLset = 1; // G0
    GRset = 0; // the supplemental set
    sshift = 0;
}

void setcset(int n) {
    charset = n ? 1 : 0;
    vcharset = *gcharset(charset);
}

int grplain() {
    if (sshift) return 0;
    if (vt220()) {
        int set = GLset ? *gset(GLset - 1) : DEFset;
        return set != SET_DMN && set != SET_DSG && curnat == 0;
    }
    return vcharset == 0;
}

int grconvert(int c, int show) {
    c &= 0xff;
    int code;
    if (vt220() && pcset) {
        if (c >= 0x80 && c < 0xa0 && !sshift) {
            code = c; // a C1 byte shown as text: no set covers it
        } else {
            int set;
            if (sshift) {
                set = *gset(sshift);
                sshift = 0;
            } else if (c < 0x80) {
                set = GLset ? *gset(GLset - 1) : DEFset;
            } else {
                set = GRset ? *gset(GRset - 1) : DMNsetp;
            }
            int idx = (c & 0x7f) - 32;
            code = idx < 0 ? c : table(set)[idx];
        }
        if (disptab) code = disptab[code];
        code = pccell(code);
    } else {
        int cs = vcharset & 7;
        if (cs == 2 && c >= 0x5f && c <= 0x7e) {
            code = A_GLYPH | (c - 0x5f);
        } else if (cs == 1 && c == '#') {
            code = A_GLYPH | 30; // the pound sign
        } else if (cs == 6 || cs == 7) {
            code = A_GLYPH | (cs == 7 ? c ^ 0x80 : c);
        } else {
            code = disptab ? disptab[c] : c;
        }
        if (vcharset & 8) vcharset = savcharset;
    }
    if (show) {
        if (code & A_GLYPH)
            gttyout(code & 0xff);
        else
            gttyout(code);
    }
    return code;
}

int vtpcontrol(int final) {
    const int g = state - 3;
    const int in = vtptr > 0 ? static_cast<unsigned char>(vtbuf[0]) : 0; // its intermediate
    if (g < 0 || g > 3) return 0;
    if (vt220()) {
        if (in != 0 && in != '%') return 0; // a set this terminal does not have
        int set = vt220set(final, in == '%');
        if (set >= 0) selectcs(set, gset(g));
        return 0;
    }
    if (in != 0) return 0;
    int cs;
    switch (final) {
    case '0':
    case '2':
        cs = 2;
        break;
    case '1':
    case '<':
    case 'B':
        cs = 0;
        break;
    case 'A':
        cs = 1;
        break;
    default:
        return 0;
    }
    *gcharset(g) = cs;
    if (g == charset) vcharset = cs;
    return 0;
}

void vtlshift(int g) {
    GLset = (g & 3) + 1;
}

void vtrshift(int g) {
    GRset = (g & 3) + 1;
}

namespace {
void singleshift(int g) {
    if (vt220() && pcset) {
        sshift = g;
        return;
    }
    if (!(vcharset & 8)) savcharset = vcharset;
    vcharset = *gcharset(g) | 8;
}
} // namespace

void vt_ss2() {
    singleshift(2);
}
void vt_ss3() {
    singleshift(3);
}

void cssave(CsSave& s) {
    s = CsSave{{G0set, G1set, G2set, G3set},
               GLset,
               GRset,
               charset,
               vcharset,
               {g0charset, g1charset, g2charset, g3charset}};
}

void csrestore(const CsSave& s) {
    G0set = s.g[0];
    G1set = s.g[1];
    G2set = s.g[2];
    G3set = s.g[3];
    GLset = s.gl;
    GRset = s.gr;
    charset = s.invoked;
    vcharset = s.vcharset & ~8;
    g0charset = s.simple[0];
    g1charset = s.simple[1];
    g2charset = s.simple[2];
    g3charset = s.simple[3];
    sshift = 0;
}

void csreset() {
    g0charset = g1charset = g2charset = g3charset = 0;
    charset = 0;
    vcharset = 0;
    savcharset = 0;
    sshift = 0;
    G0set = DEFset = 0;
    G1set = G2set = G3set = SET_DSG;
    DMNsetp = SET_DMN;
    GLset = 1;
    GRset = 0;
    applynat(0);
}

// ---- the device-control string: user-defined keys (DECUDK) ---------------------------------
//
// DCS Pc ; Pl | key/hex ; key/hex ... ST. Pc 0 (or missing) clears every programmed key first;
// Pl 0 (or missing) locks the keys against later strings. Each definition names a VT220 key
// code (F6..F20) and its text in hexadecimal pairs; at most PRGKEYMAX bytes are kept.
namespace {

enum : int {
    DCS_PARAM = 0, // collecting parameters up to the final
    DCS_UDK_KEY,   // a key code, up to "/"
    DCS_UDK_TEXT,  // hexadecimal digits, up to ";"
    DCS_IGNORE,    // a string this terminal does not act on
};

constexpr int vt220keys[15] = {17, 18, 19, 20, 21, 23, 24, 25, 26, 28, 29, 31, 32, 33, 34};

struct Dcs {
    int esc = 0; // the last byte was ESC
    int p[2] = {0, 0};
    int np = 0;    // parameter being collected
    int key = 0;   // key code being collected (saturates)
    int slot = -1; // slot of the key being defined, -1 none
    int nib = -1;  // pending high nibble
    char text[PRGKEYMAX + 1];
    int len = 0;
} dcs;

int hexval(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void udkstore() {
    if (dcs.nib >= 0 && dcs.len < PRGKEYMAX) dcs.text[dcs.len++] = static_cast<char>(dcs.nib);
    if (dcs.slot >= 0) setprgkey(dcs.slot, std::string_view(dcs.text, dcs.len));
    dcs.slot = -1;
    dcs.nib = -1;
    dcs.len = 0;
    dcs.key = 0;
}

void dcsend() {
    vtdcson = 0;
    vdcstate = DCS_PARAM;
    dcs = Dcs{};
}

// The final of the string's introduction: only "|" (user-defined keys) is acted on, and only
// for bytes from the host, while the keys are not locked and host programming is allowed.
void dcsfinal(int c) {
    if (c != '|' || !vfromhost || vtfkeyl || !udkallow) {
        vdcstate = DCS_IGNORE;
        return;
    }
    if (dcs.p[0] == 0)
        for (int i = 0; i < NPRGKEYS; i++)
            setprgkey(i, "");
    if (dcs.p[1] == 0) vtfkeyl = 1;
    vdcstate = DCS_UDK_KEY;
    dcs.key = 0;
    dcs.slot = -1;
}

} // namespace

int dcstring(int c) {
    c &= 0xff;
    if (dcs.esc) {
        // ST ends the string with the pending definition; any other byte ends it without, and
        // starts an escape sequence of its own.
        if (c == '\\' && vdcstate == DCS_UDK_TEXT) udkstore();
        dcsend();
        return c == '\\' ? 0 : 1;
    }
    if (c == 27) {
        dcs.esc = 1;
        return 0;
    }
    if (c == 0x9c && vt200mode == 2) {
        if (vdcstate == DCS_UDK_TEXT) udkstore();
        dcsend();
        return 0;
    }
    if (c == 24 || c == 26) { // CAN, SUB
        dcsend();
        return 0;
    }
    switch (vdcstate) {
    case DCS_PARAM:
        if (c >= '0' && c <= '9') {
            if (dcs.np < 2) dcs.p[dcs.np] = std::min(dcs.p[dcs.np] * 10 + (c - '0'), 9999);
        } else if (c == ';') {
            if (dcs.np < 2) dcs.np++;
        } else if (c >= 0x40 && c <= 0x7e) {
            dcsfinal(c);
        }
        break;
    case DCS_UDK_KEY:
        if (c >= '0' && c <= '9') {
            dcs.key = std::min(dcs.key * 10 + (c - '0'), 9999);
        } else if (c == '/') {
            dcs.slot = -1;
            for (int i = 0; i < 15; i++)
                if (vt220keys[i] == dcs.key) dcs.slot = 5 + i;
            dcs.len = 0;
            dcs.nib = -1;
            vdcstate = DCS_UDK_TEXT;
        } else if (c == ';') {
            dcs.key = 0;
        }
        break;
    case DCS_UDK_TEXT:
        if (c == ';') {
            udkstore();
            vdcstate = DCS_UDK_KEY;
        } else if (int v = hexval(c); v >= 0) {
            if (dcs.nib < 0) {
                dcs.nib = v;
            } else {
                if (dcs.len < PRGKEYMAX) dcs.text[dcs.len++] = static_cast<char>(dcs.nib << 4 | v);
                dcs.nib = -1;
            }
        }
        break;
    default:
        break;
    }
    return 0;
}

void dcsreset() {
    dcs = Dcs{};
}
