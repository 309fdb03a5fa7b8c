// The key map as console key decoding serves it: macros, "@@" commands and `on key` markers.
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/trans.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "support/console_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class KeyMap : public ::testing::Test {
  protected:
    ConsoleFixture f{false};
    void SetUp() override {
        keyreset();
        ASSERT_EQ(traddstr(itrans, "\033OP", {KC_F1}), 1);
    }
    void TearDown() override {
        keyreset();
        trinit(itrans, iqueue);
        flevel = inoncmd = ev_key = 0;
        ev_keyseek = 0;
    }
    // Keys read until none is ready: pending macro entries first, then decoded keys.
    std::vector<int> keys() {
        std::vector<int> v;
        for (int k; (k = consp >= 0 && consp < 80 && consbuf[consp] ? chrin() : chrdynh());)
            v.push_back(k);
        return v;
    }
};

using V = std::vector<int>;

TEST_F(KeyMap, UnmappedKeysMacrosWithTheCommandKeyAndLiteralsAndCommandStrings) {
    f.type("\033OPx");
    EXPECT_EQ(keys(), (V{KC_F1, 'x'}));
    defkey(KC_F1, "ab@\\@c", 0);
    f.type("\033OP");
    EXPECT_EQ(keys(), (V{'a', 'b', cmdchar, '@', 'c'}));
    defkey(KC_F1, "@@nosuchcommand", 0); // runs as a script command
    gerrno = 0;
    f.type("\033OP");
    EXPECT_EQ(chrdy(), 0);
    EXPECT_NE(gerrno, 0);
}

TEST_F(KeyMap, EventMarkerRaisesTheKeyEventOnlyInTheTopLevelFile) {
    defkey(KC_F1, nullptr, 1234);
    struct {
        int level, inon;
        int key;   // what the read gives
        int event; // ev_key afterwards
    } cases[] = {{0, 0, KC_F1, 0}, {1, 0, 0, 1}, {1, 1, KC_F1, 0}, {2, 0, KC_F1, 0}};
    for (const auto& c : cases) {
        flevel = c.level, inoncmd = c.inon, ev_key = 0, ev_keyseek = 0;
        f.type("\033OP");
        EXPECT_EQ(chrdy(), c.key) << c.level << c.inon;
        EXPECT_EQ(ev_key, c.event);
        EXPECT_EQ(ev_keyseek, c.event ? 1234 : 0);
    }
}

} // namespace
