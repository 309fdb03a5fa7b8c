// What the emulator answers the host, byte for byte: device attributes per emulation, status
// and cursor reports, and the 7- and 8-bit control forms the conformance level chooses.
#include "emu.h"

#include <gtest/gtest.h>

TEST(Replies, DeviceAttributesStatusAndCursorReports) {
    const std::string da220 = "\033[?62;2;6;8;9c", csi8 = "\x9b";
    const struct {
        const char* what;
        int emulation;
        std::string sent, want;
    } cases[] = {
        {"VT100 primary", EM_VT100, "\033[c", "\033[?6c"},
        {"VT100 secondary answers as primary", EM_VT100, "\033[>c", "\033[?6c"},
        {"VT100 ESC Z", EM_VT100, "\033Z", "\033[?6c"},
        {"ANSI primary", EM_ANSI, "\033[c", "\033[?6c"},
        {"SCO-ANSI primary", EM_SCOANSI, "\033[c", "\033[?6c"},
        {"VT220-7 primary", EM_VT2207, "\033[c", da220},
        {"VT220-8 ESC Z", EM_VT2208, "\033Z", da220},
        {"VT220-8 primary by 8-bit CSI", EM_VT2208, csi8 + "c", da220},
        {"VT220-7 secondary", EM_VT2207, "\033[>c", "\033[>1;10;0c"},
        {"VT220-8 secondary", EM_VT2208, "\033[>0c", "\033[>1;10;0c"},
        {"VT220-8 8-bit replies", EM_VT2208, "\033 G\033[c", csi8 + "?62;2;6;8;9c"},
        {"VT220-8 8-bit secondary", EM_VT2208, "\033 G\033[>c", csi8 + ">1;10;0c"},
        {"VT220 back to 7-bit", EM_VT2207, "\033 G\033 F\033[c", da220},
        {"a non-zero request is not answered", EM_VT100, "\033[1c", ""},
        {"DSR 6 after a move", EM_VT100, "\033[5;10H\033[6n", "\033[5;10R"},
        {"DSR 6 clamped to the screen", EM_VT100, "\033[99;999H\033[6n", "\033[24;80R"},
        {"DSR 6 in origin mode", EM_VT100, "\033[5;10r\033[?6h\033[2;3H\033[6n", "\033[2;3R"},
        {"DSR 5 in 8-bit form", EM_VT2208, "\033 G\033[5n", csi8 + "0n"},
        {"DSR 6 in 8-bit form", EM_VT100, "\033 G\033[H\033[6n", csi8 + "1;1R"},
        {"8-bit request is text in VT100", EM_VT100, csi8 + "6n", ""},
        {"printer status", EM_VT2207, "\033[?15n", "\033[?10n"},
        {"user keys unlocked", EM_VT2207, "\033[?25n", "\033[?20n"},
        {"keyboard language", EM_VT2207, "\033[?26n", "\033[?27;1n"},
        {"DSR 5 and 6 in one block", EM_VT100, "\033[5n\033[6n", "\033[0n\033[1;1R"},
        {"level 62 with 8-bit controls", EM_VT2208, "\033[62;0\"p\033[5n", csi8 + "0n"},
        {"level 62;2 also 8-bit", EM_VT2207, "\033[62;2\"p\033[5n", csi8 + "0n"},
        {"level 62;1 stays 7-bit", EM_VT2208, "\033[62;1\"p\033[5n", "\033[0n"},
        {"level 61 back to VT100 mode", EM_VT2208, "\033 G\033[61\"p\033[5n", "\033[0n"},
        {"level ignored outside VT220", EM_VT100, "\033[62\"p\033[5n", "\033[0n"},
    };
    for (const auto& c : cases) {
        Emu emu(c.emulation, "xterm", 25);
        emu.feed(c.sent);
        EXPECT_EQ(emu.takeReplies(), c.want) << c.what;
    }
}
