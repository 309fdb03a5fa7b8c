#pragma once
// Operating-system services and small shared helpers.
//
// Process start-up of the console and signals (osinit), local shell and command escapes with
// the console put into its normal mode and back, file queries, unique and temporary file
// names, wildcard expansion with the program's own pattern language, sorting, little-endian
// byte helpers for the binary transfer formats, the escape notation of scripts and settings
// ("^X", "\e", "\x1b", "\033") and character and string helpers.
//
// Pattern language (smatch): "?" one character, "*" any run, "{a-cx}" a set with inclusive
// ranges; a name beginning with "." needs a pattern beginning with "."; "." and ".." never
// match. The C library's toupper, tolower, isdigit and isblank serve as the character helpers
// (the program never changes the "C" locale).
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// ---- process and console ---------------------------------------------------------------
// Signals (handlers only set flags), descriptors 3..19 closed, time zone, console set-up.
void osinit();
// Enters the console's key strings into the key-sequence matcher.
void setupkeys();
// Enter / leave the console's full-screen, graphics and keypad modes (not in server mode).
void vinit();
void vexit();
void bell();
// 1 when the console can show colours.
int hascolor();
// The user's shell (SHELL, or "sh") with the console in its normal mode; `redraw` redraws the
// screen afterwards in full-screen mode.
void shell(int redraw);
// Runs `command` with the console in its normal mode; its exit status when `want`, else 0.
int osescape(const char* command, int want);
// system() with SIGCHLD at its default handling; returns system's result.
int dosystem(const char* command);
// /bin/mkdir and /bin/rmdir on `name`, run without a shell; a wait status like system's.
int domkdir(const char* name);
int dormdir(const char* name);

// Set by the SIGPIPE handler; the writer of a pipe or a network line looks at it.
inline volatile sig_atomic_t pipesig = 0;

// ---- files -----------------------------------------------------------------------------
int isdir(const char* name);
int filexists(const char* name); // exists and is not a directory
long filsiz(const char* name);   // 0 when missing
long fildate(const char* name);  // program time value, -1 when missing
int filmode(const char* name);   // mode bits, 0666 when missing
// 1 when the last path component has no ".".
int okfname(const char* name);
// A 12-byte 8.3 directory entry: 0, the name in 8 and the extension in 3 bytes, upper case,
// padded with spaces.
void fscan(const char* name, uint8_t entry[12]);
// link then unlink: 0 or -1 (no copying across file systems).
int dorename(const char* from, const char* to);
int dochdir(const char* path);
// HOME, else the password entry of the login name or of the user id; nullptr when none.
const char* gethomedir();
// Creates an empty file from "/tmp/vornXXXXXX"; its name (one static buffer) or nullptr.
const char* tempfile();
// Replaces each run of "#" in `name` by the next free number and creates the file empty
// (mode 0666). The name created, or "" when it cannot be created.
std::string funiq(const std::string& name);

// ---- wildcard expansion ----------------------------------------------------------------
inline int wbufsiz = 3584; // bytes of the expansion buffer (script command wildsize)
// The names of the last expansion, pointers into the caller's buffer, sorted.
extern std::vector<const char*> wsortbuf;
// Expands `pattern` into `buffer` (its size is the limit: names and their terminators);
// `directory` receives the directory part ("" for the current one). Returns the count of
// names; wsortbuf points at them in ascending byte order. With `exclude` the names that do
// not match are taken (never those beginning with ".").
int expand(const char* pattern, std::string& directory, std::vector<char>& buffer,
           int exclude = -1);
int smatch(const char* pattern, const char* name);
// Shell sort of string pointers in ascending strcmp order.
void exsort(const char** names, int count);
// One line of at most 255 characters into `buf` (256 bytes), carriage returns dropped; a line
// feed, ^Z or end of file ends it. nullptr when ^Z or end of file ends an empty line.
char* getl(char* buf, FILE* stream);

// ---- timers and events for scripts -----------------------------------------------------
// The event flags ev_delay (a script timer ran out) and ev_key (an event key was pressed) are
// the script interpreter's (script/cmd.h).
// Clears ev_delay and starts an alarm that sets it; the previous alarm's remaining seconds.
int setdelay(int seconds);
// The pending events among `mask`: 1 (delay) or 8 (key), else 0.
int statchk(int mask);

// ---- byte order (little-endian binary formats) -----------------------------------------
int get16(const uint8_t* p); // signed: FF FF gives -1
void put16(uint8_t* p, int v);
long get32(const uint8_t* p);
long get32fix(const uint8_t* p);
void put32(uint8_t* p, long v);
void ldir(const uint8_t* from, uint8_t* to, int count);

// ---- characters and strings ------------------------------------------------------------
int ishex(int c);
// Value of a hex digit; other letters give their value minus 55.
int hexval(int c);
// ASCII case change into `out`, or in place when `out` is nullptr.
void convup(char* text, char* out);
void convdn(char* text, char* out);
int prefix(const char* a, const char* b); // 1 when a is a prefix of b
// The last occurrence of c, nullptr when none or the text is empty.
const char* right(const char* text, int c);
int any(int c, const char* set);
void clrbuf(void* p, int n);
// Copies backwards, for overlapping moves to the right.
void moveright(const void* from, void* to, int n);
// The text after the first comma; nullptr when there is none or nothing follows it.
const char* nxtarg(const char* text);

// ---- escape notation -------------------------------------------------------------------
// One character of escape notation at *p, advancing *p; -1 when the notation is bad.
int expch(const char** p);
// The longest result expstr stores (mode 1 may store one more: its count byte is one less).
constexpr int EXPSTRMAX = 255;
// Reads a string in escape notation into the counted string `out` (257 bytes: the count,
// then up to 256 characters). Modes 0 and 1: a leading quote or apostrophe delimits, else a
// space ends it; mode 1 expands ranges "a-d" and its count is one less than the characters
// stored; mode 2 takes the whole text. The position after the string, or nullptr on failure.
const char* expstr(const char* text, uint8_t* out, int mode);
// Copies `text` to `out`, each run of "#" replaced by the next value of the shared counter,
// zero-padded to the run's length (a single "#" to `width`). `reset` sets the counter to 0
// first. 1 when anything was replaced.
int macsub(const char* text, std::string& out, int width, int reset);
// Replaces each run of '#' in text with next(), zero-padded to the run's length (a lone '#' to
// `width`, at most 32 digits); true when anything was replaced.
bool hashnumbers(const char* text, int width, const std::function<int()>& next, std::string& out);

// Power-on state of the services (counter, events, wildcard buffer size), for tests.
void osreset();
