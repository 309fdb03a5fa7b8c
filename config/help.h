#pragma once
// The on-line manual: the help text vorn.hlp and its keyword index vorn.hdx.
//
// vorn.hlp is plain text. "..m Title, Right heading" starts a topic (a right heading that starts
// with "$" shows nothing), "..r Name one, Name two" lists its related topics, any other line
// starting with "." is a comment (the index builder reads ".k" lines as the topic's keywords).
// In text lines 0x02 toggles bold, TAB goes to the next multiple of 8, "$word" and
// "$(several words)" are links, "$$" is one "$", and ".,;:)" after a link word end the link.
//
// vorn.hdx is a sequence of 13-byte records: the keyword (lower case, NUL-padded to 10 bytes)
// and the byte offset of the topic's "..m" line (24 bits, little-endian). Only the first
// 3000 bytes (230 records) are searched; the first match wins.
//
// A page shows 16 text rows (rows 2-17) under a heading; links, "(continue)", "(backup)" and
// the related topics are the items the user moves the highlight over.
#include <string>

constexpr int HDX_RECLEN = 13;
constexpr int HDX_KEYLEN = 10;
constexpr int HDX_SEARCH = 3000; // bytes of the index that are searched
constexpr int HLP_ROWS = 16;     // text rows per page
constexpr int HLP_POOL = 256;    // link and related-name text per page
constexpr int HLP_POOLWARN = 245;
constexpr int HLP_LINKS = 22;
constexpr int HLP_RELATED = 10;
constexpr int HLP_ITEMS = HLP_LINKS + 2 + HLP_RELATED;
constexpr int HLP_PAGES = 20; // pages remembered for "(backup)"

// Declared with the menus (config/menu.h): int help(const char* keyword);
// Looks `keyword` up: 1 with `offset` set, 0 when it cannot be placed.
int findhelp(const char* keyword, long& offset);
// Shows pages from `offset` until the user leaves; the screen is cleared at the end.
int dohelp(long offset);
// The item picker. Mode 1 is help (builds the list from the page); mode 0 is the script-menu
// mode, whose list the caller fills with hmenuclear/hmenuadd. False for Esc.
bool hmenu(int mode, std::string& chosen);
void hmenuclear();
// Adds an item shown at row, col; `link` items come before the others.
bool hmenuadd(const std::string& text, int row, int col, bool link);

// The help keyword of a menu choice: the first 6 characters of the menu's title, "@" and the
// choice's first word (the index compares 10 characters, lower-cased). A choice without a
// topic of its own opens the first topic.
std::string menuhelpkey(const std::string& title, const std::string& choice);

// Opens the two files by path (tests, fuzzing); 1 when both opened.
int helpfiles(const char* hlp, const char* hdx);
// Where keys come from (the console by default; tests and the fuzz target feed their own).
void helpkeys(int (*source)());
// Closes the files and forgets every state, including a remembered failure.
void helpreset();

// "--help" or "--version" as the first argument: the short usage or the version line on
// standard output, before any of the program's own start-up. The exit status, or -1 when the
// first argument is neither.
int helpargs(int argc, char** argv);
