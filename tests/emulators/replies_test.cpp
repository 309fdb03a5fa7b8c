// What the emulator answers the host, byte for byte: device attributes per emulation, status
// and cursor reports, and the 8-bit control form.
#include "emu.h"

#include <gtest/gtest.h>

namespace {
struct ReplyCase {
    const char* what;
    int emulation;
    const char* sent;
    std::string want;
};

void check(const ReplyCase& c) {
    Emu emu(c.emulation, "xterm", 25);
    emu.feed(c.sent);
    EXPECT_EQ(emu.takeReplies(), c.want) << c.what;
}
} // namespace

TEST(Replies, DeviceAttributesPerEmulation) {
    const std::string da220 = "\033[?62;2;6;8;9c";
    const ReplyCase cases[] = {
        {"VT100 primary", EM_VT100, "\033[c", "\033[?6c"},
        {"VT100 primary with 0", EM_VT100, "\033[0c", "\033[?6c"},
        {"VT100 secondary answers as primary", EM_VT100, "\033[>c", "\033[?6c"},
        {"VT100 ESC Z", EM_VT100, "\033Z", "\033[?6c"},
        {"ANSI primary", EM_ANSI, "\033[c", "\033[?6c"},
        {"SCO-ANSI primary", EM_SCOANSI, "\033[c", "\033[?6c"},
        {"VT220-7 primary", EM_VT2207, "\033[c", da220},
        {"VT220-8 primary", EM_VT2208, "\033[c", da220},
        {"VT220-7 secondary", EM_VT2207, "\033[>c", "\033[>1;10;0c"},
        {"VT220-8 secondary", EM_VT2208, "\033[>0c", "\033[>1;10;0c"},
        {"VT220-8 primary by 8-bit CSI", EM_VT2208,
         "\x9b"
         "c",
         da220},
        {"VT220-8 ESC Z", EM_VT2208, "\033Z", da220},
        {"VT220-8 8-bit replies", EM_VT2208, "\033 G\033[c", "\x9b?62;2;6;8;9c"},
        {"VT220-8 8-bit secondary", EM_VT2208, "\033 G\033[>c", "\x9b>1;10;0c"},
        {"VT220 back to 7-bit", EM_VT2207, "\033 G\033 F\033[c", da220},
        {"a non-zero request is not answered", EM_VT100, "\033[1c", ""},
    };
    for (const ReplyCase& c : cases)
        check(c);
}

TEST(Replies, StatusAndCursorReports) {
    const ReplyCase cases[] = {
        {"DSR 5", EM_VT100, "\033[5n", "\033[0n"},
        {"DSR 6 at home", EM_VT100, "\033[H\033[6n", "\033[1;1R"},
        {"DSR 6 after a move", EM_VT100, "\033[5;10H\033[6n", "\033[5;10R"},
        {"DSR 6 clamped to the screen", EM_VT100, "\033[99;999H\033[6n", "\033[24;80R"},
        {"DSR 6 after text", EM_ANSI, "\033[2;1Habc\033[6n", "\033[2;4R"},
        {"DSR 6 in origin mode", EM_VT100, "\033[5;10r\033[?6h\033[2;3H\033[6n", "\033[2;3R"},
        {"DSR 5 in 8-bit form", EM_VT2208, "\033 G\033[5n",
         "\x9b"
         "0n"},
        {"DSR 6 in 8-bit form", EM_VT100, "\033 G\033[H\033[6n",
         "\x9b"
         "1;1R"},
        {"8-bit request in VT220-8", EM_VT2208,
         "\x9b"
         "6n",
         "\033[1;1R"},
        {"8-bit request is text in VT100", EM_VT100,
         "\x9b"
         "6n",
         ""},
        {"printer status", EM_VT2207, "\033[?15n", "\033[?10n"},
        {"user keys unlocked", EM_VT2207, "\033[?25n", "\033[?20n"},
        {"keyboard language", EM_VT2207, "\033[?26n", "\033[?27;1n"},
        {"several in one block", EM_VT100, "\033[5n\033[6n", "\033[0n\033[1;1R"},
    };
    for (const ReplyCase& c : cases)
        check(c);
}

TEST(Replies, ConformanceLevelChoosesTheReplyForm) {
    const ReplyCase cases[] = {
        {"62 with 8-bit controls", EM_VT2208, "\033[62;0\"p\033[5n",
         "\x9b"
         "0n"},
        {"62;2 also 8-bit", EM_VT2207, "\033[62;2\"p\033[5n",
         "\x9b"
         "0n"},
        {"62;1 stays 7-bit", EM_VT2208, "\033[62;1\"p\033[5n", "\033[0n"},
        {"61 back to VT100 mode", EM_VT2208, "\033 G\033[61\"p\033[5n", "\033[0n"},
        {"not a VT220: ignored", EM_VT100, "\033[62\"p\033[5n", "\033[0n"},
    };
    for (const ReplyCase& c : cases)
        check(c);
}

TEST(Replies, SplitAtEveryByteTheAnswerIsTheSame) {
    const std::string req = "\033[12;34H\033[6n";
    for (size_t cut = 0; cut <= req.size(); cut++) {
        Emu emu(EM_VT100);
        emu.feed(req.substr(0, cut));
        emu.feed(req.substr(cut));
        EXPECT_EQ(emu.takeReplies(), "\033[12;34R") << cut;
    }
}

TEST(Replies, ScoAnsiNeedsTwentyFiveRows) {
    Emu emu(EM_VT100, "xterm", 24);
    emulate(EM_SCOANSI, 0);
    EXPECT_EQ(vemode & ~1, EM_VT100);
    EXPECT_EQ(emu.row(0), "Screen must have at least 25 lines");
    EXPECT_EQ(vdestline, 1);
}
