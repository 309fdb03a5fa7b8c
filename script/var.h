#pragma once
// Script variables and the string store.
//
// User variables are global to the process and live in one list headed by `vhead`, newest
// first, until `release`. A variable changes type with every assignment; arrays (dimint,
// dimstr, dimlog) keep theirs until re-dimensioned. System variables (names beginning with _)
// are fixed rows that read and write program settings directly; `_0` to `_9` are the running
// command file's name and arguments.
//
// The string store holds every text setting users can change (modem strings, file names):
// setstr replaces one, getstr reads it, initstr gives them their start-up defaults.
#include "ports/lock.h"     // lockpre: the lock-file pattern
#include "ports/serial.h"   // vmin, vtime
#include "screen/display.h" // obufsiz: the console output buffer size

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ExprValue;

// Type bits of a variable (the low part is a value type of script/expr.h).
constexpr int VT_UNSET = 0, VT_ARRAY = 64, VT_SYS = 128;

struct Variable {
    char name[11] = {};
    uint8_t type = VT_UNSET;
    std::unique_ptr<Variable> next;
    int32_t dim = 0;               // elements of an array; the row number of a system variable
    int32_t num = 0;               // numeric or logical value
    std::string str;               // string value
    std::vector<int32_t> cells;    // numeric and logical arrays
    std::vector<std::string> strs; // string arrays
};

inline std::unique_ptr<Variable> vhead; // user variables, newest first

// Largest array the program agrees to allocate; bigger ones report error 13.
constexpr int32_t MAXDIM = 1 << 22;

// Finds a variable by name (folded to lower case); see the lookup rules in var.cpp.
Variable* getvar(const char* name, bool create);
// Assigns a plain value to a target from lexpr. `length` is the byte count of a string that
// may hold NULs (0: the text's own length). 0 on success.
int setvar(const ExprValue& target, const ExprValue& value, int length = 0);
// Prints one memlist entry; with `elements`, every element on its own line.
void prvar(const Variable& v, bool elements);
// Unlinks a user variable from the list and frees it; system and parameter rows are left alone.
void release(Variable* v);
// Frees every user variable.
void releaseall();
// Records released while an evaluation may still hold a pointer to them wait here until the
// next top-level dispatch (see var.cpp); evaldepth counts evaluations suspended by eval().
inline int evaldepth = 0;
void reapvars();
// Power-on state: no user variables, system-variable values back to their defaults.
void varreset();

// Command handlers.
int c_setvar(const char* args);
int c_dimint(const char* args);
int c_dimstr(const char* args);
int c_dimlog(const char* args);
int c_release(const char* args);
int c_memlist(const char* args);

// Command-file parameters seen as _0.._9 and $0..$9, installed by the interpreter.
inline int gac = 0;
inline std::vector<std::string> gav;

// System-variable state that has no other owner yet.
inline std::string xfername; // _filename: the file last opened by a transfer or capture
inline int32_t gretval = 0;  // _retval: secondary result of the last command
inline int gtimeout = 0;     // _timeout: the last wait/dial/login/transfer timed out
inline int kermeol = 13;     // _kermiteol
inline int turnchar = -1;    // _turnchar: line turn-around character, -1 none
inline int32_t txwindow = 0; // _txwindow: ZMODEM transmit window
inline int32_t txblksiz = 0; // _txblksiz: ZMODEM transmit block size
inline int32_t rcvsync = 0;  // _rcvsync
inline std::string cfg[17];  // _cremark .. _cwru: the configuration text fields

// The string store.
void setstr(std::string& holder, const char* text);
const char* getstr(const std::string& holder);
void freestr(std::string& holder);
// A fresh 256-byte translation table: all zero, or the identity.
void initab(std::unique_ptr<unsigned char[]>& holder, bool zeroed);
void initstr();

// Text settings with defaults from initstr.
inline std::string captfname; // capture file name
inline std::string prfname;   // printer file name
inline std::string spooler;   // print spooler command
inline std::string logfname;  // log file name
inline std::string istr;      // modem initialisation
inline std::string dprefix;   // dial prefix
inline std::string dsuffix;   // dial suffix
inline std::string offhook;   // go off-hook (answer)
inline std::string autoans;   // auto-answer on
inline std::string ansoff;    // auto-answer off
inline std::string estr;      // escape to command state
inline std::string hstr;      // hang up
inline std::string okstr;     // modem OK reply
inline std::string ringstr;   // ring indication
inline std::string dconnect;  // connect reply
