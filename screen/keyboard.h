#pragma once
// The keyboard: key codes, the console's key strings, and what each emulation sends.
//
// Every key the user presses becomes a code: 0..255 for characters, 256 and up for function,
// cursor, editing and keypad keys. The console's own key strings (read from its termcap entry
// into `keycapstr`) are entered into the key-sequence matcher by addkeystrings(), so the bytes an
// arrow key sends arrive as one code. Terminal mode hands codes above 255 to fnkey(), which
// sends what the selected emulation's keyboard would send (ESC [ A, ESC O P, SOH @ CR, ...),
// using the host-programmed key strings first where the emulation has them. goldkey() serves
// the key after GOLD, comkey() builds composed characters, setch2() parses key names written in
// scripts and configuration files, and `map_key` holds per-key macros, "@@" commands and
// event markers.
#include <string>
#include <string_view>

// Key codes (16-bit, below NKEYS).
// clang-format off
enum : int {
    KC_F1 = 256, KC_F2 = 257, KC_F3 = 258, KC_F4 = 259, KC_F5 = 260, KC_F6 = 261, KC_F9 = 264,
    KC_F10 = 265, KC_F11 = 266, KC_F20 = 275,
    KC_UP = 276, KC_DOWN = 277, KC_RIGHT = 278, KC_LEFT = 279, KC_HOME = 280,
    KC_KP0 = 281, KC_KP9 = 290,
    KC_KPMINUS = 291, KC_KPCOMMA = 292, KC_KPPERIOD = 293, KC_KPENTER = 294,
    KC_PGDN = 295, KC_PGUP = 296, KC_CLEAR = 297, KC_END = 298, KC_CEND = 299,
    KC_INS = 300, KC_DEL = 301, KC_INSLINE = 302, KC_DELLINE = 303, KC_PRINT = 304,
    KC_BACKTAB = 305, KC_SCRUP = 306, KC_SCRDN = 307,
    KC_CBS = 308, KC_CENTER = 309, KC_CESC = 310,
    KC_CKPMINUS = 311, KC_CKPPLUS = 312, KC_CKPSTAR = 313,
    KC_KPSTAR = 314, KC_KPPLUS = 315, KC_KPSLASH = 316,
    KC_NUMLOCK = 317, KC_SCRLOCK = 318, KC_BS = 319,
    KC_CUP = 320, KC_CDOWN = 321, KC_CINS = 322, KC_CDEL = 323,
    KC_FIVE = 324, KC_CFIVE = 325, KC_CTAB = 326, KC_CKPSLASH = 327, KC_CKPENTER = 328,
    KC_SF1 = 329, KC_CF1 = 349, KC_AF1 = 369, KC_CSF1 = 389,
    KC_ALTA = 409, KC_ALTK = 419, KC_ALTZ = 434, KC_ALT1 = 435, KC_ALT9 = 443,
    KC_ALT0 = 444, KC_ALTMINUS = 445, KC_ALTEQUALS = 446,
    KC_LOSTLINE = 448, // queued in ttyq when the line is lost
    NKEYS = 449,
};
// clang-format on

// ---- console key strings ----------------------------------------------------------------
// The key capabilities of the console description, in the order they are entered, each with
// its key code. The F-key strings k0..k9 carry code 0: their numbering depends on how k0
// sorts (see addkeystrings). "@7" stands in for kE when that is absent.
struct KeyCap {
    const char* name; // termcap name
    int code;
};
inline constexpr int NKEYCAPS = 119;
extern const KeyCap keycaps[NKEYCAPS];
// The strings read from the console description, one per keycaps entry ("" = absent).
extern std::string keycapstr[NKEYCAPS];
// What the console sends for each key code, as entered by addkeystrings (TTY sends these).
extern std::string conskeys[NKEYS];

// Records a key capability read from the console description (leading delay digits, "." and
// "*" skipped). 1 when `name` is a key capability, else 0.
int setrealkey(const char* name, const char* value);
// Reads every key capability of the console description (tinit calls it after the screen's
// capabilities); returns their total length with one terminator each, for the 1200-byte budget.
int realkeys();
// Changes one key string at run time (the `setcap` command) and rebuilds the matcher's table.
// 1 when `name` is a key capability, else 0.
int setkeycap(const char* name, const char* value);
// Enters every console key string into the matcher `itrans` with its code, after the matcher
// was emptied (setupkeys). "No memory for termcap/terminfo key definition\r\n" for each string
// that cannot be entered. Returns the number entered.
int addkeystrings();

// ---- sending keys -------------------------------------------------------------------------
// Sends what the current emulation sends for key `code`; returns the bytes sent (0 = the
// emulation has nothing for this key).
int fnkey(int code);
// The key after GOLD: mapped through the GOLD map in an emulation, else sent as it is.
void goldkey(int code);
// Sends a key string to the host; in half duplex it is also shown.
int skey(std::string_view text);
// As skey, but with 8-bit replies on each ESC and the byte after it become one C1 byte.
int svtkey(std::string_view text);

// Compose: the first call remembers the key and answers -1; the second answers the composed
// character, or -2 when the pair has none.
int comkey(int key);

// ---- host-programmed keys -----------------------------------------------------------------
inline constexpr int NPRGKEYS = 48;
extern std::string prgkeys[NPRGKEYS];
// Stores host-programmed key n (a copy; empty text removes it). 0, or -1 after "No mem for fn
// key\r\n" or for a slot out of range.
int setprgkey(int n, std::string_view text);
// Forgets every host-programmed key (at each emulation selection).
void clrprgkeys();

// ---- key map --------------------------------------------------------------------------------
// Per key: empty, a macro, a "@@" script command, or an event marker (byte 0xFF followed by the
// decimal file offset of the `on key` handler).
extern std::string map_key[NKEYS];
// Replaces key's entry: with `text` when it is not null, else with an event marker for
// `offset`. 0, or -1 for a key out of range.
int defkey(int key, const char* text, long offset);
// Removes the event markers (the command file that set them has ended).
void unmapkey();

// ---- key names ----------------------------------------------------------------------------
// Parses a key written in a script or configuration file: a quoted one-character string, "none"
// (-1), a key name (with "c-" for its control form), "alt" with a letter, digit, "-" or "=",
// or "f", "sf", "cf", "af", "csf", "k" followed by a number. Stores the code in *result and
// returns the position after the key; nullptr after "%s expected\r\n" with `what` or
// "Function key#".
const char* setch2(const char* text, const char* what, int* result);

// ---- terminal-mode keyboard state -------------------------------------------------------------
extern int gold;      // a gold key is pending
extern int compose;   // a compose sequence is pending
extern int kdisable;  // keyboard input is dropped
extern int vcapslock; // caps lock of the emulated keyboard
extern int kbtype;    // 4 = scan-code keyboard
extern int vkbtype;   // keyboard type; bit 128 asks for scan-code mode
// Sends what the scan-code keyboard sends for `key`.
int toscancode(int key);

// Power-on state of the keyboard (key map, programmed keys, console key strings, compose).
void keyreset();
