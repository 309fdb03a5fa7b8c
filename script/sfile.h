#pragma once
// A running command file, read from disk only as far as the interpreter has gone and kept in
// memory with every line split once.
//
// Control flow in command files seeks by file offset (repeat, for, procedures, `on` handlers,
// rewind). Reading the file through stdio meant every turn of a loop read, split and looked up
// its lines again; here each line is cut from the file once (carriage returns dropped, a line
// feed or ^Z ends it, a longer line goes on as the next one), numbered, and kept with what the
// dispatcher learnt about it (its command row), so a seek back is a lookup by offset.
//
// A file larger than SFILEMAX bytes is refused beyond that point (reading stops there, as at
// the end of the file), so a file such as a device that never ends cannot fill memory.
#include "script/lex.h"

#include <cstdio>
#include <string>
#include <unordered_map>

constexpr long SFILEMAX = 8L << 20;

struct ScriptLine {
    std::string text; // at most 255 bytes, no carriage returns
    long next = 0;    // offset of the following line
    int number = 0;   // 1-based line number
    // What the dispatcher found the first time it ran the line (script/cmd.cpp).
    int row = -2;        // command row; -1 unknown word, -2 not looked up yet
    int restoff = 0;     // offset of the argument text
    bool dollar = false; // holds a $: parameter substitution may change the line
};

struct ProcSlot {
    char name[NAMELEN + 1] = {};
    long offset = 0;
};
constexpr int MAXPROCS = 32;

class ScriptFile {
  public:
    // Takes the open stream; `path` is the name it was opened by.
    ScriptFile(FILE* fp, std::string path);
    ~ScriptFile();
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;

    // The line at the current position, advancing past it; nullptr at the end of the file.
    ScriptLine* next();
    long tell() const { return pos_; }
    // Positions at an offset this file handed out through tell() (or 0).
    void seek(long offset);
    // Number of the line next() returned last, or after a seek the line before the position
    // (0 at the start).
    int lineno() const { return lastno_; }
    const std::string& path() const { return path_; }
    bool toolarge() const { return toolarge_; }

    // The procedures whose `proc` line this file has passed.
    ProcSlot procs[MAXPROCS];

  private:
    bool fill(size_t upto); // reads until data_ holds `upto` bytes or the file ends
    FILE* fp_;
    std::string path_;
    std::string data_;
    bool eof_ = false;
    bool toolarge_ = false;
    long pos_ = 0;
    int nextno_ = 1; // number of the line at pos_
    int lastno_ = 0;
    std::unordered_map<long, ScriptLine> lines_;
};
