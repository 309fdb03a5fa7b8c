#pragma once
// Interim declarations of the script-language entry points that start-up and terminal mode
// use. The interpreter's own (docmd, cmdfile, cmdmode, initstr) now come from script/cmd.h and
// script/var.h; what remains here goes when connecting, terminal-mode matching, learn mode,
// script files and windows land with their own headers.

#include "ports/settings.h" // insysfile
#include "script/cmd.h"
#include "script/var.h"

int c_connect(const char* name);
// Waits for strings in terminal mode: dmatch(0, nullptr) resets; a byte returns 1 on a match.
int dmatch(int c, const char* const* list);
void lrncom(int c);
void lrnkey(int k);
void lrnend();
void closeall();
void flushwindow();
