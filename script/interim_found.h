#pragma once
// Interim declarations of the script-language entry points that start-up and terminal mode
// use, until the interpreter lands with its own headers; then this file and interim_found.cpp
// go.

#include "ports/settings.h" // insysfile
// Runs command files: `words` holds `count` file names. The fourth argument is unused.
int cmdfile(int count, char** words, int mode, int unused = 0);
int docmd(const char* line);
int cmdmode();
int c_connect(const char* name);
void initstr();
// Waits for strings in terminal mode: dmatch(0, nullptr) resets; a byte returns 1 on a match.
int dmatch(int c, const char* const* list);
void lrncom(int c);
void lrnkey(int k);
void lrnend();
void closeall();
void flushwindow();
