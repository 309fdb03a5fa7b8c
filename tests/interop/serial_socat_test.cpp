// The serial driver against a pseudo-serial pair made by socat: the driver opens one end, the
// test is the peer on the other, and stty(1) reads the settings the driver left on the device.
#include <gtest/gtest.h>

#include "ports/com.h"
#include "ports/lock.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The words of `stty -a` for the device, e.g. "speed", "2400", "cs8", "-parodd", "ixoff".
std::set<std::string> sttywords(const std::string& dev) {
    std::istringstream in(shell("stty -F " + dev + " -a"));
    std::set<std::string> w;
    for (std::string s; in >> s;) {
        while (!s.empty() && (s.back() == ';' || s.back() == ','))
            s.pop_back();
        w.insert(s);
    }
    return w;
}

class Socat : public ::testing::Test {
  protected:
    TempDir d;
    std::unique_ptr<SocatPair> pair;
    LineOnly line;
    int peer = -1;
    std::string lockname;

    void SetUp() override {
        pair = std::make_unique<SocatPair>(d.path().string());
        ASSERT_TRUE(pair->ok());
        peer = open(pair->b.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(peer, 0);
        termios t{};
        tcgetattr(peer, &t);
        cfmakeraw(&t);
        tcsetattr(peer, TCSANOW, &t);
        fs::create_directory(d.path() / "locks");
        lockpre = (d.path() / "locks").string() + "/LCK..%s";
        lockname = "locks/LCK.." + pair->a.substr(pair->a.rfind('/') + 1);
        exitdtr = 1;
        captureconsole([&] {
            ASSERT_EQ(cominit(pair->a.c_str()), 0);
            ASSERT_EQ(COM->vt(""), 0);
        });
        ASSERT_EQ(COM, &asyfuncs);
    }
    void TearDown() override {
        if (COM != &nulfunc) captureconsole([] { comexit(); });
        if (peer >= 0) close(peer);
    }
    std::string fromline(size_t n) {
        std::string got;
        for (int c; got.size() < n && (c = comwait(5)) >= 0;)
            got += static_cast<char>(c);
        return got;
    }
};

TEST_F(Socat, BinaryBytesPassUnchangedBothWaysAndBreakReachesThePeer) {
    std::string all;
    for (int round = 0; round < 8; round++)
        for (int i = 0; i < 256; i++)
            all += static_cast<char>(i ^ round);
    ASSERT_EQ(
        qcomout(reinterpret_cast<const uint8_t*>(all.data()), static_cast<int>(all.size()), 0),
        static_cast<int>(all.size()));
    EXPECT_EQ(readfor(peer, all.size()), all);
    ASSERT_TRUE(writeall(peer, all));
    EXPECT_EQ(fromline(all.size()), all);
    EXPECT_EQ(COM->brk(), 0);
    EXPECT_EQ(readfor(peer, 1), std::string(1, '\0'));
}

TEST_F(Socat, SettingsAsSttySeesThem) {
    struct Case {
        const char* parms;
        int prot;
        std::vector<std::string> want;
    };
    // A pseudo-terminal always reports cs8 and -parenb (the kernel forces them); speed, stop
    // bits, odd parity and flow control are kept as set.
    const Case cases[] = {
        {"9600,N,8,1", 1, {"9600", "-cstopb", "-parodd", "ixoff", "-ixon", "-crtscts"}},
        {"2400,O,7,2", 0, {"2400", "cstopb", "parodd", "-ixoff", "-ixon", "-crtscts"}},
        {"38,E,7,1", 3, {"38400", "-cstopb", "-parodd", "-ixoff", "-ixon", "crtscts"}},
        {"3,N,8,2", 2, {"300", "cstopb", "-parodd", "-ixoff", "-ixon", "-crtscts"}},
    };
    for (const Case& c : cases) {
        setprot(c.prot);
        ASSERT_EQ(setparms(c.parms), 0);
        auto w = sttywords(pair->a);
        for (const auto& s : c.want)
            EXPECT_TRUE(w.count(s)) << c.parms << ": " << s;
        for (const char* raw :
             {"-icanon", "-echo", "-isig", "-opost", "-icrnl", "clocal", "min", "-hupcl"})
            EXPECT_TRUE(w.count(raw)) << c.parms << ": " << raw;
    }
}

TEST_F(Socat, TranslationChangesExactlyItsBytes) {
    struct Case {
        int amode, addcr, addlf;
        std::vector<std::pair<int, int>> trans; // output translation entries
        std::vector<int> ignore;                // bytes dropped on output
        std::string typed, sent;
    };
    const Case cases[] = {
        {1, 0, 0, {{'a', 'A'}, {'\x80', '?'}}, {'x'}, "abxax\x80\x81", "AbA?\x81"},
        {1, 1, 0, {}, {}, "l1\nl2\r\n", "l1\r\nl2\r\r\n"},
        {1, 0, 1, {}, {}, "l1\rl2\r\n", "l1\r\nl2\r\n\n"},
        {1, 1, 1, {{';', '\n'}}, {'\0'}, std::string("a;b\0c", 5), "a\r\nbc"},
        {0, 1, 1, {{'a', 'A'}}, {'b'}, "ab\r\n", "ab\r\n"}, // ascii mode: nothing changes
    };
    for (const Case& c : cases) {
        settingsreset();
        amode = c.amode, addcr = c.addcr, addlf = c.addlf;
        for (auto [from, to] : c.trans)
            mktrtab(0)[static_cast<uint8_t>(from)] = static_cast<uint8_t>(to);
        for (int b : c.ignore)
            ouigtab[static_cast<uint8_t>(b)] = 1;
        for (char ch : c.typed)
            xcomout(static_cast<uint8_t>(ch));
        EXPECT_EQ(readfor(peer, c.sent.size(), 2), c.sent) << c.typed;
        EXPECT_EQ(readfor(peer, 1, 0.05), "") << c.typed; // nothing more
    }
}

// A port another process holds locked is passed over for the next in the list.
TEST_F(Socat, NextPortWhenTaken) {
    captureconsole([] { comexit(); });
    // socat itself holds the lock: the list goes on to the other end.
    char pid[16];
    snprintf(pid, sizeof pid, "%10d\n", pair->pid());
    d.write(lockname, pid);
    const std::string list = pair->a + ";" + pair->b;
    std::string out = captureconsole([&] { EXPECT_EQ(cominit(list.c_str()), 0); });
    EXPECT_EQ(out, "Device locked: " + pair->a + "\r\n");
    EXPECT_EQ(comline, pair->b);
    captureconsole([] { comexit(); });
    EXPECT_EQ(d.read(lockname), pid);
}

} // namespace
