// The menu tree: choice words split at any run of blanks, hot keys by the first character
// that is not a lower-case letter (the first choice keeps a shared key), and every action
// names a menu or a handler that exists.
#include "config/menu.h"

#include <gtest/gtest.h>

#include <string>

TEST(MenuTree, WordsAndHotKeys) {
    // clang-format off
    const struct { int menu; int count; const char* keys; } rows[] = {
        {0, 9, "TSCXGHEMQ"},
        {3, 10, "VW\0MXYZKUL"},   // Vorn5 shares V with VornCRC: no key of its own; no T
        {4, 9, "VW\0MXYZKD"},
        {2, 3, "NCA"},
        {16, 3, "FCO"},
    };
    // clang-format on
    for (const auto& r : rows) {
        const MenuDef* m = menudef(r.menu);
        ASSERT_NE(m, nullptr);
        std::string words[12];
        int keys[12], starts[12], n = 0;
        menuwords(m->choices, words, keys, n, 12, starts);
        EXPECT_EQ(n, r.count) << m->title;
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(keys[i], static_cast<unsigned char>(r.keys[i]))
                << m->title << " " << words[i];
            EXPECT_EQ(std::string(m->choices + starts[i], words[i].size()), words[i]);
        }
    }
}

TEST(MenuTree, EveryActionLeadsSomewhere) {
    for (int i = 0; i < NMENUS; i++) {
        const MenuDef* m = menudef(i);
        if (!m) {
            EXPECT_TRUE(i >= 9 && i <= 15) << i;
            continue;
        }
        std::string words[12];
        int keys[12], n = 0;
        menuwords(m->choices, words, keys, n, 12);
        for (int c = 0; c < n; c++) {
            const int a = m->actions[c];
            EXPECT_TRUE(a == -1 || a == -3 || a <= -4 || menudef(a)) << m->title << " " << words[c];
            EXPECT_NE(std::string(m->helps[c]), "");
        }
    }
}
