// The pseudo-terminal line in-process: the argument vector, the terminal type the program is
// told, the program's environment and terminal, the lost line when it ends, and the service
// layer's direct addresses.
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/pty.h"
#include "ports/service.h"
#include "support/console_fixture.h"
#include "support/harness.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::vector<std::string> words() {
    std::vector<std::string> v;
    for (char* const* a = ptyargv(); *a; a++)
        v.emplace_back(*a);
    return v;
}

// Environment variable set for one test, restored after it.
class EnvGuard {
  public:
    EnvGuard(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvGuard() {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

  private:
    std::string name_, old_;
    bool had_ = false;
};

// Reads the line until `text` was received or the deadline passes; what arrived.
std::string readline(const std::string& text, double seconds = 10) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end && got.find(text) == std::string::npos) {
        while (!qempty(comq))
            got += static_cast<char>(unqchar(comq));
        if (got.find(text) != std::string::npos || comfd < 0) break;
        waitread(0);
        if (qempty(comq)) usleep(2000);
    }
    while (!qempty(comq))
        got += static_cast<char>(unqchar(comq));
    return got;
}
} // namespace

TEST(PtyArguments, SplitAtBlanksIntoAtMostNineWords) {
    struct Case {
        const char* command;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"vi notes.txt", {"vi", "notes.txt"}},
        {"\tless  -S\tlog ", {"less", "-S", "log"}},
        {"a b c d e f g h i j k l", {"a", "b", "c", "d", "e", "f", "g", "h", "i"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ptysplit(c.command), static_cast<int>(c.want.size())) << c.command;
        EXPECT_EQ(words(), c.want) << c.command;
    }
    ptysplit(nullptr);
    EXPECT_TRUE(words().empty());
}

TEST(PtyArguments, ALongCommandIsCutToTheBuffer) {
    std::string word(400, 'x');
    ASSERT_EQ(ptysplit(("prog " + word).c_str()), 2);
    EXPECT_EQ(words()[1].size(), static_cast<size_t>(PTYARGBUF - 5));
}

TEST(PtyTermType, EmulationNameWhenTheDatabaseHasItElseTheFallbackList) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "f");
    std::filesystem::create_directories(dir.path() / "7a");
    dir.write("f/fake-term", "x");
    dir.write("7a/zed-term", "x");
    EnvGuard ti("TERMINFO", dir.path().c_str());
    EXPECT_TRUE(termexists("fake-term"));
    EXPECT_TRUE(termexists("zed-term")); // hexadecimal directory layout
    for (const char* bad : {"", "no-such-terminal", "../v/vt100", "/lib/terminfo/v/vt100"})
        EXPECT_FALSE(termexists(bad)) << bad;

    struct Case {
        int mode;
        const char* want; // when the database has it
    };
    const Case cases[] = {
        {EM_VT2207, "vt220"},  {EM_VT2208, "vt220"}, {EM_VT52, "vt52"},
        {EM_ANSI, "ansi"},     {EM_SCOANSI, "ansi"}, {EM_WYSE60, "wyse60"},
        {EM_PCTERM, "wyse60"}, {EM_ADM1, "adm1"},    {EM_TV925, "tvi925"},
    };
    const char* fallback = termexists("vt102")   ? "vt102"
                           : termexists("vt100") ? "vt100"
                           : termexists("ansi")  ? "ansi"
                                                 : "dumb";
    for (const Case& c : cases) {
        const char* got = ptytermname(c.mode);
        ASSERT_NE(got, nullptr);
        EXPECT_STREQ(got, termexists(c.want) ? c.want : fallback) << c.mode;
    }
    // VT100, VT102 and TTY have no name of their own; the batch bit does not change the choice.
    EXPECT_STREQ(ptytermname(EM_VT100), fallback);
    EXPECT_STREQ(ptytermname(EM_TTY), fallback);
    EXPECT_STREQ(ptytermname(EM_VT52 | 1), termexists("vt52") ? "vt52" : fallback);
}

TEST(PtyLine, ProgramSeesItsTerminalAndTheLineDropsWhenItEnds) {
    ConsoleFixture fx(false);
    TempDir dir;
    dir.write("show.sh", "#!/bin/sh\n"
                         "echo \"TERM=$TERM COLUMNS=$COLUMNS LINES=$LINES\"\n"
                         "echo \"SIZE=$(stty size) TTY=$(tty | cut -c1-9)\"\n"
                         "echo \"ARGS=$*\"\n"
                         "stty -a | tr ' ' '\\n' | grep -x -e icanon -e echo -e isig\n");
    std::filesystem::permissions(dir.file("show.sh"), std::filesystem::perms::owner_all);
    const std::string cmd = dir.file("show.sh").string() + " one\ttwo  three";
    ASSERT_EQ(connservice(("pty:" + cmd).c_str(), 0), 1);
    EXPECT_EQ(curnodename, cmd);
    EXPECT_GE(comfd, 0);
    EXPECT_GT(ptypid, 0);
    std::string got = readline("echo\r\n");
    EXPECT_NE(got.find("TERM=" + std::string(ptytermname(vemode)) + " COLUMNS=80 LINES=24"),
              std::string::npos)
        << got;
    EXPECT_NE(got.find("SIZE=24 80 TTY=/dev/pts/"), std::string::npos) << got;
    EXPECT_NE(got.find("ARGS=one two three\r\n"), std::string::npos) << got;
    EXPECT_NE(got.find("isig\r\nicanon\r\necho\r\n"), std::string::npos) << got;
    // The program ends: the master reads end of file and the port layer drops the line.
    readline("no more", 10);
    EXPECT_EQ(comfd, -1);
    EXPECT_EQ(COM, &nulfunc);
    EXPECT_EQ(ptypid, -1);
    ASSERT_TRUE(WIFEXITED(ptystatus));
    EXPECT_EQ(WEXITSTATUS(ptystatus), 0);
    std::string shown = fx.output();
    EXPECT_NE(shown.find("Attempting connection to pty:" + cmd + " (pty:" + cmd +
                         ")...\r\nConnected\r\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("\r\n[Disconnected]\r\n"), std::string::npos) << shown;
}

TEST(PtyLine, ClosingTheLineHangsTheProgramUpAndReapsIt) {
    ConsoleFixture fx(false);
    ASSERT_EQ(connservice("pty:sleep 300", 0), 1);
    pid_t pid = ptypid;
    ASSERT_GT(pid, 0);
    comexit();
    EXPECT_EQ(ptypid, -1);
    EXPECT_EQ(comfd, -1);
    // Reaped: no such child is left.
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
    ASSERT_TRUE(WIFSIGNALED(ptystatus));
}

TEST(PtyLine, AProgramThatCannotStartReportsOnTheLine) {
    ConsoleFixture fx(false);
    ASSERT_EQ(connservice("pty:/nonexistent/prog arg", 0), 1);
    std::string got = readline("]");
    std::string name = program_invocation_short_name;
    EXPECT_NE(got.find(name + ": Can't execvp /nonexistent/prog\r\n\r\r\n[PTY Driver Exit: 30]"),
              std::string::npos)
        << got;
    readline("no more");
    EXPECT_EQ(comfd, -1);
    ASSERT_TRUE(WIFEXITED(ptystatus));
    EXPECT_EQ(WEXITSTATUS(ptystatus), PTYEXIT_EXEC);
}

TEST(PtyLine, TheShellComesFromShellWithItsBaseNameAsArgumentZero) {
    ConsoleFixture fx(false);
    TempDir dir;
    std::filesystem::create_symlink("/bin/sh", dir.file("myshell"));
    EnvGuard sh("SHELL", dir.file("myshell").c_str());
    ASSERT_EQ(connservice("pty", 0), 1);
    const char* cmd = "echo ZERO=$0\n";
    for (const char* p = cmd; *p; p++)
        COM->out(*p);
    std::string got = readline("ZERO=myshell\r\n");
    EXPECT_NE(got.find("ZERO=myshell\r\n"), std::string::npos) << got;
    comexit();
}

TEST(PtyLine, BreakSendsTheBreakKeyAsOneByte) {
    ConsoleFixture fx(false);
    ASSERT_EQ(connservice("pty:od -An -c", 0), 1);
    ASSERT_EQ(ptybrk(), 1);
    COM->out('\n');
    COM->out(4); // end of file for od
    std::string got = readline("\\n");
    EXPECT_NE(got.find("002  \\n"), std::string::npos) << got;
    comexit();
}

TEST(ServiceAddress, TransportAndNodeSplitAtTheFirstColon) {
    struct Case {
        const char* text;
        const char* transport;
        const char* node;
    };
    const Case cases[] = {
        {"pty:vi notes", "pty", "vi notes"},
        {"  \ttelnet:host", "telnet", "host"},
        {"pty", "pty", ""},
        {":host", "", "host"},
        {"a:b:c", "a", "b:c"},
        {"/dev/ttyS0", "/dev/ttyS0", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string t = "junk", n = "junk";
        getranshost(c.text, t, n);
        EXPECT_EQ(t, c.transport) << c.text;
        EXPECT_EQ(n, c.node) << c.text;
    }
}

TEST(ServiceAddress, NetworkTransportsAreTypeNTheRestD) {
    for (const char* t : {"telnet", "telnetb", "rlogin", "acs"})
        EXPECT_EQ(getsrvtype(t), 'N') << t;
    for (const char* t : {"pty", "nul", "/dev/ttyS0", "tty1", "default", "bogus"})
        EXPECT_EQ(getsrvtype(t), 'D') << t;
}

TEST(ServiceAddress, ResolvingNamesAndAddresses) {
    ConsoleFixture fx(false);
    struct Case {
        const char* name;
        int result;
        const char* transport;
        const char* node;
    };
    const Case cases[] = {
        {"pty:top -n1", 1, "pty", "top -n1"},
        {"  pty", 1, "pty", ""},
        {"nul:", 1, "nul", ""},
        {":somewhere", 1, "default", "somewhere"},
        {"telnet:host.example", 1, "telnet", "host.example"},
        {"telnet:", 0, "telnet", ""}, // a network address without a node, not interactive
    };
    for (const Case& c : cases) {
        std::string t, n;
        EXPECT_EQ(getservice(c.name, t, n, 0), c.result) << c.name;
        EXPECT_EQ(t, c.transport) << c.name;
        EXPECT_EQ(n, c.node) << c.name;
    }
    std::string t, n;
    EXPECT_EQ(getservice("", t, n, 0), -1);
    EXPECT_NE(fx.output().find("Unknown service: \r\n"), std::string::npos);
}

TEST(ServiceAddress, ConnectionMessages) {
    ConsoleFixture fx(false);
    connmsg(1, "pty", "pty", "");
    connmsg(0, "myhost", "telnet", "host.example");
    connmsg(1, "pty:vi x", "pty", "vi x");
    EXPECT_EQ(fx.output(), "Attempting connection to pty:...\r\n"
                           "Can't connect to myhost (telnet:host.example)...\r\n"
                           "Attempting connection to pty:vi x (pty:vi x)...\r\n");
}

TEST(ServiceAddress, AFailedConnectionLeavesTheNullLine) {
    ConsoleFixture fx(false);
    EXPECT_EQ(connservice("bogus:node", 0), -1);
    EXPECT_EQ(COM, &nulfunc);
    std::string out = fx.output();
    EXPECT_NE(out.find("Attempting connection to bogus:node (bogus:node)...\r\n"
                       "Unknown transport: bogus\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Can't connect to bogus:node (bogus:node)...\r\n"), std::string::npos)
        << out;
    EXPECT_EQ(connservice("", 0), -1);
}
