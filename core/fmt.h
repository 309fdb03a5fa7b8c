#pragma once
// Console message formatting.
//
// Every message, prompt and listing of the program goes through dofmt() and its wrappers. The
// formatter knows a small fixed set of conversions (below) and writes through the emulator's
// output entry, so messages land in the screen model like received text. The console is raw,
// so every message ends in "\r\n".
//
// Conversions: an optional "-" (pad on the right) and decimal width, then
//   %c character, %s string ("(null)" for nullptr), %d int, %ld / %l long (a "d" after the
//   "l" is consumed), %u unsigned, %x low byte as 2 hex digits, %X 4 hex digits, %lx 8 hex
//   digits, %kd %km %kc %kk the readable forms 3, 4, 5 and 6 of chname(), %k with any other
//   letter the form of the current duplex mode. Any other letter prints nothing and takes no
//   argument. Only %s, %d, %ld and %u use the width; a longer text is cut to the width.
#include <cstdarg>
#include <cstddef>
#include <string>

// Formats `fmt` to the console; with `toerr` in server mode on standard input the text goes
// to the line instead. Returns the number of bytes produced.
int dofmt(int toerr, const char* fmt, va_list ap);
// The same formatting into a string (no output).
std::string vsfmt(const char* fmt, va_list ap);
std::string sfmt(const char* fmt, ...);

int zzprintf(const char* fmt, ...);
int eprintf(const char* fmt, ...);
// Formats an error message and returns 1, so error paths can `return aberr(...)`.
int aberr(const char* fmt, ...);
// Start-up and exit messages. While `msgkeep` is set (from start-up until the terminal loop
// runs, and again on the way out) every error message is also kept, and doneterm writes the
// kept ones to standard error once the console is restored: the full screen (or its clearing)
// would otherwise take them away with it. At most 32 are kept.
inline int msgkeep = 0;
void keepmsg(const std::string& text);
size_t keptcount();
void dropkept(size_t from); // forgets the messages kept after the first `from`
void showkept();            // writes the kept messages to standard error and forgets them
// "%s expected\r\n" with `what`; returns 1.
int expaberr(const char* what);
// A script error with its position: the script line (when a command file runs and echo is
// off), a caret under the scan position, the message. Then the evaluator's unwind hook
// (script/lex.h exprunwind) leaves an expression evaluation in progress; outside one it returns 1.
int numaberr(const char* fmt, const char* arg);
// "\aOut of RAM memory (Error #%d)\r\n" through aberr; returns 1.
int nomemory(int code);

// Each character through the emulator (ttyout).
void outs(const char* text);
// Each character straight to the console driver, then the cursor back where the screen has it.
void _outs(const char* text);
// `text` padded with spaces to `width` (on the right when `left`), or cut to it; 0 = as is.
void outprec(const char* text, int width, int left);

// Number to text. itoa/ltoa: signed decimal, terminated; htoa: the low `digits` hexadecimal
// digits (at most 8), terminated; pitoa: decimal zero-filled to `width`, not terminated,
// returns the position after the text. Buffers hold at least 21 bytes (pitoa: max(width, 21)).
char* itoa(int value, char* buf);
char* ltoa(long value, char* buf);
char* htoa(unsigned long value, int digits, char* buf);
char* pitoa(long value, char* buf, int width);

// Readable forms of a character or key number: 3 hex ("1b "), 4 mnemonic ("<ESC>"),
// 5 control ("^["), 6 key name ("C-UP", "F1", "ALTK"); other modes give "". The text lives in
// one static buffer that the next call overwrites.
const char* chname(int code, int mode);

// Long listings look at the keyboard without waiting: 1 when the user asked to stop (the
// abort key, or ^S followed by the abort key).
int wchkstop();
// Plain, flow-controlled console output for long listings (on), and back (off).
void fastio(int on);

// Names of the control characters 0-31 ("TAB", "XON", "XOF", "EOM" among them).
extern const char* const ascnames[32];
