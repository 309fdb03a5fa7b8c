#pragma once
// The settings table: one row per program setting a user can change by name.
//
// A row gives the keyword (a command word, or an option of `set`), the variable the setting
// drives, its kind of value and range, its default, the label its "... expected" message names,
// the system variable that also reads and writes it, its bit of the vornbits mask, and a line
// of help. The setting commands, `set`, the system variables, the reset to power-on values,
// and whatever lists or saves settings (status page, configuration writer, menus, help) all
// work from these rows, so a setting is described once.
//
// Defaults: a number's default is the power-on value of its variable, taken from the
// variable's own definition when the table is built (before main); a text's default is written
// in its row and installed by initstr at start-up.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

struct SelEntry;

enum SetType : uint8_t {
    ST_FLAG,   // off/on word, stored as 0/1
    ST_COUNT,  // a non-negative decimal word (saturates at INT_MAX)
    ST_NUMBER, // a numeric expression within lo..hi
    ST_CHAR,   // a quoted character, none (-1), or a key name
    ST_TEXT,   // a string expression
    ST_WORD,   // a word from the row's selection list
};

enum SetFlags : uint8_t {
    SF_SET = 1,     // an option of `set`, not a command of its own
    SF_NOSAVE = 2,  // acts on the line at once; not part of a saved configuration
    SF_NOCMD = 4,   // no command of its own: set by its system variable or a shared command
    SF_WORDARG = 8, // a text taken as one word, not a string expression
    SF_RAW = 16,    // a text taken as the rest of the line
};

// Where a text setting lives: a string, or a fixed buffer (text past its size is cut).
struct TextRef {
    std::string* str = nullptr;
    char* buf = nullptr;
    size_t size = 0;
    TextRef(std::nullptr_t) {}
    TextRef(std::string* s) : str(s) {}
    template <size_t N> TextRef(char (&b)[N]) : buf(b), size(N) {}
    std::string get() const { return str ? *str : buf ? std::string(buf) : std::string(); }
    void put(const std::string& t) const;
};

struct Setting {
    const char* name;
    SetType type;
    uint8_t flags;
    int* ip;               // the int it drives, or
    long* lp;              // the long it drives, or
    TextRef sp;            // the text it drives
    long lo, hi;           // range of ST_NUMBER (and the ceiling of ST_COUNT)
    const char* label;     // what "%s expected\r\n" names
    const SelEntry* words; // ST_WORD
    // Stores a new value and acts on it (numbers, characters, words and flags); negative after
    // its own message. nullptr: the value is stored.
    int (*apply)(long);
    const char* sysvar; // the system variable of the same setting, or nullptr
    int32_t bit;        // its bit in the vornbits mask, 0 none
    long def;           // number default (see above)
    const char* sdef;   // text default, nullptr for empty
    const char* help;   // one line for help and menus
};

// Every row: the options of `set` in the order it lists them, the setting commands
// alphabetically, then the settings without a command of their own.
std::span<const Setting> settingstable();
// The row whose keyword is `name` exactly (lower case), among `set` options when `setopt` is
// true or among the setting commands when false; nullptr when none.
const Setting* findsetting(const char* name, bool setopt);
// The current value of a number, character, word or flag row (texts: 0).
long settingvalue(const Setting& s);
// The current value as text: a text row's string, a number in decimal, a flag as off/on, a
// word row's name, a character as itself ("none" for -1).
std::string settingtext(const Setting& s);
// Stores a number (range and apply of the row); 0, or -1 after the row's message.
int putsetting(const Setting& s, long value);
// Parses `args` as the row's command argument and stores it: a result code of script/cmd.h.
int setsetting(const Setting& s, const char* args);
// Runs the setting command `name` on `args`.
int setcmd(const char* name, const char* args);
// Every row back to its default.
void settingsdefaults();

// Settings that have no subsystem of their own in the program yet: they are stored, shown and
// saved, and read by their subsystem once it exists.
inline int kermecho = 0; // Kermit echoes packets
inline int altchk = 0;   // Kermit uses the alternative check type
inline int logflag = 0;  // the log file is written
inline int lchar = 10;   // end-of-line character of line-by-line sending
inline int lchrdy = 0;   // the port layer's character-ready counter
inline int hiwait = 5;   // XON ring count
inline int lowait = 3;   // XOFF ring count
inline int itime = 0;    // idle time-out of line sending, 0 = wait forever
inline int xonchar = 17; // the XON and XOFF characters of the line protocol
inline int xoffchar = 19;
inline int npages = 1;      // screen pages asked for
inline int defcharset = 0;  // national character set chosen by `charset`
inline std::string netname; // network connection strings
inline std::string netvtname;
inline std::string netdialog;
inline std::string editor;    // editor for vi/edit, empty: $EDITOR, else vi
inline std::string sshpath;   // the ssh program
inline std::string remarkstr; // remark of the settings in force (of the configuration run last)
