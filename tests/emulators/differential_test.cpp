// Byte streams recorded from real programs (scripts/record-streams: vim editing a file, less
// paging, top, dialog boxes, ls --color, a compiler's coloured diagnostics) fed to our VT100
// emulator and to libvterm: the characters of every row and the cursor must agree after each
// stream. The console output our emulator produced is judged too: fed to a second libvterm it
// must show the same screen, so the console shows what memory holds.
//
// Line-drawing cells read back as the letters that designate them (q for a horizontal line),
// so both libvterm pictures have their box-drawing characters mapped back to those letters.
//
// Known, intended difference, applied to libvterm's side before comparing:
//  - The alternate screen (private modes 47, 1047, 1049) is an xterm feature outside the VT100
//    family; those requests are removed from the bytes libvterm is fed.
#include "emu.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

namespace {
std::string withoutAltScreen(const std::string& s) {
    static const std::regex alt("\x1b\\[\\?(47|1047|1049)[hl]");
    return std::regex_replace(s, alt, "");
}

// libvterm's glyphs for the DEC special graphics letters, back to the letters.
std::string decletters(const std::string& row) {
    static const std::map<std::string, char> glyph = {
        {"\u2500", 'q'}, {"\u2502", 'x'}, {"\u250c", 'l'}, {"\u2510", 'k'}, {"\u2514", 'm'},
        {"\u2518", 'j'}, {"\u251c", 't'}, {"\u2524", 'u'}, {"\u2534", 'v'}, {"\u252c", 'w'},
        {"\u253c", 'n'}, {"\u2592", 'a'}, {"\u25c6", '`'}, {"\u00b0", 'f'}, {"\u00b1", 'g'},
        {"\u00b7", '~'}, {"\u2264", 'y'}, {"\u2265", 'z'}, {"\u03c0", '{'}, {"\u2260", '|'},
        {"\u00a3", '}'}, {"\u23ba", 'o'}, {"\u23bb", 'p'}, {"\u23bc", 'r'}, {"\u23bd", 's'},
    };
    std::string out;
    for (size_t i = 0; i < row.size();) {
        unsigned char c = static_cast<unsigned char>(row[i]);
        size_t len = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
        std::string ch = row.substr(i, len);
        auto it = glyph.find(ch);
        out += len == 1 ? ch : it != glyph.end() ? std::string(1, it->second) : "?";
        i += len;
    }
    return out;
}

class Differential : public ::testing::TestWithParam<const char*> {};
} // namespace

TEST_P(Differential, SameCharactersAndCursorAsLibvterm) {
    const std::string bytes = loadstream(GetParam());
    ASSERT_FALSE(bytes.empty()) << GetParam();
    VtJudge reference(24, 80);
    reference.feed(withoutAltScreen(bytes));
    // Byte by byte, and in the blocks the port layer reads as terminal mode hands them over;
    // each block's console output is judged as it comes.
    for (bool blocks : {false, true}) {
        const char* how = blocks ? " in blocks" : " byte by byte";
        Emu emu(EM_VT100);
        VtJudge console(24, 80);
        emu.feedJudged(bytes, blocks, console);
        for (int r = 0; r < 24; r++) {
            EXPECT_EQ(emu.row(r), decletters(reference.row(r)))
                << GetParam() << how << " row " << r;
            EXPECT_EQ(decletters(console.row(r)), emu.row(r))
                << GetParam() << how << " console row " << r;
        }
        EXPECT_EQ(vdestline, reference.cursorRow()) << GetParam() << how;
        EXPECT_EQ(vdestcol, reference.cursorCol()) << GetParam() << how;
    }
}

INSTANTIATE_TEST_SUITE_P(Recorded, Differential,
                         ::testing::Values("vi-edit", "less-page", "top-once", "top-screen",
                                           "ls-color", "dialog-box", "dialog-checklist",
                                           "compile-log"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });
