// Parity masking: the `maskpar` setting belongs to the line's received data. The script command
// sets the setting itself (so a later emulation change keeps it), the 8-bit emulations decide
// the display flag for themselves, and bytes typed at the console are never masked.
#include "emu.h"

#include "script/cmd.h"
#include "script/expr.h"
#include "support/console_fixture.h"

#include <gtest/gtest.h>

TEST(Maskpar, SetCommandKeepsTheSettingAcrossEmulationChanges) {
    const struct {
        int emulation; // in force when the command runs
        const char* cmd;
        int vflag;      // the display flag right after the command
        int then;       // the emulation selected next
        int vflagafter; // the display flag after that
    } cases[] = {
        {EM_VT100, "set maskpar off", 0, EM_ANSI, 0},
        {EM_VT100, "set maskpar on", 1, EM_VT52, 1},
        // An 8-bit emulation keeps its own display flag; the setting waits for the next one.
        {EM_VT2208, "set maskpar on", 0, EM_VT100, 1},
        {EM_SCOANSI, "set maskpar off", 0, EM_TTY, 0},
        // VT220-7 always masks, whatever the setting.
        {EM_VT100, "set maskpar off", 0, EM_VT2207, 1},
    };
    for (const auto& c : cases) {
        Emu emu(c.emulation, "xterm", 25);
        qflag = 1;
        maskpar = 1 - c.vflagafter;
        ASSERT_EQ(docmd(c.cmd), 0) << c.cmd;
        EXPECT_EQ(vmaskpar, c.vflag) << c.cmd << " in " << c.emulation;
        emulate(c.then, 0);
        EXPECT_EQ(vmaskpar, c.vflagafter) << c.cmd << " then " << c.then;
        // The option word the scripts read shows the setting, not the display flag.
        EXPECT_EQ((vornsetbits() & 2) != 0, std::string(c.cmd).ends_with("on")) << c.cmd;
    }
}

TEST(Maskpar, TypedBytesAreNeverMaskedIntoCommandKeys) {
    ConsoleFixture f;
    vmaskpar = 1;
    // "Å" and "₂" in UTF-8: masked, their bytes would be ^E (the command key) and ^B (break).
    f.type("\xc3\x85\xe2\x82\x82");
    int byte = 0;
    for (int want : {0xc3, 0x85, 0xe2, 0x82, 0x82})
        EXPECT_EQ(chwait(&byte), want);
    vmaskpar = 0;
}
