#pragma once
// Console message formatting. Every message, prompt and listing of the program goes through
// these functions; the console is raw, so every message ends in "\r\n".

int zzprintf(const char* fmt, ...);
int eprintf(const char* fmt, ...);
// Formats an error message and returns 1, so error paths can `return aberr(...)`.
int aberr(const char* fmt, ...);
void outs(const char* text);
// A script error with its position: the line being executed (when a command file runs and
// echo is off), a caret under the scan position, the message; then the evaluator's unwind hook
// (script/lex.h exprunwind), which leaves an expression evaluation in progress.
int numaberr(const char* fmt, const char* arg);
