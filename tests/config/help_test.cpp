// The help viewer on an xterm console, judged by libvterm: pages and their heading, links,
// "(continue)"/"(backup)" with bold carried across the page break, the question prompt,
// keeping the page on a miss, the index's limits, and hostile help files.
#include "config/help.h"
#include "config/menu.h"
#include "screen/keyboard.h"
#include "support/emusetup.h"
#include "support/harness.h"
#include "support/vtjudge.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace {

// What the console showed when the typed keys ran out, before the viewer cleared the screen.
struct Shown {
    std::vector<std::string> rows;
    std::vector<std::vector<CellView>> cells;
    std::string row(int r) const { return rows[static_cast<size_t>(r)]; }
    CellView cell(int r, int c) const {
        return cells[static_cast<size_t>(r)][static_cast<size_t>(c)];
    }
    std::string screen() const {
        std::string s;
        for (const auto& r : rows)
            s += r + "\n";
        return s;
    }
};
std::deque<int> keys;
VtJudge* live = nullptr;
Shown judge;
int nextkey() {
    if (!keys.empty()) {
        int k = keys.front();
        keys.pop_front();
        return k;
    }
    oflush();
    judge = Shown{};
    for (int r = 0; r < 24; r++) {
        judge.rows.push_back(live->row(r));
        judge.cells.emplace_back();
        for (int c = 0; c < 80; c++)
            judge.cells.back().push_back(live->cell(r, c));
    }
    return -1; // the viewer is left here
}

// 13-byte index records.
std::string rec(const std::string& key, long off) {
    std::string r(13, '\0');
    r.replace(0, std::min<size_t>(key.size(), 10), key.substr(0, 10));
    r[10] = static_cast<char>(off & 0xff);
    r[11] = static_cast<char>(off >> 8 & 0xff);
    r[12] = static_cast<char>(off >> 16 & 0xff);
    return r;
}

class Help : public ::testing::Test {
  protected:
    void SetUp() override {
        live = &vt;
        emconsole("xterm", [this](const char* s, size_t n) {
            out.append(s, n);
            vt.feed(std::string_view(s, n));
        });
        helpreset();
        helpkeys(nextkey);
        keys.clear();
    }
    void TearDown() override {
        helpreset();
        helpkeys(nullptr);
        setconswriter(nullptr);
    }
    // Writes the help text and an index of (keyword, title of the topic) pairs.
    void files(const std::string& hlp, const std::vector<std::pair<std::string, std::string>>& idx,
               const std::string& extra = "") {
        std::string hdx;
        for (const auto& [k, title] : idx) {
            size_t at = hlp.find("..m " + title);
            ASSERT_NE(at, std::string::npos) << title;
            hdx += rec(k, static_cast<long>(at));
        }
        dir.write("vorn.hlp", hlp);
        dir.write("vorn.hdx", hdx + extra);
        ASSERT_EQ(helpfiles(dir.file("vorn.hlp").c_str(), dir.file("vorn.hdx").c_str()), 1);
    }
    void show(const char* keyword, std::vector<int> typed) {
        long off = -1;
        ASSERT_EQ(findhelp(keyword, off), 1) << keyword;
        keys.assign(typed.begin(), typed.end());
        dohelp(off);
    }
    TempDir dir;
    VtJudge vt;
    std::string out;
};

std::string longtopic() {
    std::string t = "..m Long topic, Right\n..r other\n";
    for (int i = 1; i <= 40; i++) {
        std::string l = "line " + std::to_string(i);
        if (i == 15) l += " \x02starts bold";
        if (i == 18) l += " ends\x02 plain";
        t += l + "\n";
    }
    return t + "..m Other, $\nother text\n";
}

TEST_F(Help, PagesContinueAndBackupKeepBoldAcrossTheBreak) {
    files(longtopic(), {{"long", "Long topic"}, {"other", "Other"}});
    // Items: (continue), other. Page 2: (continue), (backup), other.
    show("long", {13});
    EXPECT_EQ(judge.row(2), "line 17");
    EXPECT_EQ(judge.row(17), "line 32");
    EXPECT_TRUE(judge.cell(2, 0).bold) << "bold goes on over the page break";
    EXPECT_FALSE(judge.cell(3, 13).bold);
    EXPECT_EQ(judge.row(0).substr(0, 10), "Long topic");
    EXPECT_EQ(judge.row(19), "Related | (continue) other") << judge.screen();
    EXPECT_EQ(judge.row(20), "Topics  | (backup)");

    show("long", {13, ' ', 13}); // continue, then backup
    EXPECT_EQ(judge.row(2), "line 1");
    EXPECT_EQ(judge.row(16), "line 15 starts bold") << judge.screen();
    EXPECT_FALSE(judge.cell(16, 0).bold);
    EXPECT_TRUE(judge.cell(16, 8).bold);
    EXPECT_TRUE(judge.cell(17, 0).bold);
    EXPECT_NE(judge.row(0).find("Vorn Online User's Manual"), std::string::npos);
    EXPECT_EQ(judge.row(0).substr(74), "Right");
    EXPECT_EQ(judge.row(19), "Related | (continue)") << "the first page has no (backup)";
    EXPECT_EQ(judge.row(20), "Topics  | other");

    show("long", {13, 13}); // the last page ends with its topic: no (continue)
    EXPECT_EQ(judge.row(2), "line 33");
    EXPECT_EQ(judge.row(9), "line 40");
    EXPECT_EQ(judge.row(10), "");
    EXPECT_EQ(judge.row(19), "Related | (backup)");
    EXPECT_EQ(judge.row(20), "Topics  | other");
}

TEST_F(Help, LinksAreFollowedAndAMissKeepsThePageWithItsHeading) {
    const std::string hlp = "..m First, $\n..r Second\nsee $second, $(the second) or "
                            "$nowhere. Costs $$5; a $ alone; $.\n..m Second, Two\ntext two\n";
    files(hlp, {{"first", "First"}, {"second", "Second"}, {"the second", "Second"}});
    show("first", {});
    EXPECT_EQ(judge.row(2), "see second, the second or nowhere. Costs $5; a $ alone; $.");
    EXPECT_EQ(judge.row(19), "Related | Second");
    show("first", {9, 13}); // the first link
    EXPECT_EQ(judge.row(0).substr(0, 6), "Second");
    show("first", {9, 9, 13}); // the multi-word link
    EXPECT_EQ(judge.row(2), "text two");
    // The third link names no topic: the same page, heading and related topics included.
    show("first", {9, 9, 9, 13});
    EXPECT_EQ(judge.row(0).substr(0, 5), "First");
    EXPECT_EQ(judge.row(2).substr(0, 10), "see second");
    EXPECT_EQ(judge.row(19), "Related | Second");
    EXPECT_TRUE(judge.cell(19, 10).reverse);
}

TEST_F(Help, QuestionsFindTheFirstKnownWord) {
    const std::string hlp = "..m Start, $\nstart text\n..m Capture, Files\ncapture text\n";
    files(hlp, {{"start", "Start"}, {"capture", "Capture"}});
    auto typed = [](const std::string& s) {
        std::vector<int> v{'?'};
        v.insert(v.end(), s.begin(), s.end()); // plain ASCII here
        v.push_back(13);
        return v;
    };
    show("start", typed("help,, Capture"));
    EXPECT_EQ(judge.row(2), "capture text");
    show("start", typed("no such thing"));
    EXPECT_EQ(judge.row(2), "start text");
    EXPECT_EQ(judge.row(23), "I can't find any help for that subject, sorry");
    EXPECT_EQ(judge.row(22).substr(0, 14), "Press [Return]");
}

TEST_F(Help, IndexLookups) {
    std::string hlp = "..m Zero, $\nz\n..m Menu, $\nm\n..m Long, $\nl\n";
    std::string extra;
    for (int i = 0; i < 300; i++)
        extra += rec("k" + std::to_string(i), 0);
    files(hlp, {{"menu", "Menu"}, {"startserve", "Long"}}, extra);
    const long menu = static_cast<long>(hlp.find("..m Menu")),
               lng = static_cast<long>(hlp.find("..m Long"));
    const struct {
        const char* keyword;
        int found;
        long offset;
    } cases[] = {
        {"menu", 1, menu},       {"MENU", 1, menu},   {"\x02me\x02nu", 1, menu},
        {"startserver", 1, lng}, {"startserv", 0, 0}, {"", 1, 0},
        {"xfer@zmode", 1, 0},    {"nothing", 0, 0},   {"k200", 1, 0},
        {"k227", 1, 0},          {"k228", 0, 0},      {"(continue)", 0, 0},
        {"(backup)", 0, 0},      {"Menu@Xfer", 1, 0},
    };
    EXPECT_EQ(menuhelpkey("Connect", "Node name"), "Connec@Node");
    EXPECT_EQ(menuhelpkey("Xfer", "Zmodem"), "Xfer@Zmodem");
    for (const auto& c : cases) {
        long off = -1;
        EXPECT_EQ(findhelp(c.keyword, off), c.found) << c.keyword;
        if (c.found) {
            EXPECT_EQ(off, c.offset) << c.keyword;
        }
    }
}

TEST_F(Help, HostileHelpFiles) {
    // 23 links and 11 related topics: one alert each, the page still shown.
    std::string links = "..m Many, $\n..r a,b,c,d,e,f,g,h,i,j,k\n";
    for (int i = 0; i < 23; i++)
        links += "$l" + std::to_string(i) + (i % 8 == 7 ? "\n" : " ");
    links += std::string(200, 'w') + "\n"; // wider than the screen
    links += "bad \x1b[2J\x1b]0;title\x07 \x9b"
             "31m bytes\n"; // a planted console sequence
    files(links, {{"many", "Many"}});
    show("many", {});
    EXPECT_NE(out.find("\aNT"), std::string::npos);
    EXPECT_EQ(out.find("\aNT"), out.rfind("\aNT"));
    EXPECT_NE(out.find("\aNR"), std::string::npos);
    EXPECT_EQ(judge.row(4), "l16 l17 l18 l19 l20 l21 l22 " + std::string(51, 'w'));
    EXPECT_EQ(judge.row(5), "bad [2J]0;title 31m bytes");
    EXPECT_EQ(judge.row(2).substr(0, 6), "l0 l1 ");

    // Link texts past the page's 256-byte pool: one alert; the page is still shown.
    std::string pool = "..m Pool, $\n";
    for (int i = 0; i < 12; i++)
        pool += "$(" + std::string(25, static_cast<char>('a' + i)) + ")\n";
    files(pool, {{"pool", "Pool"}});
    out.clear();
    show("pool", {});
    EXPECT_EQ(out.find("\aNH"), out.rfind("\aNH"));
    EXPECT_NE(out.find("\aNH"), std::string::npos);
    EXPECT_EQ(judge.row(13), std::string(25, 'l'));

    // Offsets past the end, an index shorter than a record, and a topic that links to itself
    // and is followed over and over: empty pages and the same page, nothing more.
    files("..m Loop, $\n$loop\n", {{"loop", "Loop"}}, rec("past", 0xfffff0) + "abc");
    show("past", {});
    EXPECT_EQ(judge.row(2), "");
    show("loop", std::vector<int>(60, 13));
    EXPECT_EQ(judge.row(2), "loop");
}

TEST_F(Help, MissingFilesAreReportedAndNotLookedForAgain) {
    setenv("VORNDIR", dir.path().c_str(), 1);
    setenv("HOME", "/nonexistent", 1);
    EXPECT_EQ(help("start"), 1);
    dir.write("vorn.hlp", "..m Start, $\ntext\n");
    dir.write("vorn.hdx", rec("start", 0));
    EXPECT_EQ(help("start"), 1);
    size_t first = out.find("VORN system helpfiles not present");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_NE(out.find("VORN system helpfiles not present", first + 1), std::string::npos);
    helpreset();
    out.clear();
    EXPECT_EQ(help("nothing"), 1);
    EXPECT_NE(out.find("Sorry, there's no help for that keyword"), std::string::npos) << out;
}

// The picker in menu mode, as script menus use it: letters pick the entry whose first capital
// they name, arrows move through every entry, and ? is not a question there.
TEST_F(Help, MenuModePicksByLetter) {
    const struct {
        std::vector<int> typed;
        bool chosen;
        const char* text;
    } cases[] = {
        {{'g'}, true, "Get file"},         {{'Q'}, true, "Quit"},
        {{KC_DOWN, 13}, true, "Get file"}, {{KC_UP, 13}, true, "Quit"},
        {{'?', 'x', 27}, false, ""},       {{' ', ' ', ' ', 13}, true, "send File"},
    };
    for (const auto& c : cases) {
        hmenuclear();
        ASSERT_TRUE(hmenuadd("send File", 5, 10, false));
        ASSERT_TRUE(hmenuadd("Get file", 6, 10, false));
        ASSERT_TRUE(hmenuadd("Quit", 7, 10, false));
        EXPECT_FALSE(hmenuadd("late link", 8, 10, true)) << "links come first";
        keys.assign(c.typed.begin(), c.typed.end());
        std::string chosen;
        out.clear();
        EXPECT_EQ(hmenu(0, chosen), c.chosen) << c.text;
        EXPECT_EQ(chosen, c.text);
        if (!c.chosen) {
            EXPECT_NE(out.find('\a'), std::string::npos) << "bell for ? and x";
        }
    }
}

TEST(HelpArgs, AnsweredBeforeTheOptions) {
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{"vorn", "--version"}, 0}, {{"vorn", "--help"}, 0},
        {{"vorn", "-z"}, -1},       {{"vorn"}, -1},
        {{"vorn", "--helpx"}, -1},  {{"vorn", "-z", "--help"}, -1},
    };
    for (const auto& [args, want] : cases) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        testing::internal::CaptureStdout();
        EXPECT_EQ(helpargs(static_cast<int>(argv.size()), argv.data()), want) << args.back();
        std::string text = testing::internal::GetCapturedStdout();
        EXPECT_EQ(text.empty(), want != 0) << args.back();
        EXPECT_TRUE(want ||
                    text.find(args[1] == "--help" ? "Usage: vorn" : "VORN v1") != text.npos);
    }
}

} // namespace
