// The service directory: where service.sys is looked for and which copies are trusted, how
// its lines are read (case, comments, type letters, over-long lines), the prompts, port
// lists and retries.
#include "core/start.h"
#include "ports/com.h"
#include "ports/service.h"
#include "ports/telnet.h"
#include "script/cmds.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

namespace {
// HOME, VORNDIR and the current directory each a fresh directory.
struct Dirs {
    TempDir home, vorndir, cwd;
    EnvGuard h{"HOME", home.path().c_str()};
    EnvGuard v{"VORNDIR", vorndir.path().c_str()};
    CwdGuard c{cwd.path()};
};

const std::string directory = "! myhost N telnet:commented.example\n"
                              "   myhost N telnet:host.example extra words\n"
                              "modem d /dev/ttyS1\n"
                              "box n telnet\n"
                              "default D pty\n"
                              "weird X nul:\n"
                              "crlf N telnet:dos.example\r\n"
                              "!" +
                              std::string(300, 'a') +
                              " evil N telnet:attacker\n"
                              "last N telnet:tail.example";
} // namespace

TEST(ServiceDirectory, LinesCaseTypesAndOverlongLines) {
    Dirs d;
    d.home.write("service.sys", directory);
    ConsoleFixture fx(false);
    // name; transport, node, result (not interactive).
    // clang-format off
    const std::tuple<const char*, const char*, const char*, int> cases[] = {
        {"myhost", "telnet", "host.example", 1},  {"MYHOST", "telnet", "host.example", 1},
        {"modem", "/dev/ttyS1", "", 1},            {"box", "telnet", "", 0},
        {"weird", "nul", "", 1},                   {"crlf", "telnet", "dos.example", 1},
        {"last", "telnet", "tail.example", 1},     {"evil", "evil", "", 1},
        {":somewhere", "pty", "somewhere", 1},     {"telnet:otherhost", "telnet", "otherhost", 1},
        {"myhost:", "telnet", "host.example", 1},  {"myhost:other", "telnet", "other", 1},
    };
    // clang-format on
    for (auto [name, transport, node, result] : cases) {
        std::string t, n;
        EXPECT_EQ(getservice(name, t, n, 0), result) << name;
        EXPECT_EQ(t + "|" + n, std::string(transport) + "|" + node) << name;
    }
    EXPECT_HAS(fx.output(), "line 8: line too long\r\n");
    // -s line parameters become the node of a device service, even one with its own node.
    parmptr = "9600";
    std::string t, n;
    EXPECT_EQ(getservice("modem", t, n, 0), 1);
    EXPECT_EQ(n, "9600");
    parmptr.clear();
}

TEST(ServiceDirectory, HomeThenVorndirNeverTheCurrentDirectoryAndOnlyTrustedFiles) {
    // Which directories hold a service.sys (h home, v VORNDIR, c current), which of them is
    // writable by the group; the node the name "myhost" gets ("" when not found).
    // clang-format off
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"hvc", "", "home"}, {"vc", "", "vorndir"}, {"c", "", ""},
        {"hv", "h", "vorndir"}, {"hv", "hv", ""},
    };
    // clang-format on
    for (auto [where, loose, expect] : cases) {
        Dirs d;
        const std::tuple<char, const TempDir*, const char*> places[] = {
            {'h', &d.home, "home"}, {'v', &d.vorndir, "vorndir"}, {'c', &d.cwd, "cwd"}};
        for (auto [letter, dir, node] : places) {
            if (!std::strchr(where, letter)) continue;
            dir->write("service.sys", std::string("myhost N telnet:") + node + "\n");
            chmod(dir->file("service.sys").c_str(), std::strchr(loose, letter) ? 0664 : 0644);
        }
        ConsoleFixture fx(false);
        std::string t, n;
        getservice("myhost", t, n, 0);
        EXPECT_EQ(n, expect) << where << " " << loose;
        if (*loose) {
            EXPECT_HAS(fx.output(), "can be written by other users: not used") << where;
        }
    }
}

TEST(ServicePrompts, NodeAndNamePromptsEmptyAnswersAndEndOfFile) {
    Dirs d;
    d.home.write("service.sys", directory);
    // typed; the node read, result.
    const std::tuple<const char*, const char*, int> cases[] = {
        {"h1\r", "h1", 1}, {"\r", "", 0}, {"\x04", "", 0}};
    for (auto [typed, node, result] : cases) {
        ConsoleFixture fx; // ^D only cancels while a line is open
        fx.type(typed);
        std::string t, n;
        EXPECT_EQ(getservice("box", t, n, 1), result) << typed;
        EXPECT_EQ(n, node);
        EXPECT_HAS(fx.output(), "Connect to Nodename:");
        servicereset();
    }
    ConsoleFixture fx(false);
    fx.type("\r");
    EXPECT_EQ(connservice("", 1), 0);
    EXPECT_EQ(connservice("", 0), -1);
    fx.type("\r\r\r");
    EXPECT_EQ(try3conn(nullptr), -1);
    std::string out = fx.output();
    size_t asked = 0;
    for (size_t p = 0; (p = out.find("Connect to: ", p)) != std::string::npos; p++)
        asked++;
    EXPECT_EQ(asked, 4u) << out;
}

TEST(ServicePortLists, DevicesWholeAddressesOneByOne) {
    ConsoleFixture fx(false);
    // A list of device names goes to the port layer whole.
    EXPECT_EQ(connservice("x1;x2", 0), -1);
    EXPECT_HAS(fx.output(), "All VORN devices busy: x1;x2\r\n");
    // A list of addresses is tried member by member: the second one listens.
    int pa;
    {
        Listener a;
        pa = a.port; // nothing listens there any more
    }
    Listener b;
    ASSERT_GE(b.fd, 0);
    const int pb = b.port;
    portlist = "telnet:127.0.0.1:" + std::to_string(pa) + ";telnet:127.0.0.1:" + std::to_string(pb);
    connected = 0; // as at start-up, before any line was asked for
    EXPECT_EQ(chkconnect(), 0);
    EXPECT_EQ(curnodename, "127.0.0.1:" + std::to_string(pb));
    EXPECT_HAS(fx.output(), "Can't connect to 127.0.0.1:" + std::to_string(pa));
    EXPECT_EQ(chkconnect(), 0); // connected: nothing to do
    comexit();
    portlist.clear();
}

TEST(ServiceConnect, TheConnectCommandTakesServicesAndAddresses) {
    Dirs d;
    Listener l;
    ASSERT_GE(l.fd, 0);
    std::string port = std::to_string(l.port);
    d.home.write("service.sys", "loop N telnet:127.0.0.1:" + port + "\n");
    ConsoleFixture fx(false);
    EXPECT_EQ(c_connect(" LOOP "), 0);
    EXPECT_EQ(curnodename, "127.0.0.1:" + port);
    EXPECT_EQ(c_connect(("telnet:127.0.0.1#" + port).c_str()), 0);
    EXPECT_EQ(c_connect("office.con"), 1); // a configuration file, not a service
    EXPECT_HAS(fx.output(), "Attempting connection to LOOP (telnet:127.0.0.1:" + port + ")...\r\n");
    EXPECT_HAS(fx.output(), "Can't find command file office.con");
    // An address without a port takes the netport setting.
    EXPECT_EQ(c_netport(port.c_str()), 0);
    EXPECT_EQ(c_connect("telnet:127.0.0.1"), 0);
    EXPECT_EQ(curnodename.substr(0, 9), "127.0.0.1") << curnodename;
    EXPECT_EQ(fx.output().find("Can't connect"), std::string::npos) << fx.output();
    netport = -1;
    comexit();
}
