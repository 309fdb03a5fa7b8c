#pragma once
// libvterm as an independent terminal: the judge of what a console shows. Feed it the bytes the
// program wrote and ask what a person would see. Our own emulator never judges our own screens.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct VTerm;
struct VTermScreen;
struct VTermState;

struct CellView {
    std::string text; // the cell's character as UTF-8 ("" for an empty cell)
    bool bold = false, underline = false, blink = false, reverse = false;
    int fg = -1, bg = -1;       // palette index, -1 for the default colour (or a 24-bit one)
    int rgbfg = -1, rgbbg = -1; // a 24-bit colour as 0xrrggbb, else -1
    bool wideright = false;     // the right half of a double-width character
};

class VtJudge {
  public:
    VtJudge(int rows = 24, int cols = 80);
    ~VtJudge();
    VtJudge(const VtJudge&) = delete;
    VtJudge& operator=(const VtJudge&) = delete;

    void feed(std::string_view bytes);
    // Bytes are UTF-8 (as from a host in a UTF-8 locale), not 8-bit characters.
    void setUtf8(bool on);
    // Row r with trailing blanks removed (UTF-8; a double-width character counts once).
    std::string row(int r) const;
    // All rows joined with '\n', trailing blanks and trailing empty rows removed.
    std::string screen() const;
    bool contains(std::string_view text) const;
    CellView cell(int r, int c) const;
    int cursorRow() const;
    int cursorCol() const;
    // The terminal's window changes size (as a user drags it).
    void resize(int rows, int cols);
    int rows() const { return rows_; }
    // Bytes libvterm sends back (answers to DA, DSR and the like) go here.
    void onReply(std::function<void(std::string_view)> f) { reply_ = std::move(f); }

  private:
    static void outputCb(const char* s, size_t len, void* user);
    VTerm* vt_;
    VTermScreen* vs_;
    VTermState* st_;
    int rows_, cols_;
    std::function<void(std::string_view)> reply_;
};
