// Keys typed at the console reach the host as the selected emulation's sequences. The line is
// a pseudo-terminal running this test program itself as a byte dumper: it prints the bytes it
// received in hexadecimal each time a "!" arrives (a byte no key sends), so every key is
// followed by a "!" and judged by the line "K<n>:<hex>;" (n counts the keys). F1..F6 and F9 are the
// program's own command keys, so they reach the host after GOLD (F3), as a user would send them.
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
            std::string line = "K" + std::to_string(++count) + ":";
            char hex[4];
            for (unsigned char c : got) {
                snprintf(hex, sizeof hex, "%02x", c);
                line += hex;
            }
            line += ";\r\n";
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

std::string hex(const std::string& s) {
    std::string out;
    char h[4];
    for (unsigned char c : s) {
        snprintf(h, sizeof h, "%02x", c);
        out += h;
    }
    return out;
}

// The console: an xterm with the keypad transmitting, described by a TERMCAP entry so that
// every key string the keyboard reads is present.
const char* const consoleentry =
    "xterm|key test console:am:co#80:li#24:cl=\\E[H\\E[2J:cm=\\E[%i%d;%dH:ce=\\E[K:cd=\\E[J:"
    "k1=\\EOP:k2=\\EOQ:k3=\\EOR:k4=\\EOS:k5=\\E[15~:k6=\\E[17~:k7=\\E[18~:k8=\\E[19~:"
    "k9=\\E[20~:k;=\\E[21~:F1=\\E[23~:F2=\\E[24~:F3=\\E[1;2P:F4=\\E[1;2Q:F5=\\E[1;2R:"
    "F6=\\E[1;2S:FT=\\E[18;5~:FU=\\E[19;5~:FV=\\E[20;5~:FW=\\E[21;5~:"
    "ku=\\EOA:kd=\\EOB:kr=\\EOC:kl=\\EOD:kh=\\EOH:@7=\\EOF:kI=\\E[2~:kD=\\E[3~:kP=\\E[5~:"
    "kN=\\E[6~:kb=^H:n0=\\EOp:n1=\\EOq:n2=\\EOr:n3=\\EOs:n4=\\EOt:n5=\\EOu:n6=\\EOv:"
    "n7=\\EOw:n8=\\EOx:n9=\\EOy:n-=\\EOm:n,=\\EOl:n.=\\EOn:nr=\\EOM:";

// What xterm sends for each key, as named in the expectations below.
struct Typed {
    const char* key;
    const char* bytes;
};
// clang-format off
const Typed xterm[] = {
    {"F1", "\033OP"}, {"F2", "\033OQ"}, {"F3", "\033OR"}, {"F4", "\033OS"},
    {"F6", "\033[17~"}, {"F7", "\033[18~"}, {"F8", "\033[19~"}, {"F9", "\033[20~"},
    {"F10", "\033[21~"}, {"F11", "\033[23~"}, {"F12", "\033[24~"}, {"F13", "\033[1;2P"},
    {"F14", "\033[1;2Q"}, {"F15", "\033[1;2R"}, {"F16", "\033[1;2S"},
    {"C-F7", "\033[18;5~"}, {"C-F8", "\033[19;5~"}, {"C-F9", "\033[20;5~"}, {"C-F10", "\033[21;5~"},
    {"UP", "\033OA"}, {"DOWN", "\033OB"}, {"RIGHT", "\033OC"}, {"LEFT", "\033OD"},
    {"HOME", "\033OH"}, {"END", "\033OF"}, {"INS", "\033[2~"}, {"DEL", "\033[3~"},
    {"PGUP", "\033[5~"}, {"PGDN", "\033[6~"},
    {"KP0", "\033Op"}, {"KP5", "\033Ou"}, {"KP9", "\033Oy"}, {"KP-", "\033Om"}, {"KP,", "\033Ol"},
    {"KP.", "\033On"}, {"KPENTER", "\033OM"}, {"BS", "\b"}, {"DELCHAR", "\177"}, {"5", "5"},
};
// clang-format on

std::string typedbytes(const std::string& key) {
    if (key.rfind("G-", 0) == 0) return typedbytes("F3") + typedbytes(key.substr(2));
    for (const Typed& t : xterm)
        if (key == t.key) return t.bytes;
    ADD_FAILURE() << "no such key " << key;
    return "";
}

struct Expect {
    const char* key;
    const char* host;
};

void check(const std::string& letter, const std::string& name, const std::vector<Expect>& keys,
           int rows = 24) {
    RunOptions opt;
    opt.rows = rows;
    std::string entry = consoleentry;
    entry.replace(entry.find("li#24"), 5, "li#" + std::to_string(rows));
    opt.env = {{"VORN_KEYDUMP", "1"}, {"TERMCAP", entry}};
    VornRun run({"-l", "pty:" + self()}, opt);
    ASSERT_TRUE(run.waitForOutput("DUMPER READY"));
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("E" + letter);
    ASSERT_TRUE(run.waitFor("c=>Emulate " + name));
    int count = 0;
    for (const Expect& e : keys) {
        if (e.key[0] == '=') { // a host command: "={" and what the dumper answers
            run.type(e.key + 1);
            EXPECT_TRUE(run.waitFor(e.host, 5)) << e.host;
            continue;
        }
        run.type(typedbytes(e.key) + "!");
        std::string want = "K" + std::to_string(++count) + ":" + hex(e.host) + ";";
        EXPECT_TRUE(run.waitFor(want, 5)) << "key " << e.key << " wanted " << want;
    }
    run.type("\x05");
    ASSERT_TRUE(run.waitFor("c=>"));
    run.type("q");
    EXPECT_EQ(run.wait(), 0);
}

#define E "\033"

// Keys no emulation of the DEC family leaves out.
const std::vector<Expect> numkeypad = {
    {"KP0", "0"}, {"KP5", "5"}, {"KP9", "9"},      {"KP-", "-"},
    {"KP,", ","}, {"KP.", "."}, {"KPENTER", "\r"},
};

std::vector<Expect> with(std::vector<Expect> a, const std::vector<Expect>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(KeysE2E, Vt100) {
    check("V", "VT100",
          with({{"G-F1", E "OP"}, {"G-F2", E "OQ"}, {"G-F3", E "OR"},  {"G-F4", E "OS"},
                {"G-F6", ""},     {"F7", ""},       {"F12", ""},       {"C-F7", ""},
                {"UP", E "[A"},   {"DOWN", E "[B"}, {"RIGHT", E "[C"}, {"LEFT", E "[D"},
                {"HOME", ""},     {"END", ""},      {"INS", ""},       {"DEL", ""},
                {"PGUP", ""},     {"PGDN", ""},     {"BS", "\b"},      {"DELCHAR", "\177"},
                {"G-5", "5"},     {"G-KP5", ""}},
               numkeypad));
}

TEST(KeysE2E, Ansi) {
    check("A", "ANSI",
          with({{"G-F1", E "OP"},
                {"G-F4", E "OS"},
                {"F10", ""},
                {"UP", E "[A"},
                {"LEFT", E "[D"},
                {"PGDN", ""},
                {"BS", "\b"}},
               numkeypad));
}

TEST(KeysE2E, Vt52) {
    check("5", "VT52",
          with({{"G-F1", E "P"},
                {"G-F2", E "Q"},
                {"G-F3", E "R"},
                {"G-F4", E "S"},
                {"F7", ""},
                {"UP", E "A"},
                {"DOWN", E "B"},
                {"RIGHT", E "C"},
                {"LEFT", E "D"},
                {"HOME", ""},
                {"PGUP", ""},
                {"BS", "\b"}},
               numkeypad));
}

const std::vector<Expect> vt220keys = {
    {"G-F1", E "OP"},    {"G-F4", E "OS"},   {"G-F6", E "[17~"}, {"F7", E "[18~"},
    {"F8", E "[19~"},    {"G-F9", E "[20~"}, {"F10", E "[21~"},  {"F11", E "[23~"},
    {"F12", E "[24~"},   {"F13", E "[25~"},  {"F14", E "[26~"},  {"F15", E "[28~"},
    {"F16", E "[29~"},   {"C-F7", E "[31~"}, {"C-F8", E "[32~"}, {"C-F9", E "[33~"},
    {"C-F10", E "[34~"}, {"UP", E "[A"},     {"DOWN", E "[B"},   {"RIGHT", E "[C"},
    {"LEFT", E "[D"},    {"HOME", E "[1~"},  {"INS", E "[2~"},   {"DEL", E "[3~"},
    {"END", E "[4~"},    {"PGUP", E "[5~"},  {"PGDN", E "[6~"},  {"BS", "\177"},
    {"DELCHAR", "\177"},
};

TEST(KeysE2E, Vt220SevenBit) {
    check("2", "VT220-7", with(vt220keys, numkeypad));
}

// clang-format off
TEST(KeysE2E, ScoAnsi) {
    check("S", "SCOANSI",
          with({{"G-F1", E "[M"}, {"G-F4", E "[P"}, {"G-F6", E "[R"}, {"F10", E "[V"},
                {"F12", E "[X"},  {"F13", E "[Y"},  {"F16", E "[b"},  {"C-F7", E "[q"},
                {"UP", E "[A"},   {"LEFT", E "[D"}, {"HOME", E "[H"}, {"END", E "[F"},
                {"INS", E "[L"},  {"DEL", "\177"},  {"PGUP", E "[I"}, {"PGDN", E "[G"},
                {"BS", "\b"}},
               numkeypad),
          25); // SCO-ANSI needs a 25-line screen
}

TEST(KeysE2E, Vt100ApplicationModes) {
    check("V", "VT100",
          {{"={", "APP ON"}, {"UP", E "OA"},  {"DOWN", E "OB"}, {"RIGHT", E "OC"},
           {"LEFT", E "OD"}, {"KP0", E "Op"}, {"KP5", E "Ou"},  {"KP9", E "Oy"},
           {"KP-", E "Om"},  {"KP,", E "Ol"}, {"KP.", E "On"},  {"KPENTER", E "OM"},
           {"G-5", E "Ou"},  {"=}", "NUM ON"}, {"UP", E "[A"},  {"KP5", "5"}});
}

TEST(KeysE2E, Vt220EightBit) {
    check("8", "VT220-8",
          {{"=`", "C1 ON"},          {"G-F1", "\x8fP"},        {"G-F4", "\x8fS"},
           {"G-F6", "\x9b" "17~"},   {"F10", "\x9b" "21~"},    {"F16", "\x9b" "29~"},
           {"C-F10", "\x9b" "34~"},  {"UP", "\x9b" "A"},       {"LEFT", "\x9b" "D"},
           {"HOME", "\x9b" "1~"},    {"PGDN", "\x9b" "6~"},    {"KP5", "5"},
           {"BS", "\177"},           {"={", "APP ON"},         {"UP", "\x8f" "A"},
           {"KP5", "\x8fu"},         {"KPENTER", "\x8fM"}});
}
// clang-format on
