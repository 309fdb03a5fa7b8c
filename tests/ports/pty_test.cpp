// The pseudo-terminal line in-process: the argument vector, the terminal type the program is
// told, the program's environment and terminal, the lost line when it ends, and the service
// layer's direct addresses.
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/pty.h"
#include "ports/service.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

namespace {
std::vector<std::string> words() {
    std::vector<std::string> v;
    for (char* const* a = ptyargv(); *a; a++)
        v.emplace_back(*a);
    return v;
}

// What the line brings until `text` was received, the line closed or the deadline passed.
std::string readline(const std::string& text, double seconds = 10) {
    std::string got;
    return linefor(got, text, seconds);
}
} // namespace

TEST(PtyArguments, SplitAtBlanksIntoAtMostNineWordsCutToTheBuffer) {
    using W = std::vector<std::string>;
    const std::pair<std::string, W> cases[] = {
        {"   \t ", {}},
        {"\tless  -S\tlog ", {"less", "-S", "log"}},
        {"a b c d e f g h i j k l", {"a", "b", "c", "d", "e", "f", "g", "h", "i"}},
        {"prog " + std::string(400, 'x'), {"prog", std::string(PTYARGBUF - 5, 'x')}}};
    for (const auto& [command, want] : cases) {
        EXPECT_EQ(ptysplit(command.c_str()), static_cast<int>(want.size())) << command;
        EXPECT_EQ(words(), want) << command;
    }
    EXPECT_EQ(ptysplit(nullptr), 0);
    EXPECT_TRUE(words().empty());
}

TEST(PtyTermType, EmulationNameWhenTheDatabaseHasItElseTheFallbackList) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "7a");
    dir.write("7a/zed-term", "x");
    EnvGuard ti("TERMINFO", dir.path().c_str());
    EXPECT_TRUE(termexists("zed-term")); // hexadecimal directory layout
    for (const char* bad : {"", "no-such-terminal", "../v/vt100", "/lib/terminfo/v/vt100"})
        EXPECT_FALSE(termexists(bad)) << bad;
    // The name when the database has it. VT100, VT102 and TTY have no name of their own; the
    // batch bit does not change the choice.
    const std::pair<int, const char*> cases[] = {
        {EM_VT2208, "vt220"}, {EM_VT52 | 1, "vt52"}, {EM_SCOANSI, "ansi"}, {EM_PCTERM, "wyse60"},
        {EM_TV925, "tvi925"}, {EM_VT100, "-"},       {EM_TTY, "-"}};
    const char* fallback = termexists("vt102")   ? "vt102"
                           : termexists("vt100") ? "vt100"
                           : termexists("ansi")  ? "ansi"
                                                 : "dumb";
    for (auto [mode, want] : cases)
        EXPECT_STREQ(ptytermname(mode), termexists(want) ? want : fallback) << mode;
}

// The program ends, or cannot start: the master reads end of file and the line drops.
TEST(PtyLine, ProgramSeesItsTerminalAndTheLineDropsWhenItEndsOrCannotStart) {
    ConsoleFixture fx(false);
    TempDir dir;
    dir.write("show.sh", "#!/bin/sh\n"
                         "echo \"TERM=$TERM COLUMNS=$COLUMNS LINES=$LINES\"\n"
                         "echo \"SIZE=$(stty size) TTY=$(tty | cut -c1-9)\"\n"
                         "echo \"ARGS=$*\"\n");
    std::filesystem::permissions(dir.file("show.sh"), std::filesystem::perms::owner_all);
    // command; what the line shows, exit status, whether the break key is sent (as one byte)
    const std::tuple<std::string, std::string, int, bool> cases[] = {
        {dir.file("show.sh").string() + " one\ttwo  three",
         "TERM=" + std::string(ptytermname(vemode)) +
             " COLUMNS=80 LINES=24\r\nSIZE=24 80 TTY=/dev/pts/\r\n"
             "ARGS=one two three\r\n",
         0, false},
        {"od -An -c", "002  \\n", 0, true},
        {"/nonexistent/prog arg",
         program_invocation_short_name +
             std::string(": Can't execvp /nonexistent/prog\r\n\r\r\n[PTY Driver Exit: 30]"),
         PTYEXIT_EXEC << 8, false}};
    for (const auto& [cmd, text, status, brk] : cases) {
        ASSERT_EQ(connservice(("pty:" + cmd).c_str(), 0), 1);
        EXPECT_EQ(curnodename, cmd);
        if (brk) {
            EXPECT_EQ(ptybrk(), 1);
            COM->out('\n');
            COM->out(4); // end of file for od
        }
        std::string got = readline(text);
        EXPECT_HAS(got, text);
        readline("no more");
        EXPECT_EQ(comfd, -1);
        EXPECT_EQ(ptypid, -1);
        EXPECT_EQ(ptystatus, status) << cmd;
        EXPECT_HAS(fx.output(), "Attempting connection to pty:" + cmd + " (pty:" + cmd +
                                    ")...\r\nConnected\r\n");
    }
}

TEST(PtyLine, ShellFromShellWithItsBaseNameAsArgumentZeroIsHungUpAndReapedAtTheClose) {
    ConsoleFixture fx(false);
    TempDir dir;
    std::filesystem::create_symlink("/bin/sh", dir.file("myshell"));
    EnvGuard sh("SHELL", dir.file("myshell").c_str());
    ASSERT_EQ(connservice("pty", 0), 1);
    for (char ch : std::string("echo ZERO=$0\n"))
        COM->out(ch);
    EXPECT_HAS(readline("ZERO=myshell\r\n"), "ZERO=myshell\r\n");
    pid_t pid = ptypid;
    comexit();
    EXPECT_EQ(ptypid, -1);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1); // reaped: no such child is left
}

// The program gets a new terminal's settings, SIGHUP at its default and only descriptors 0-2;
// its erase character is what the emulation's Backspace key sends.
TEST(PtyLine, ProgramGetsANewTerminalsSettingsAndNothingElse) {
    ConsoleFixture fx(false);
    TempDir dir;
    dir.write("show.sh", "#!/bin/sh\n"
                         "stty -a | tr ';' '\\n' | sed 's/^ *//' | grep -x -e 'speed 38400 baud'"
                         " -e 'werase = ^W' -e 'lnext = ^V' -e 'rprnt = ^R' -e 'erase = ^?'"
                         " -e 'erase = ^H' -e 'kill = ^U' -e 'intr = ^C'\n"
                         "stty -a | tr ' ' '\\n' | grep -x -e onlcr -e tab0 -e echoctl -e -parenb"
                         " -e isig -e icanon -e echo\n"
                         "grep SigIgn /proc/self/status | cut -c24 | tr 0123456789abcdef "
                         "eoeoeoeoeoeoeoeo | sed 's/^/HUP-/'\n"
                         "exec ls -1 /proc/self/fd\n");
    std::filesystem::permissions(dir.file("show.sh"), std::filesystem::perms::owner_all);
    // emulation, Backspace sends DEL; the erase character expected
    const std::tuple<int, int, const char*> cases[] = {
        {EM_VT100, 1, "^H"}, {EM_VT2208, 1, "^?"}, {EM_VT2208, 0, "^H"}};
    for (const auto& [mode, bsdel, erase] : cases) {
        const int keepmode = vemode, keepdel = vbsdel;
        vemode = mode, vbsdel = bsdel;
        ASSERT_EQ(connservice(("pty:" + dir.file("show.sh").string()).c_str(), 0), 1);
        vemode = keepmode, vbsdel = keepdel;
        std::string got = readline("no more");
        EXPECT_EQ(got,
                  "speed 38400 baud\r\nintr = ^C\r\nerase = " + std::string(erase) +
                      "\r\nkill = ^U\r\nrprnt = ^R\r\nwerase = ^W\r\nlnext = ^V\r\n"
                      "-parenb\r\nonlcr\r\ntab0\r\nisig\r\nicanon\r\necho\r\nechoctl\r\nHUP-e\r\n"
                      "0\r\n1\r\n2\r\n3\r\n")
            << mode;
        EXPECT_EQ(comfd, -1);
    }
}

// The line ends when the program ends, even while a job it left holds the terminal; closing
// hangs up the whole session and kills a job that ignores the hang-up after a short grace.
TEST(PtyLine, LineEndsWithTheProgramAndNoJobOutlivesIt) {
    ConsoleFixture fx(false);
    TempDir dir;
    const std::string pidfile = dir.file("job").string();
    dir.write("bg.sh", "#!/bin/sh\n"
                       "(trap '' HUP; exec sleep 60) &\n"
                       "echo $! > " +
                           pidfile + ".tmp; mv " + pidfile + ".tmp " + pidfile +
                           "\n"
                           "echo started\n");
    std::filesystem::permissions(dir.file("bg.sh"), std::filesystem::perms::owner_all);
    ASSERT_EQ(connservice(("pty:" + dir.file("bg.sh").string()).c_str(), 0), 1);
    EXPECT_HAS(readline("started"), "started");
    readline("no more", 5);
    EXPECT_EQ(comfd, -1) << "the line outlived its program";
    pid_t job = std::atoi(dir.read("job").c_str());
    ASSERT_GT(job, 0);
    auto gone = [job] {
        std::string st = "/proc/" + std::to_string(job) + "/stat";
        std::ifstream f(st);
        std::string line;
        if (!std::getline(f, line)) return true;
        waitpid(job, nullptr, WNOHANG); // reaped here when this process is its subreaper
        return line.find(") Z ") != std::string::npos;
    };
    EXPECT_TRUE(pollfor(gone, 5)) << "a job outlived the line";
}

TEST(ServiceAddress, ResolvingNamesAndAddresses) {
    ConsoleFixture fx(false);
    // name; transport, node, result and service type found. A network address without a
    // node is not interactive.
    // clang-format off
    const std::tuple<const char*, const char*, const char*, int, char> cases[] = {
        {"  pty:top -n1", "pty", "top -n1", 1, 'D'}, {":somewhere", "default", "somewhere", 1, 'D'},
        {"/dev/ttyS0", "/dev/ttyS0", "", 1, 'D'},   {"telnet:host:23", "telnet", "host:23", 1, 'N'},
        {"telnet:", "telnet", "", 0, 'N'},          {"", "", "", -1, 0}};
    // clang-format on
    for (auto [name, transport, node, result, type] : cases) {
        std::string t, n;
        EXPECT_EQ(getservice(name, t, n, 0), result) << name;
        EXPECT_EQ(t + "|" + n, std::string(transport) + "|" + node) << name;
        EXPECT_EQ(type ? getsrvtype(t.c_str()) : 0, type) << name;
    }
    EXPECT_HAS(fx.output(), "Unknown service: \r\n");
}
