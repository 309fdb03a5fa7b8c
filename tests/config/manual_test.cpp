// The shipped manual against the program: every script command, setting, escape letter and
// command-line option has a topic the index reaches, and the man page made from the same text
// renders without a warning.
#include "core/start.h"

#include "script/settab.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string source(const std::string& file) {
    return slurp(std::string(VORN_SOURCE_DIR) + "/" + file);
}

// The text between `from` and the first `to` after it.
std::string between(const std::string& text, const std::string& from, const std::string& to) {
    size_t a = text.find(from);
    if (a == std::string::npos) return "";
    size_t b = text.find(to, a);
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

std::vector<std::string> quoted(const std::string& text, const std::string& pattern) {
    std::vector<std::string> out;
    std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it)
        out.push_back((*it)[1]);
    return out;
}

// What the program offers today, read from the tables that define it. When the settings and
// the command table get iteration functions, these become calls to them.
std::vector<std::string> commandnames() {
    return quoted(between(source("script/cmd.cpp"), "const CmdRow cmds[] = {", "{nullptr"),
                  R"x(\{"([^"]+)",)x");
}
// The settings table's `set` options; the setting commands are in the command table.
std::vector<std::string> settingnames() {
    std::vector<std::string> out;
    for (const Setting& s : settingstable())
        if (s.flags & SF_SET) out.push_back(std::string("set ") + s.name);
    return out;
}
std::vector<std::string> escapeletters() {
    std::vector<std::string> out;
    std::string body =
        between(source("core/escape.cpp"), "After dispatch(int c) {", "void escape()");
    for (const auto& c : quoted(body, R"x(case '(.)':)x"))
        out.push_back(std::string("^e ") + static_cast<char>(std::tolower(c[0])));
    if (body.find("case 26:") != std::string::npos) out.push_back("^e ^z");
    return out;
}
std::vector<std::string> optionletters() {
    std::vector<std::string> out;
    for (const char* p = VORN_OPTIONS; *p; p++)
        if (*p != ':') out.push_back(std::string("-") + *p);
    return out;
}

// The manual: the keywords the viewer searches (the index's first 230 records) and, for each
// topic reached by one of them, the names it documents.
std::set<std::string> documented() {
    std::string hdx = slurp(std::string(VORN_DATA_OUT) + "/vorn.hdx");
    std::set<long> reached;
    std::set<std::string> names;
    for (size_t r = 0; r + 13 <= hdx.size() && r < 230 * 13; r += 13) {
        std::string key = hdx.substr(r, 10).c_str();
        names.insert(key);
        reached.insert(static_cast<unsigned char>(hdx[r + 10]) |
                       static_cast<unsigned char>(hdx[r + 11]) << 8 |
                       static_cast<long>(static_cast<unsigned char>(hdx[r + 12])) << 16);
    }
    std::string hlp = slurp(std::string(VORN_DATA_OUT) + "/vorn.hlp");
    long topic = -1;
    for (size_t pos = 0; pos < hlp.size();) {
        size_t end = hlp.find('\n', pos);
        if (end == std::string::npos) end = hlp.size();
        std::string line = hlp.substr(pos, end - pos);
        if (line.rfind("..m", 0) == 0) topic = static_cast<long>(pos);
        if (line.rfind(".x ", 0) == 0 && reached.count(topic)) {
            std::stringstream words(line.substr(3));
            std::string w;
            while (std::getline(words, w, ',')) {
                w.erase(0, w.find_first_not_of(' '));
                names.insert(w);
            }
        }
        pos = end + 1;
    }
    return names;
}

TEST(Manual, EveryCommandSettingEscapeLetterAndOptionHasATopic) {
    const std::set<std::string> manual = documented();
    const struct {
        const char* what;
        std::vector<std::string> names;
        size_t atleast; // guards the readers above against a table they no longer find
    } tables[] = {
        {"command", commandnames(), 150},
        {"setting", settingnames(), 25},
        {"escape letter", escapeletters(), 25},
        {"option", optionletters(), 24},
    };
    for (const auto& t : tables) {
        EXPECT_GE(t.names.size(), t.atleast) << t.what;
        for (std::string n : t.names) {
            for (char& c : n)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_TRUE(manual.count(n) || manual.count(n.substr(0, 10)))
                << "no help topic for the " << t.what << " \"" << n << "\"";
        }
    }
}

TEST(Manual, ManPageRendersWithoutWarnings) {
    const std::string page = std::string(VORN_DATA_OUT) + "/vorn.1";
    const std::string errs = page + ".warnings";
    const std::string cmd =
        "MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -l '" + page + "' 2>'" + errs + "'";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        text.append(buf, n);
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(slurp(errs), "");
    std::remove(errs.c_str());
    // Every topic of the help text is a section of the page.
    std::string hlp = slurp(std::string(VORN_DATA_OUT) + "/vorn.hlp");
    for (const auto& title : quoted(hlp, R"x(\n\.\.m ([^,\n]+))x")) {
        std::string upper = title;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_NE(text.find("\n" + upper + "\n"), std::string::npos) << title;
    }
    EXPECT_NE(text.find("vorn --help | --version"), std::string::npos);
}

} // namespace
