#include "screen/keyboard.h"

#include "core/fmt.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/trans.h"
#include "screen/keynames.h"
#include "screen/termcap.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

std::string keycapstr[NKEYCAPS];
std::string conskeys[NKEYS];
std::string prgkeys[NPRGKEYS];
std::string map_key[NKEYS];

namespace {
// The emulation whose keyboard is in use: the one drawing, or while a procedure owns the
// screen (mode word 1) the one selected.
int curemul() {
    int em = vemode & ~1;
    return em ? em : emode;
}

#define ESC "\033"
#define SOH "\001"

// clang-format off
// Keys sent to the host, per emulation family.
constexpr std::string_view vt10pf[4] = {ESC "OP", ESC "OQ", ESC "OR", ESC "OS"};
constexpr std::string_view anstdcur[4] = {ESC "[A", ESC "[B", ESC "[C", ESC "[D"};
constexpr std::string_view anappcur[4] = {ESC "OA", ESC "OB", ESC "OC", ESC "OD"};
// Keypad 0..9, minus, comma, period, enter.
constexpr std::string_view anstdkey[14] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                           "-", ",", ".", "\r"};
constexpr std::string_view anappkey[14] = {
    ESC "Op", ESC "Oq", ESC "Or", ESC "Os", ESC "Ot", ESC "Ou", ESC "Ov", ESC "Ow", ESC "Ox",
    ESC "Oy", ESC "Om", ESC "Ol", ESC "On", ESC "OM"};
// Find, Insert, Remove, Select, Prev, Next.
constexpr std::string_view vt22edit[6] = {ESC "[1~", ESC "[2~", ESC "[3~",
                                          ESC "[4~", ESC "[5~", ESC "[6~"};
// F6..F20.
constexpr std::string_view vt22pf[15] = {
    ESC "[17~", ESC "[18~", ESC "[19~", ESC "[20~", ESC "[21~", ESC "[23~", ESC "[24~",
    ESC "[25~", ESC "[26~", ESC "[28~", ESC "[29~", ESC "[31~", ESC "[32~", ESC "[33~",
    ESC "[34~"};
constexpr std::string_view vt52cur[4] = {ESC "A", ESC "B", ESC "C", ESC "D"};
constexpr std::string_view vt52pf[4] = {ESC "P", ESC "Q", ESC "R", ESC "S"};
constexpr std::string_view vt52key[14] = {
    ESC "?p", ESC "?q", ESC "?r", ESC "?s", ESC "?t", ESC "?u", ESC "?v", ESC "?w", ESC "?x",
    ESC "?y", ESC "?m", ESC "?l", ESC "?n", ESC "?M"};
// Home, page up, end, page down, keypad five, insert, delete, back tab.
constexpr std::string_view scoedit[8] = {ESC "[H", ESC "[I", ESC "[F", ESC "[G",
                                         ESC "[E", ESC "[L", "\177", ESC "[Z"};
// F1..F12, shift-F1..F12, control-F1..F12, control-shift-F1..F12.
constexpr std::string_view scopf[48] = {
    ESC "[M", ESC "[N", ESC "[O", ESC "[P", ESC "[Q", ESC "[R", ESC "[S", ESC "[T",
    ESC "[U", ESC "[V", ESC "[W", ESC "[X", ESC "[Y", ESC "[Z", ESC "[a", ESC "[b",
    ESC "[c", ESC "[d", ESC "[e", ESC "[f", ESC "[g", ESC "[h", ESC "[i", ESC "[j",
    ESC "[k", ESC "[l", ESC "[m", ESC "[n", ESC "[o", ESC "[p", ESC "[q", ESC "[r",
    ESC "[s", ESC "[t", ESC "[u", ESC "[v", ESC "[w", ESC "[x", ESC "[y", ESC "[z",
    ESC "[@", ESC "[[", ESC "[\\", ESC "[]", ESC "[^", ESC "[_", ESC "[`", ESC "[{"};
// Up, down, right, left, home.
constexpr std::string_view tv912cur[5] = {"\013", "\012", "\014", "\010", "\036"};
constexpr std::string_view tv925cur[5] = {"\013", "\026", "\014", "\010", "\036"};
constexpr std::string_view tv925pf[16] = {
    SOH "@\r", SOH "A\r", SOH "B\r", SOH "C\r", SOH "D\r", SOH "E\r", SOH "F\r", SOH "G\r",
    SOH "H\r", SOH "I\r", SOH "J\r", SOH "K\r", SOH "L\r", SOH "M\r", SOH "N\r", SOH "O\r"};
constexpr std::string_view wy50spf[16] = {
    SOH "`\r", SOH "a\r", SOH "b\r", SOH "c\r", SOH "d\r", SOH "e\r", SOH "f\r", SOH "g\r",
    SOH "h\r", SOH "i\r", SOH "j\r", SOH "k\r", SOH "l\r", SOH "m\r", SOH "n\r", SOH "o\r"};
constexpr std::string_view wy50edit[14] = {"",      ESC "{", ESC "K", ESC "J", ESC "I",
                                           ESC "q", "\177",  ESC "E", ESC "R", ESC "P",
                                           ESC "7", ESC "W", ESC "Q", ESC "r"};
// Which wy50edit entry each editing key sends (0 = none), in the Wyse keyboard's own terms:
// clear is shift-home, insert toggles insert mode, control-insert is replace, scroll up and
// down are insert and delete character, control-enter is SEND.
struct EditKey {
    int code;
    int entry;
};
constexpr EditKey wyedit[] = {
    {KC_PGDN, 2},  {KC_PGUP, 3},    {KC_CLEAR, 1},    {KC_END, 0},     {KC_INS, 5},
    {KC_DEL, 6},   {KC_INSLINE, 7}, {KC_DELLINE, 8},  {KC_PRINT, 9},   {KC_BACKTAB, 4},
    {KC_SCRUP, 12}, {KC_SCRDN, 11}, {KC_CENTER, 10},  {KC_CINS, 13},
};
// Single bytes for the keys 276..301 in Wyse keypad application mode (0 = none).
constexpr uint8_t wy60app[26] = {211, 210, 209, 208, 212,                          // cursor, home
                                 176, 177, 178, 179, 180, 181, 182, 183, 184, 185, // keypad 0..9
                                 205, 0, 206, 186,                    // minus, comma, period, enter
                                 179, 185, 0, 177, 0, 245, 221};      // pgdn .. delete
constexpr std::string_view ib31cur[5] = {ESC "A", ESC "B", ESC "C", ESC "D", ESC "H"};
constexpr std::string_view ib31pf[12] = {
    ESC "a\r", ESC "b\r", ESC "c\r", ESC "d\r", ESC "e\r", ESC "f\r",
    ESC "g\r", ESC "h\r", ESC "i\r", ESC "j\r", ESC "k\r", ESC "l\r"};

// The key after GOLD and the key it acts as. TTY, VT100 and VT52 use the first 20 pairs.
struct GoldPair {
    int typed;
    int acts;
};
constexpr GoldPair goldmap[] = {
    {'0', 281}, {'1', 282}, {'2', 283}, {'3', 284}, {'4', 285}, {'5', 286}, {'6', 287},
    {'7', 288}, {'8', 289}, {'9', 290}, {',', KC_KPCOMMA}, {'-', KC_KPMINUS},
    {'.', KC_KPPERIOD}, {'\r', KC_KPENTER}, {'*', KC_KPSTAR}, {'+', KC_KPPLUS},
    {256, 256}, {257, 257}, {258, 258}, {259, 259}, {260, 260}, {261, 261}, {262, 262},
    {263, 263}, {264, 264}, {265, 265}, {266, 266}, {267, 267},
};
constexpr int GOLDSHORT = 20;

// Composed characters: two keys in either order and the result.
struct Compose {
    char a, b;
    uint8_t result;
};
constexpr Compose KEYcomp[] = {
    {'"', ' ', 0x22}, {'+', '+', 0x23}, {'\'', ' ', 0x27}, {'a', 'a', 0x40}, {'A', 'A', 0x40},
    {'(', '(', 0x5b}, {'/', '/', 0x5c}, {'/', '<', 0x5c}, {')', ')', 0x5d}, {'^', ' ', 0x5e},
    {'`', ' ', 0x60}, {'(', '-', 0x7b}, {'/', '^', 0x7c}, {')', '-', 0x7d}, {'~', ' ', 0x7e},
    {'!', '!', 0xa1}, {'c', '/', 0xa2}, {'C', '/', 0xa2}, {'c', '|', 0xa2}, {'C', '|', 0xa2},
    {'l', '-', 0xa3}, {'L', '-', 0xa3}, {'l', '=', 0xa3}, {'L', '=', 0xa3},
    {'y', '-', 0xa5}, {'Y', '-', 0xa5}, {'y', '=', 0xa5}, {'Y', '=', 0xa5},
    {'s', 'o', 0xa7}, {'S', 'O', 0xa7}, {'S', '!', 0xa7}, {'s', '!', 0xa7}, {'s', '0', 0xa7},
    {'S', '0', 0xa7}, {'x', 'o', 0xa8}, {'X', 'O', 0xa8}, {'x', '0', 0xa8}, {'X', '0', 0xa8},
    {'c', 'o', 0xa9}, {'C', 'O', 0xa9}, {'c', '0', 0xa9}, {'C', '0', 0xa9},
    {'a', '_', 0xaa}, {'A', '_', 0xaa}, {'A', '-', 0xaa}, {'<', '<', 0xab},
    {'0', '^', 0xb0}, {'+', '-', 0xb1}, {'2', '^', 0xb2}, {'3', '^', 0xb3}, {'/', 'u', 0xb5},
    {'/', 'U', 0xb5}, {'p', '!', 0xb6}, {'P', '!', 0xb6}, {'.', '^', 0xb7}, {'1', '^', 0xb9},
    {'o', '_', 0xba}, {'O', '_', 0xba}, {'>', '>', 0xbb}, {'1', '4', 0xbc}, {'1', '2', 0xbd},
    {'?', '?', 0xbf},
    {'A', '`', 0xc0}, {'A', '\'', 0xc1}, {'A', '^', 0xc2}, {'A', '~', 0xc3}, {'A', '"', 0xc4},
    {'A', '*', 0xc5}, {'A', 'E', 0xc6}, {'C', ',', 0xc7}, {'E', '`', 0xc8}, {'E', '\'', 0xc9},
    {'E', '^', 0xca}, {'E', '"', 0xcb}, {'I', '`', 0xcc}, {'I', '\'', 0xcd}, {'I', '^', 0xce},
    {'I', '"', 0xcf}, {'N', '~', 0xd1}, {'O', '`', 0xd2}, {'O', '\'', 0xd3}, {'O', '^', 0xd4},
    {'O', '~', 0xd5}, {'O', '"', 0xd6}, {'O', 'E', 0xd7}, {'O', '/', 0xd8}, {'U', '`', 0xd9},
    {'U', '\'', 0xda}, {'U', '^', 0xdb}, {'U', '"', 0xdc}, {'Y', '"', 0xdd}, {'s', 's', 0xdf},
    {'a', '`', 0xe0}, {'a', '\'', 0xe1}, {'a', '^', 0xe2}, {'a', '~', 0xe3}, {'a', '"', 0xe4},
    {'a', '*', 0xe5}, {'a', 'e', 0xe6}, {'c', ',', 0xe7}, {'e', '`', 0xe8}, {'e', '\'', 0xe9},
    {'e', '^', 0xea}, {'e', '"', 0xeb}, {'i', '`', 0xec}, {'i', '\'', 0xed}, {'i', '^', 0xee},
    {'i', '"', 0xef}, {'n', '~', 0xf1}, {'o', '`', 0xf2}, {'o', '\'', 0xf3}, {'o', '^', 0xf4},
    {'o', '~', 0xf5}, {'o', '"', 0xf6}, {'o', 'e', 0xf7}, {'o', '/', 0xf8}, {'u', '`', 0xf9},
    {'u', '\'', 0xfa}, {'u', '^', 0xfb}, {'u', '"', 0xfc}, {'y', '"', 0xfd},
};
static_assert(std::size(KEYcomp) == 121);
// clang-format on

int compkey = -1; // first key of a compose sequence, -1 = none

bool inrange(int code, int lo, int n) {
    return code >= lo && code < lo + n;
}

int sendbyte(int byte) {
    COM->out(byte);
    if (dupmode == 2) ttyout(byte);
    return 1;
}

// Cursor and keypad keys of the ANSI family (VT100, VT220, ANSI, SCO-ANSI).
int ansicurpad(int code, int (*send)(std::string_view)) {
    if (inrange(code, KC_UP, 4)) return send((appcur ? anappcur : anstdcur)[code - KC_UP]);
    if (inrange(code, KC_KP0, 14)) return send((appkey ? anappkey : anstdkey)[code - KC_KP0]);
    return 0;
}

int vt220key(int code) {
    if (inrange(code, KC_F1, 4)) return svtkey(vt10pf[code - KC_F1]);
    // F6..F20, and control-F1..F10 as F11..F20: a key the host programmed, else the standard.
    int fi = -1;
    if (inrange(code, KC_F1 + 5, 15)) fi = code - KC_F1 - 5;
    if (inrange(code, KC_CF1, 10)) fi = code - KC_CF1 + 5;
    if (fi >= 0) {
        if (!prgkeys[fi + 5].empty()) return skey(prgkeys[fi + 5]);
        return svtkey(vt22pf[fi]);
    }
    switch (code) {
    case KC_HOME:
        return svtkey(vt22edit[0]);
    case KC_INS:
        return svtkey(vt22edit[1]);
    case KC_DEL:
        return svtkey(vt22edit[2]);
    case KC_END:
        return svtkey(vt22edit[3]);
    case KC_PGUP:
        return svtkey(vt22edit[4]);
    case KC_PGDN:
        return svtkey(vt22edit[5]);
    }
    return ansicurpad(code, svtkey);
}

int vt100key(int code) {
    if (inrange(code, KC_F1, 4)) return skey(vt10pf[code - KC_F1]);
    return ansicurpad(code, skey);
}

int vt52send(int code) {
    if (inrange(code, KC_F1, 4)) return skey(vt52pf[code - KC_F1]);
    if (inrange(code, KC_UP, 4)) return skey(vt52cur[code - KC_UP]);
    if (inrange(code, KC_KP0, 14)) return skey((appkey ? vt52key : anstdkey)[code - KC_KP0]);
    return 0;
}

int scokey(int code) {
    // F13..F20 are the shifted F1..F8 on this keyboard.
    int slot = -1;
    if (inrange(code, KC_F1, 20)) slot = code - KC_F1;
    if (inrange(code, KC_SF1, 12)) slot = code - KC_SF1 + 12;
    if (inrange(code, KC_CF1, 12)) slot = code - KC_CF1 + 24;
    if (inrange(code, KC_CSF1, 12)) slot = code - KC_CSF1 + 36;
    if (slot >= 0) return skey(prgkeys[slot].empty() ? scopf[slot] : prgkeys[slot]);
    switch (code) {
    case KC_HOME:
        return skey(scoedit[0]);
    case KC_PGUP:
        return skey(scoedit[1]);
    case KC_END:
        return skey(scoedit[2]);
    case KC_PGDN:
        return skey(scoedit[3]);
    case KC_FIVE:
        return skey(scoedit[4]);
    case KC_INS:
        return skey(scoedit[5]);
    case KC_DEL:
        return skey(scoedit[6]);
    case KC_BACKTAB:
        return skey(scoedit[7]);
    }
    return ansicurpad(code, skey);
}

// XTERM: function keys as xterm sends them; with a modifier the parameter 1 + (shift 1, alt 2,
// control 4) goes in, as in ESC [ 1 ; 5 P for control-F1 and ESC [ 3 ; 5 ~ for control-Delete.
int xtermkey(int code) {
    struct XtKey {
        int code;
        int num;    // the number before "~", or 1 with a letter final
        char final; // '~', or the letter
        int mods;   // modifier parameter, 1 for none
    };
    // clang-format off
    static constexpr int fnum[12] = {1, 1, 1, 1, 15, 17, 18, 19, 20, 21, 23, 24};
    static constexpr char ffin[12] = {'P', 'Q', 'R', 'S', '~', '~', '~', '~', '~', '~', '~', '~'};
    static constexpr XtKey edit[] = {
        {KC_HOME, 1, 'H', 1}, {KC_END, 1, 'F', 1},  {KC_INS, 2, '~', 1},  {KC_DEL, 3, '~', 1},
        {KC_PGUP, 5, '~', 1}, {KC_PGDN, 6, '~', 1}, {KC_CUP, 1, 'A', 5},  {KC_CDOWN, 1, 'B', 5},
        {KC_CINS, 2, '~', 5}, {KC_CDEL, 3, '~', 5}, {KC_CEND, 1, 'F', 5}, {KC_BACKTAB, 1, 'Z', 1},
    };
    // clang-format on
    int fi = -1, mods = 1;
    if (inrange(code, KC_F1, 12)) fi = code - KC_F1;
    if (inrange(code, KC_SF1, 12)) fi = code - KC_SF1, mods = 2;
    if (inrange(code, KC_AF1, 12)) fi = code - KC_AF1, mods = 3;
    if (inrange(code, KC_CF1, 12)) fi = code - KC_CF1, mods = 5;
    if (inrange(code, KC_CSF1, 12)) fi = code - KC_CSF1, mods = 6;
    XtKey k{0, 0, 0, 0};
    if (fi >= 0) {
        k = XtKey{code, fnum[fi], ffin[fi], mods};
    } else {
        for (const XtKey& e : edit)
            if (e.code == code) k = e;
    }
    if (!k.code) return ansicurpad(code, skey);
    char buf[24];
    int n;
    if (k.final == 'Z')
        n = std::snprintf(buf, sizeof buf, ESC "[Z");
    else if (k.mods > 1)
        n = std::snprintf(buf, sizeof buf, ESC "[%d;%d%c", k.num, k.mods, k.final);
    else if (k.final == '~')
        n = std::snprintf(buf, sizeof buf, ESC "[%d~", k.num);
    else if (k.final >= 'P' && k.final <= 'S')
        n = std::snprintf(buf, sizeof buf, ESC "O%c", k.final);
    else
        n = std::snprintf(buf, sizeof buf, ESC "%c%c", appcur ? 'O' : '[', k.final);
    return skey(std::string_view(buf, static_cast<size_t>(n)));
}

int ibmkey(int code) {
    if (inrange(code, KC_F1, 12)) return skey(ib31pf[code - KC_F1]);
    if (inrange(code, KC_UP, 5)) return skey(ib31cur[code - KC_UP]);
    return 0;
}

int televideokey(int code, int em) {
    bool wyseapp = appkey && (em & (EM_WYSE50 | EM_WYSE60));
    int fi = -1;
    bool shifted = false;
    if (inrange(code, KC_F1, 16)) fi = code - KC_F1;
    if (inrange(code, KC_SF1, 16)) fi = code - KC_SF1, shifted = true;
    if (inrange(code, KC_CF1, 6)) fi = code - KC_CF1 + 10;
    if (inrange(code, KC_CSF1, 6)) fi = code - KC_CSF1 + 10, shifted = true;
    if (fi >= 0) {
        int slot = shifted ? fi + 20 : fi;
        if (!prgkeys[slot].empty()) return skey(prgkeys[slot]);
        if (wyseapp) return sendbyte((shifted ? 144 : 128) + fi);
        return skey(shifted ? wy50spf[fi] : tv925pf[fi]);
    }
    if (wyseapp && inrange(code, KC_UP, 26) && wy60app[code - KC_UP])
        return sendbyte(wy60app[code - KC_UP]);
    if (inrange(code, KC_UP, 5))
        return skey(((em & (EM_TV925 | EM_TV950)) ? tv925cur : tv912cur)[code - KC_UP]);
    if (code == KC_END && (em & EM_WYSE60)) return skey(ESC "T");
    for (const EditKey& e : wyedit)
        if (e.code == code) return skey(wy50edit[e.entry]);
    return 0;
}

// TTY and no emulation: the host sees what the console sent.
int ttykey(int code) {
    if (code <= KC_CSF1 + 19 && !conskeys[code].empty()) return skey(conskeys[code]);
    return 0;
}

// Leading delay digits and "." / "*" of a termcap string.
const char* skipdelay(const char* s) {
    while (*s && (std::isdigit(static_cast<unsigned char>(*s)) || *s == '.' || *s == '*'))
        s++;
    return s;
}

int capindex(const char* name) {
    for (int i = 0; i < NKEYCAPS; i++)
        if (std::strcmp(keycaps[i].name, name) == 0) return i;
    return -1;
}

const std::string& capstr(const char* name) {
    static const std::string none;
    int i = capindex(name);
    return i < 0 ? none : keycapstr[i];
}

int enterkey(const std::string& s, int code) {
    if (s.empty()) return 0;
    if (conskeys[code].empty()) conskeys[code] = s;
    if (!traddstr(itrans, s, {static_cast<uint16_t>(code)})) {
        eprintf("No memory for termcap/terminfo key definition\r\n");
        return 0;
    }
    return 1;
}
} // namespace

// clang-format off
// Sized by its initialisers, so the count must agree with NKEYCAPS.
const KeyCap keycaps[] = {
    {"k0", 0}, {"k1", 0}, {"k2", 0}, {"k3", 0}, {"k4", 0}, {"k5", 0}, {"k6", 0}, {"k7", 0},
    {"k8", 0}, {"k9", 0}, {"k;", KC_F10},
    {"F1", 266}, {"F2", 267}, {"F3", 268}, {"F4", 269}, {"F5", 270}, {"F6", 271},
    {"ku", KC_UP}, {"kd", KC_DOWN}, {"kr", KC_RIGHT}, {"kl", KC_LEFT}, {"kh", KC_HOME},
    {"n0", 281}, {"n1", 282}, {"n2", 283}, {"n3", 284}, {"n4", 285}, {"n5", 286}, {"n6", 287},
    {"n7", 288}, {"n8", 289}, {"n9", 290}, {"n-", 291}, {"n,", 292}, {"n.", 293}, {"nr", 294},
    {"kN", 295}, {"kP", 296}, {"kC", 297}, {"kE", 298}, {"kS", 299}, {"kI", 300}, {"kD", 301},
    {"kA", 302}, {"kL", 303}, {"%9", 304}, {"kB", 305}, {"kR", 306}, {"kF", 307},
    {"KJ", KC_CUP}, {"KK", KC_CDOWN}, {"KL", KC_CINS}, {"KM", KC_CDEL},
    {"F7", 329}, {"F8", 330}, {"F9", 331}, {"FA", 332}, {"FB", 333}, {"FC", 334}, {"FD", 335},
    {"FE", 336}, {"FF", 337}, {"FG", 338}, {"FH", 339}, {"FI", 340}, {"FJ", 341}, {"FK", 342},
    {"FL", 343}, {"FM", 344},
    {"FN", 349}, {"FO", 350}, {"FP", 351}, {"FQ", 352}, {"FR", 353}, {"FS", 354}, {"FT", 355},
    {"FU", 356}, {"FV", 357}, {"FW", 358}, {"FX", 359}, {"FY", 360}, {"FZ", 361}, {"Fa", 362},
    {"Fb", 363}, {"Fc", 364},
    {"Fd", 369}, {"Fe", 370}, {"Ff", 371}, {"Fg", 372}, {"Fh", 373}, {"Fi", 374}, {"Fj", 375},
    {"Fk", 376}, {"Fl", 377}, {"Fm", 378}, {"Fn", 379}, {"Fo", 380}, {"Fp", 381}, {"Fq", 382},
    {"Fr", 383}, {"Fs", 384},
    {"Ft", 389}, {"Fu", 390}, {"Fv", 391}, {"Fw", 392}, {"Fx", 393}, {"Fy", 394}, {"Fz", 395},
    {"KA", 396}, {"KB", 397}, {"KC", 398}, {"KD", 399}, {"KE", 400}, {"KF", 401}, {"KG", 402},
    {"KH", 403}, {"KI", 404},
    // The backspace key, so that it follows the emulation's backspace setting.
    {"kb", KC_BS},
    // End when kE is absent.
    {"@7", KC_END},
};
// clang-format on

int setrealkey(const char* name, const char* value) {
    int i = name ? capindex(name) : -1;
    if (i < 0) return 0;
    keycapstr[i] = value ? skipdelay(value) : "";
    return 1;
}

int realkeys() {
    int total = 0;
    for (int i = 0; i < NKEYCAPS; i++) {
        std::string s;
        keycapstr[i].clear();
        if (!zztgetstr(keycaps[i].name, s)) continue;
        setrealkey(keycaps[i].name, s.c_str());
        total += static_cast<int>(s.size()) + 1;
    }
    return total;
}

int setkeycap(const char* name, const char* value) {
    if (!setrealkey(name, value)) return 0;
    trinit(itrans, iqueue);
    addkeystrings();
    return 1;
}

int addkeystrings() {
    for (std::string& s : conskeys)
        s.clear();
    int n = 0;
    // F1..F10: k0..k9 when k0 sorts before k9, else k1..k9 and then k0.
    const std::string& k0 = capstr("k0");
    const std::string& k9 = capstr("k9");
    bool k0first = !k0.empty() && k0 < k9;
    const char* fnames[10] = {"k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9", "k0"};
    const char* fnames0[10] = {"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9"};
    for (int i = 0; i < 10; i++)
        n += enterkey(capstr((k0first ? fnames0 : fnames)[i]), KC_F1 + i);
    for (int i = 0; i < NKEYCAPS; i++) {
        const KeyCap& c = keycaps[i];
        if (c.code == 0 || std::strcmp(c.name, "@7") == 0) continue;
        const std::string* s = &keycapstr[i];
        if (c.code == KC_END && s->empty()) s = &capstr("@7");
        // A bare backspace left arrow and carriage return down arrow keep their plain meaning.
        if (!aflag && c.code == KC_LEFT && !s->empty() && (*s)[0] == '\b') continue;
        if (!aflag && c.code == KC_DOWN && !s->empty() && (*s)[0] == '\r') continue;
        n += enterkey(*s, c.code);
    }
    return n;
}

int skey(std::string_view text) {
    if (text.empty()) return 0;
    COM->bout(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    if (dupmode == 2)
        for (char c : text)
            ttyout(static_cast<unsigned char>(c));
    return static_cast<int>(text.size());
}

int svtkey(std::string_view text) {
    if (!vtc18out) return skey(text);
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\033' && i + 1 < text.size()) {
            out += static_cast<char>((text[++i] & 31) + 128);
            continue;
        }
        out += text[i];
    }
    return skey(out);
}

int fnkey(int code) {
    if (code < 0 || code >= NKEYS) return 0;
    int em = curemul();
    bool tty = (em & ~EM_TTY) == 0;
    if (tty)
        if (int n = ttykey(code)) return n;
    if (code == KC_CBS) return skey("\177");
    if (code == KC_BS) return skey(((em & EM_VT220) && vbsdel) || em == EM_XTERM ? "\177" : "\b");
    if (code == KC_KPSLASH) return skey("/");
    if (code == KC_KPSTAR) code = KC_KPCOMMA;
    if (code == KC_KPPLUS) code = KC_KPENTER;
    if (tty) return 0;
    if (em & EM_VT220) return vt220key(code);
    if (em & EM_XTERM) return xtermkey(code);
    if (em & (EM_VT100 | EM_ANSI)) return vt100key(code);
    if (em & EM_VT52) return vt52send(code);
    if (em & EM_SCOANSI) return scokey(code);
    if (em & EM_IB3101) return ibmkey(code);
    if (em & EM_PCTERM) return toscancode(code), 1;
    if (em & EM_TVFAMILY) return televideokey(code, em);
    return 0;
}

void goldkey(int code) {
    int em = curemul();
    if ((em & ~EM_TTY) == 0) {
        if (code > 255)
            fnkey(code);
        else
            sendbyte(code);
        return;
    }
    int n = (em & (EM_TTY | EM_VT100 | EM_VT52)) ? GOLDSHORT : static_cast<int>(std::size(goldmap));
    for (int i = 0; i < n; i++)
        if (goldmap[i].typed == code) {
            fnkey(goldmap[i].acts);
            return;
        }
    if (code >= 0 && code < 256)
        sendbyte(code);
    else
        ttyout(7);
}

int comkey(int key) {
    if (compkey < 0) {
        compkey = key;
        return -1;
    }
    int first = compkey;
    compkey = -1;
    for (const Compose& c : KEYcomp) {
        int a = static_cast<unsigned char>(c.a), b = static_cast<unsigned char>(c.b);
        if ((a == first && b == key) || (a == key && b == first)) return c.result;
    }
    return -2;
}

int setprgkey(int n, std::string_view text) {
    if (n < 0 || n >= NPRGKEYS) return -1;
    try {
        prgkeys[n].assign(text);
    } catch (const std::bad_alloc&) {
        prgkeys[n].clear();
        eprintf("No mem for fn key\r\n");
        return -1;
    }
    return 0;
}

void clrprgkeys() {
    for (std::string& s : prgkeys)
        s.clear();
}

int defkey(int key, const char* text, long offset) {
    if (key < 0 || key >= NKEYS) return -1;
    if (text)
        map_key[key] = text;
    else
        map_key[key] = "\xff" + std::to_string(offset);
    return 0;
}

void unmapkey() {
    for (std::string& s : map_key)
        if (!s.empty() && static_cast<unsigned char>(s[0]) == 0xff) s.clear();
}

namespace {
// The character of a quoted key: one character after the string escapes ("^C", "\e", "\033",
// "\x1b", "\'"). -1 when malformed.
int quotedchar(const char*& p) {
    char q = *p++;
    int c;
    if (*p == '^') {
        if (!p[1]) return -1;
        c = p[1] & 31;
        p += 2;
    } else if (*p == '\\') {
        p++;
        static constexpr struct {
            char letter;
            int value;
        } named[] = {{'b', 8}, {'e', 27}, {'f', 12}, {'n', 10}, {'r', 13}, {'t', 9}, {'v', 11}};
        int lc = std::tolower(static_cast<unsigned char>(*p));
        c = -1;
        for (const auto& n : named)
            if (n.letter == lc) c = n.value;
        if (c >= 0) {
            p++;
        } else if (*p >= '0' && *p <= '7') {
            c = 0;
            for (int i = 0; i < 3 && *p >= '0' && *p <= '7'; i++)
                c = c * 8 + (*p++ - '0');
            c &= 255;
        } else if (lc == 'x') {
            p++;
            c = -1;
            for (int i = 0; i < 2 && std::isxdigit(static_cast<unsigned char>(*p)); i++, p++) {
                int d = std::isdigit(static_cast<unsigned char>(*p))
                            ? *p - '0'
                            : (std::tolower(*p) - 'a' + 10);
                c = (c < 0 ? 0 : c * 16) + d;
            }
            if (c < 0) return -1;
        } else if (*p == '"' || *p == '\'' || *p == '-' || *p == '\\' || *p == '^') {
            c = static_cast<unsigned char>(*p++);
        } else {
            return -1;
        }
    } else {
        if (!*p || *p == q) return -1;
        c = static_cast<unsigned char>(*p++);
    }
    if (*p != q) return -1;
    p++;
    return c;
}

bool isend(char c) {
    return c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Case-insensitive match of `word` at p, ending at a blank or the end of the text.
bool isword(const char* p, const char* word, size_t& len) {
    len = std::strlen(word);
    for (size_t i = 0; i < len; i++)
        if (std::tolower(static_cast<unsigned char>(p[i])) != word[i]) return false;
    return isend(p[len]);
}

bool prefix(const char* p, const char* word) {
    for (; *word; p++, word++)
        if (std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
    return true;
}
} // namespace

const char* setch2(const char* text, const char* what, int* result) {
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '\'' || *p == '"') {
        int c = quotedchar(p);
        if (c < 0) return expaberr(what), nullptr;
        *result = c;
        return p;
    }
    size_t len;
    if (isword(p, "none", len)) return *result = -1, p + len;
    for (const KeyName& k : keytrans) {
        if (isword(p, k.name, len)) return *result = k.code, p + len;
        if (k.ccode && prefix(p, "c-") && isword(p + 2, k.name, len))
            return *result = k.ccode, p + 2 + len;
    }
    // alt with a letter, a digit, "-" or "="; "alt" with a number as the key names print.
    if (prefix(p, "alt") && !isend(p[3])) {
        const char* q = p + 3;
        int c = std::tolower(static_cast<unsigned char>(*q));
        if (c >= 'a' && c <= 'z' && isend(q[1])) return *result = KC_ALTA + c - 'a', q + 1;
        if (c == '-' && isend(q[1])) return *result = KC_ALTMINUS, q + 1;
        if (c == '=' && isend(q[1])) return *result = KC_ALTEQUALS, q + 1;
        if (std::isdigit(c)) {
            long n = 0;
            for (; std::isdigit(static_cast<unsigned char>(*q)); q++)
                n = std::min(n * 10 + (*q - '0'), 1000L);
            if (!isend(*q)) return expaberr(what), nullptr;
            int code = n == 0 ? KC_ALT0 : KC_ALT1 - 1 + static_cast<int>(n);
            if (code >= NKEYS) return numaberr("%s", "Function key#"), nullptr;
            return *result = code, q;
        }
        return expaberr(what), nullptr;
    }
    // F-key ranges: a prefix and a number; "f" reaches on into the named codes, "k" is the form
    // the key names print for unnamed codes 276..328.
    static constexpr struct {
        const char* prefix;
        int base; // code of number 1
        int max;  // highest number
    } ranges[] = {{"csf", KC_CSF1, 20}, {"sf", KC_SF1, 20}, {"cf", KC_CF1, 20},
                  {"af", KC_AF1, 20},   {"f", KC_F1, 192},  {"k", 256, 73}};
    for (const auto& r : ranges) {
        if (!prefix(p, r.prefix)) continue;
        const char* q = p + std::strlen(r.prefix);
        if (!std::isdigit(static_cast<unsigned char>(*q))) continue;
        long n = 0;
        for (; std::isdigit(static_cast<unsigned char>(*q)); q++)
            n = std::min(n * 10 + (*q - '0'), 100000L);
        if (!isend(*q)) break;
        if (n < 1 || n > r.max || r.base + n - 1 >= NKEYS)
            return numaberr("%s", "Function key#"), nullptr;
        return *result = static_cast<int>(r.base + n - 1), q;
    }
    return expaberr(what), nullptr;
}

void keyreset() {
    for (std::string& s : map_key)
        s.clear();
    for (std::string& s : conskeys)
        s.clear();
    for (std::string& s : keycapstr)
        s.clear();
    clrprgkeys();
    compkey = -1;
}

int gold = 0;
int compose = 0;
int kdisable = 0;
int vcapslock = 0;
int kbtype = 0;
int vkbtype = 0;
// stand-in until the scan-code keyboard exists: nothing is sent.
int toscancode(int) {
    return 0;
}
