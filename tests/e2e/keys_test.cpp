// Keys typed at the console reach the host as the selected emulation's sequences. The line is
// a pseudo-terminal running this test program itself as a byte dumper: it prints the bytes it
// received in hexadecimal each time a "!" arrives (a byte no key sends), so every key is
// followed by a "!" and judged by the line "K<n>:<hex>;" (n counts the keys). F1..F6 and F9 are
// the program's own command keys, so they reach the host after GOLD (F3), as a user would send
// them. Which key sends what in every mode is pinned by the keyboard's unit test; here a few keys
// of each emulation family go the whole way from the console through the line.
#include "support/harness.h"

#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const std::string& s) {
    std::string out;
    char h[4];
    for (unsigned char c : s) {
        snprintf(h, sizeof h, "%02x", c);
        out += h;
    }
    return out;
}

// The dumper, when this program is started on the line (VORN_KEYDUMP set).
[[noreturn]] void dumpkeys() {
    termios t{};
    if (tcgetattr(0, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(0, TCSANOW, &t);
    }
    const char ready[] = "DUMPER READY\r\n";
    if (write(1, ready, sizeof ready - 1) < 0) _exit(1);
    std::string got;
    int count = 0;
    unsigned char buf[256];
    for (ssize_t n; (n = read(0, buf, sizeof buf)) > 0;) {
        for (ssize_t i = 0; i < n; i++) {
            // Host commands: application cursor and keypad modes on or off, 8-bit replies.
            const char* host = buf[i] == '{'   ? "\033[?1h\033=APP ON\r\n"
                               : buf[i] == '}' ? "\033[?1l\033>NUM ON\r\n"
                               : buf[i] == '`' ? "\033 GC1 ON\r\n"
                                               : nullptr;
            if (host) {
                if (write(1, host, strlen(host)) < 0) _exit(1);
                continue;
            }
            if (buf[i] != '!') {
                got += static_cast<char>(buf[i]);
                continue;
            }
            std::string line = "K" + std::to_string(++count) + ":" + hex(got) + ";\r\n";
            got.clear();
            if (write(1, line.data(), line.size()) < 0) _exit(1);
        }
    }
    _exit(0);
}

const bool isdumper = [] {
    if (std::getenv("VORN_KEYDUMP")) dumpkeys();
    return false;
}();

std::string self() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// The console: an xterm with the keypad transmitting, described by a TERMCAP entry so that
// every key string the keyboard reads is present.
const char* const consoleentry =
    "xterm|key test console:am:co#80:li#25:cl=\\E[H\\E[2J:cm=\\E[%i%d;%dH:ce=\\E[K:cd=\\E[J:"
    "k1=\\EOP:k2=\\EOQ:k3=\\EOR:k4=\\EOS:k5=\\E[15~:k6=\\E[17~:k7=\\E[18~:k8=\\E[19~:"
    "k9=\\E[20~:k;=\\E[21~:F1=\\E[23~:F2=\\E[24~:F3=\\E[1;2P:F4=\\E[1;2Q:F5=\\E[1;2R:"
    "F6=\\E[1;2S:FT=\\E[18;5~:FU=\\E[19;5~:FV=\\E[20;5~:FW=\\E[21;5~:"
    "ku=\\EOA:kd=\\EOB:kr=\\EOC:kl=\\EOD:kh=\\EOH:@7=\\EOF:kI=\\E[2~:kD=\\E[3~:kP=\\E[5~:"
    "kN=\\E[6~:kb=^H:n0=\\EOp:n1=\\EOq:n2=\\EOr:n3=\\EOs:n4=\\EOt:n5=\\EOu:n6=\\EOv:"
    "n7=\\EOw:n8=\\EOx:n9=\\EOy:n-=\\EOm:n,=\\EOl:n.=\\EOn:nr=\\EOM:";

// What xterm sends for each key, as named in the expectations below.
// clang-format off
const std::pair<const char*, const char*> xterm[] = {
    {"F1", "\033OP"}, {"F3", "\033OR"}, {"F4", "\033OS"}, {"F6", "\033[17~"}, {"F7", "\033[18~"},
    {"F10", "\033[21~"}, {"F16", "\033[1;2S"}, {"C-F7", "\033[18;5~"}, {"UP", "\033OA"},
    {"LEFT", "\033OD"}, {"HOME", "\033OH"}, {"DEL", "\033[3~"}, {"KP0", "\033Op"}, {"KP5", "\033Ou"},
    {"KPENTER", "\033OM"}, {"BS", "\b"}, {"5", "5"},
};
// clang-format on

std::string typedbytes(const std::string& key) {
    if (key.rfind("G-", 0) == 0) return typedbytes("F3") + typedbytes(key.substr(2));
    for (const auto& [name, bytes] : xterm)
        if (key == name) return bytes;
    ADD_FAILURE() << "no such key " << key;
    return "";
}

// A key and the bytes the host must get, or "={" (a host command) and the dumper's answer.
struct Expect {
    const char* key;
    const char* host;
};

struct Family {
    const char *letter, *name;
    std::vector<Expect> keys;
};

#define E "\033"
// clang-format off
const Family families[] = {
    {"V", "VT100", {
        {"G-F1", E "OP"}, {"G-F6", ""}, {"F7", ""}, {"UP", E "[A"}, {"BS", "\b"}, {"G-5", "5"},
        {"KP0", "0"}, {"KPENTER", "\r"}, {"={", "APP ON"}, {"UP", E "OA"}, {"KP0", E "Op"},
        {"KPENTER", E "OM"}, {"G-5", E "Ou"}, {"=}", "NUM ON"}, {"UP", E "[A"}, {"KP5", "5"}}},
    {"A", "ANSI", {{"G-F4", E "OS"}, {"F10", ""}, {"LEFT", E "[D"}}},
    {"5", "VT52", {{"G-F1", E "P"}, {"UP", E "A"}, {"HOME", ""}}},
    {"2", "VT220-7", {
        {"G-F6", E "[17~"}, {"F7", E "[18~"}, {"F16", E "[29~"}, {"C-F7", E "[31~"},
        {"HOME", E "[1~"}, {"DEL", E "[3~"}, {"BS", "\177"}}},
    {"8", "VT220-8", {
        {"=`", "C1 ON"}, {"G-F6", "\x9b" "17~"}, {"UP", "\x9b" "A"}, {"={", "APP ON"},
        {"UP", "\x8f" "A"}, {"KPENTER", "\x8fM"}}},
    {"S", "SCOANSI", {
        {"G-F1", E "[M"}, {"F10", E "[V"}, {"F16", E "[b"}, {"C-F7", E "[q"}, {"HOME", E "[H"},
        {"DEL", "\177"}}},
};
// clang-format on

} // namespace

// One run goes through every family; the console has the 25 lines SCO-ANSI needs, and SCO-ANSI
// comes last.
TEST(KeysE2E, EachEmulationFamilySendsItsKeysToTheHost) {
    VornRun run({"-m", "-l", "pty:" + self()},
                {.rows = 25, .env = {{"VORN_KEYDUMP", "1"}, {"TERMCAP", consoleentry}}});
    ASSERT_TRUE(run.waitForOutput("DUMPER READY"));
    int count = 0;
    for (const Family& f : families) {
        run.type(std::string("\x05") + "E" + f.letter);
        ASSERT_TRUE(run.waitFor(std::string("c=>Emulate ") + f.name));
        for (const Expect& e : f.keys) {
            const size_t from = run.output().size();
            if (e.key[0] == '=') {
                run.type(e.key + 1);
                EXPECT_TRUE(run.waitUntil(
                    [&] { return run.output().find(e.host, from) != std::string::npos; }, 5))
                    << f.name << " " << e.host;
                continue;
            }
            run.type(typedbytes(e.key) + "!");
            std::string want = "K" + std::to_string(++count) + ":" + hex(e.host) + ";";
            EXPECT_TRUE(run.waitFor(want, 5)) << f.name << " key " << e.key << " wanted " << want;
        }
    }
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
}

// -a is seen before the key tables are built: a console whose left arrow sends a bare
// backspace then has a left arrow, and the host gets the emulation's cursor key for it.
TEST(KeysE2E, OptionAMakesABareBackspaceTheLeftArrow) {
    const char* const entry = "xterm|bs arrows:am:co#80:li#24:cl=\\E[H\\E[2J:cm=\\E[%i%d;%dH:"
                              "ce=\\E[K:kl=^H:ku=\\EOA:";
    const struct {
        const char* option;
        const char* host; // what the left arrow (a backspace) sends
    } cases[] = {{"-am", "1b5b44"}, {"-v", "08"}};
    for (const auto& c : cases) {
        VornRun run({c.option, "-l", "pty:" + self()},
                    {.env = {{"VORN_KEYDUMP", "1"}, {"TERMCAP", entry}}});
        ASSERT_TRUE(run.waitForOutput("DUMPER READY"));
        run.type("\b!");
        EXPECT_TRUE(run.waitFor(std::string("K1:") + c.host + ";", 5)) << c.option;
    }
}

// With the shipped console descriptions the keypad in application mode, the editing keys and
// typed UTF-8 reach the host as the emulation has them; key strings the description lacks
// (shift-up, another terminal's End) are dropped, never sent raw.
TEST(KeysE2E, ShippedDescriptionsKeypadUnknownKeysAndUtf8) {
    const std::string shipped = std::string(VORN_SOURCE_DIR) + "/data/termcap.qal";
    const struct {
        const char* term;
        const char* end; // what this terminal sends for End
    } terms[] = {{"xterm", "\033OF"}, {"tmux", "\033[4~"}, {"vt100", "\033[4~"}};
    const std::pair<std::string, std::string> keys[] = {
        {"\033Op", "30"},  {"\033Ot", "34"},     {"\033OM", "0d"},
        {"\033Om", "2d"},  {"\033OA", "1b5b41"}, {"\033[1;2A", ""},
        {"\033[200~", ""}, {"\xc3\x85", "c385"}, {"\xe2\x82\x82", "e28282"},
    };
    for (const auto& t : terms) {
        VornRun run({"-v", "-l", "pty:" + self()},
                    {.term = t.term, .env = {{"VORN_KEYDUMP", "1"}, {"TERMCAP", shipped}}});
        ASSERT_TRUE(run.waitForOutput("DUMPER READY")) << t.term;
        int n = 0;
        for (const auto& [typed, host] : keys) {
            run.type(typed + "!");
            EXPECT_TRUE(run.waitFor("K" + std::to_string(++n) + ":" + host + ";", 5))
                << t.term << " " << host;
        }
        // VT100 has no End key: known or not, nothing goes to the host.
        run.type(std::string(t.end) + "!");
        EXPECT_TRUE(run.waitFor("K" + std::to_string(++n) + ":;", 5)) << t.term;
        EXPECT_FALSE(run.judge().contains("c=>")) << t.term; // no byte became the command key
    }
}
