#pragma once
// The escape prompt "c=>", its selection lists and line input.

// One entry of a selection list; a list ends with an entry whose name is empty.
struct SelEntry {
    const char* name;
    int value;
    char key;
};

extern const SelEntry modelist[];  // duplex modes
extern const SelEntry answlist[];  // answer modes
extern const SelEntry termlist[];  // emulations
extern const SelEntry xprotlist[]; // transfer protocols
extern const SelEntry parlist[];   // parity

// Value of the first entry whose key letter is `letter`, or -1.
int selkey(const SelEntry* list, int letter);
// Name of the first entry with `value`, or "?".
const char* selname(const SelEntry* list, int value);
// Value of the entry whose name `word` abbreviates (case ignored), or -1.
int selvalue(const SelEntry* list, const char* word);

void escape();
void prallow(const SelEntry* list);
void dispprot();
int wrcapt();

// Reads one key, upper-casing a-z and echoing printable ones.
int getch();

// ngets flags.
enum : int {
    NG_ECHO = 1,  // echo the input
    NG_ESC = 2,   // ESC aborts
    NG_ABORT = 4, // the abort key aborts
    NG_EOF = 8,   // ^D on an empty line aborts
};
constexpr int NGETS_MAX = 79;
// Line input into `buf` (at least NGETS_MAX + 1 bytes); 0 when ended, 1 when aborted.
int ngets(char* buf, int flags);
// Forgets the line ^R recalls.
void ngetsreset();
