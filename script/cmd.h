#pragma once
// The command interpreter: splits a script line into its command word and argument text,
// substitutes parameters and variables, finds the command in the table `cmds` and calls its
// handler; runs command files line by line with nested calls, procedures, `on` handlers and
// the line-oriented control flow (if/switch/repeat/for count levels and seek in the file).
//
// Every handler takes the argument text and returns a result code. A running file or
// procedure is one level (`flevel`) and one saved frame; an `on` handler is a frame without a
// level. An abort (cmdabort) returns everything to the idle state at once.
#include "ports/settings.h" // insysfile: the running file is the system start-up file
#include "script/sfile.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

// Result codes of handlers and of the dispatcher.
enum : int {
    RC_OK = 0,
    RC_ERROR = 1,
    RC_ABORT = 2,
    RC_EVENT = 3,    // an event is pending: run the matching `on` handler
    RC_RETURN = 4,   // the file or procedure ends; the value is in `retval`
    RC_EXPECTED = 5, // a "... expected" message: neither error nor abort, but not success
};

constexpr int MAXFRAMES = 20; // nested files, procedures and handlers
constexpr int MAXNEST = 20;   // if/switch entries, and repeat entries, per file
constexpr int LINEMAX = 255;

// Set by the fuzz targets: commands and functions that touch files, the console, the line,
// alarms or the process do nothing.
inline bool scriptsandbox = false;

// Execution state.
inline int flevel = 0;    // running files and procedures; 0 = command or terminal mode
inline int iflevel = 0;   // open conditional levels
inline int exlevel = 0;   // levels whose lines are executed (executing when equal)
inline int rsp = -1;      // top of the repeat stack
inline int swsp = -1;     // top of the conditional stack
inline int inprcmd = 0;   // procedures being run
inline int inoncmd = 0;   // `on` handlers being run
inline int inconfig = 0;  // the running file is a configuration file
inline int canerror = 1;  // `set error`: errors end command files
inline int retval = 0;    // value of the last `return`
inline int quitpend = -1; // a deferred quit's exit code, -1 none

// The conditional stack (extra levels opened by the branches of each open if/switch) and the
// repeat stack (offsets of the lines after each open repeat). They belong to the running file,
// procedure or handler: a call starts with both empty and gets the caller's back at its end.
inline int swstack[MAXNEST];
inline long repstack[MAXNEST];

// The file being read (null at level 0) and the start of the running `for` block (0 = none).
inline ScriptFile* gfp = nullptr;
inline long for_return = 0;
// Set by noerror and iferror, which store a command's result in gerrno themselves: the file
// loop then leaves gerrno alone for that line.
inline bool keeperrno = false;
// Ends a `for` loop started at `level` or deeper (a file ended or was aborted inside it).
void forend(int level);

// Skips lines of the running file up to and including the first whose word matches `endword`
// (4 or more letters). A line whose word is exactly `nested` reports `nestedmsg` and gives 1;
// end of file gives 2; found gives 0.
int skipblock(const char* endword, const char* nested, const char* nestedmsg);

// Script events raised by the alarm, the key map and the dispatcher.
inline volatile sig_atomic_t ev_delay = 0; // set by the `on delay` alarm
inline int ev_key = 0;
inline int ev_carr = 0, ev_nocarr = 0, ev_abort = 0, ev_error = 0;
inline long ev_keyseek = 0; // handler offset of the `on key` that fired

int docmd(const char* line);
int cmdfile(int count, char** words, int mode, int unused = 0);
int dofile(const char* text, int mode);
// Runs an opened file (or, with none, the running one) from its start or from a procedure.
int cmdfil2(int count, char** words, std::unique_ptr<ScriptFile> fp, const char* name,
            const char* proc);
// Dispatches a line of the running file, using (and filling) what is kept with it.
int docmdline(ScriptLine& line);
// `text` with control bytes in visible form (^C, ^?, and \x9B for the C1 range), so script text
// echoed in a message cannot send sequences to the console.
std::string visible(const char* text);
int tryvornrc(const char* name);
int cmdmode();
int cmdmod2();
void cmdabort();
// Parameter substitution of one line into `out` (256 bytes); 0 on success, 1 after a message.
int subparms(const char* line, char* out);

// What terminal mode and the exit path ask of scripts. dmatch() waits for strings in terminal
// mode: dmatch(0, nullptr) resets; a byte returns 1 on a match. lrncom() and lrnkey() record a
// received byte and a typed key for learn mode; lrnend() ends learning. closeall() closes the
// script's files.
int dmatch(int c, const char* const* list);
void lrncom(int c);
void lrnkey(int k);
void lrnend();
void closeall();

// Keyword routines for handlers.
const char* word(const char* text, const char** rest);
int toklist(const char* text, const char** rest, const char* const* list);
void tokexpect(const char* const* list);
// Selection tables (selvalue, selname, selkey) live with the escape prompt; this prints a
// table's names as expected.
struct SelEntry;
void selexpect(const SelEntry* table);
bool cmatch(const char* word, const char* keyword);
bool umatch(const char* word, const char* keyword);

// Power-on state of the interpreter (no files, no procedures, no events).
void cmdreset();
