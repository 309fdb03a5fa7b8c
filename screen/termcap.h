#pragma once
// The termcap reader: where the console's description comes from.
//
// zztgetent() first looks in the program's own termcap file ("termcap.qal" on the search path,
// a file named by TERMCAP, or an entry held in TERMCAP itself); when the console type is not
// there it asks the system database through ncurses' termcap interface. The first successful
// lookup decides `ourtermcap`, and every later zztget*() and zztgoto() call goes to the same
// source. The program's own entry lives in `tbuf` (at most TBUFSIZ bytes); a final tc=name
// field is replaced by the named entry, at most 32 levels deep.
#include <string>

constexpr int TBUFSIZ = 1200; // longest entry kept, and the limit for all strings together

inline std::string tbuf;   // the entry found in the program's own file (or in TERMCAP)
inline int ourtermcap = 0; // 1 when the entry came from the program's own file
inline int tcdecided = 0;  // set by the first successful zztgetent

// Looks up `name`: the program's file first, then the system database. 1 found, 0 not.
int zztgetent(const char* name);
// Finds `name` in the program's file or in TERMCAP into `entry`: 1 found, 0 not found, -1 no
// file. Follows a final tc= field.
int ctgetent(std::string& entry, const char* name);
// Replaces a final tc=name field of `entry` by that entry; `depth` counts the levels followed.
// 1 on success, 0 when the entry is bad, loops or the named entry is missing.
int tnchktc(std::string& entry, int depth = 0);

// Capability lookups in the current entry. A string is returned decoded (\E, ^x, octal...);
// false when absent or cancelled with name@.
bool zztgetstr(const char* id, std::string& out);
int zztgetnum(const char* id);  // -1 when absent
int zztgetflag(const char* id); // 1 present, 0 absent
bool ctgetstr(const std::string& entry, const char* id, std::string& out);
int ctgetnum(const std::string& entry, const char* id);
int ctgetflag(const std::string& entry, const char* id);

// Cursor motion: cm with column and row ("OOPS" for a code the language lacks). `up` and `bc`
// compensate for bytes that would be 0, ETX, tab or newline.
std::string ctgoto(const std::string& cm, int col, int row, const std::string& up = "",
                   const std::string& bc = "");
std::string zztgoto(const std::string& cm, int col, int row);
// A two-parameter string (cs and the like) from whichever source the entry came from.
std::string TGOTO(const std::string& str, int p1, int p2);
// A one-parameter string from the system database (Sf, Sb) through its parameter formatter.
std::string ztparm(const std::string& str, int p);
// Emits a capability string byte by byte through `out` (padding handled for system strings).
void ztputs(const std::string& str, int (*out)(int));

// Forgets the source decision and the entry (power-on state, for tests).
void termcapreset();
