// The network drivers against real servers on loopback: telnet against inetutils telnetd,
// rlogin against rlogind (rsh-redone), and rlogin's start string checked byte by byte by a
// small server written here. The test is
// the server's inetd: it listens on a free port and hands each accepted connection to a new
// telnetd as descriptors 0, 1 and 2, as inetd does (telnetd asks the socket for its peer, so
// a pipe relay would not do). A real login needs a password and a user account the test
// cannot make, so telnetd runs a shell directly in place of login (its --exec-login option);
// everything before that - the option negotiation, the pseudo-terminal, the terminal type and
// window size it is told - is the real server's. rlogind likewise can only be taken as far as
// its password prompt; the session itself is shown against the test's own rlogin server.
#include <gtest/gtest.h>

#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/service.h"
#include "ports/telnet.h"
#include "screen/vscreen.h"
#include "support/console_fixture.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {
const char* const TELNETD = "/usr/sbin/telnetd";
const char* const RLOGIND = "/usr/sbin/in.rlogind";

// Listens on a free loopback port and runs `argv` for each connection with the socket as its
// descriptors 0, 1 and 2.
class Inetd {
  public:
    explicit Inetd(std::vector<std::string> argv) {
        Listener l;
        if (l.fd < 0) return;
        port = l.port;
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            signal(SIGCHLD, SIG_IGN); // servers that end are reaped by the system
            for (;;) {
                int c = accept(l.fd, nullptr, nullptr);
                if (c < 0) continue;
                if (fork() == 0) {
                    for (int i = 0; i < 3; i++)
                        dup2(c, i);
                    if (c > 2) close(c);
                    std::vector<char*> v;
                    for (std::string& a : argv)
                        v.push_back(a.data());
                    v.push_back(nullptr);
                    execv(v[0], v.data());
                    _exit(127);
                }
                close(c);
            }
        }
    }
    ~Inetd() {
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Inetd(const Inetd&) = delete;
    Inetd& operator=(const Inetd&) = delete;
    int port = 0;

  private:
    pid_t pid_ = -1;
};

void typeline(const std::string& s) {
    telbout(reinterpret_cast<const uint8_t*>(s.data()), static_cast<int>(s.size()));
}

class RealTelnetd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(TELNETD, X_OK) != 0) GTEST_SKIP() << TELNETD << " missing (scripts/deps test)";
    }
};

TEST_F(RealTelnetd, TerminalTypeWindowSizeBothWaysOf255BreakAndTheHostClosing) {
    Inetd inetd({TELNETD, "-h", "-E", "/bin/sh -i"});
    ASSERT_GT(inetd.port, 0);
    ConsoleFixture fx(false);
    int keeprows = vlines, keepcols = vcols, keepmode = vemode;
    vemode = EM_VT2207;
    vlines = 30;
    vcols = 100;
    std::string addr = "telnet:127.0.0.1:" + std::to_string(inetd.port);
    ASSERT_EQ(connservice(addr.c_str(), 0), 1) << fx.output();
    std::string got;
    typeline("echo READY\r");
    ASSERT_NE(linefor(got, "READY\r\n").find("READY\r\n"), std::string::npos) << got;

    // The terminal type and size the server was told.
    typeline("echo T=$TERM.; stty size\r");
    EXPECT_NE(linefor(got, "30 100").find("T=vt220.\r\n30 100\r\n"), std::string::npos) << got;
    vcols = 90; // the emulated screen changes: the server hears of it with the next bytes
    typeline("stty size\r");
    EXPECT_NE(linefor(got, "30 90\r\n").find("30 90\r\n"), std::string::npos) << got;

    // A 255 sent arrives once; one the host prints arrives once.
    got.clear();
    typeline("od -An -tx1 -N3\r");
    linefor(got, "-N3\r\n");
    typeline("A\xff"
             "B\r");
    EXPECT_NE(linefor(got, " 41 ff 42").find(" 41 ff 42"), std::string::npos) << got;
    got.clear();
    typeline("printf 'X\\377Y\\n'\r");
    EXPECT_NE(linefor(got, "X\xffY").find("\nX\xffY\r\n"), std::string::npos) << got;

    // A break reaches the shell as an interrupt.
    got.clear();
    typeline("trap 'echo BRK-ARRIVED' INT; read x\r");
    linefor(got, "read x\r\n");
    bsdbrk();
    EXPECT_NE(linefor(got, "BRK-ARRIVED").find("BRK-ARRIVED"), std::string::npos) << got;

    // The host ends the session: the line is lost and the null line is current.
    typeline("\rexit\r");
    linefor(got, "never", 10);
    EXPECT_EQ(comfd, -1);
    EXPECT_EQ(COM, &nulfunc);
    EXPECT_NE(fx.output().find("\r\n[Disconnected]\r\n"), std::string::npos);
    vlines = keeprows;
    vcols = keepcols;
    vemode = keepmode;
}

TEST_F(RealTelnetd, TheProgramReachesTheShellShowsItsAnswersAndEndsWhenTheHostCloses) {
    Inetd inetd({TELNETD, "-h", "-E", "/bin/sh -i"});
    ASSERT_GT(inetd.port, 0);
    VornRun run({"-m", "-l", "telnet:127.0.0.1:" + std::to_string(inetd.port)},
                {.rows = 24, .cols = 80});
    ASSERT_TRUE(run.waitFor("Connected to 127.0.0.1:")) << run.screen();
    run.type("echo T=$TERM.; stty size\r");
    EXPECT_TRUE(run.waitFor("T=vt100.")) << run.screen();
    EXPECT_TRUE(run.waitFor("24 80")) << run.screen();
    run.type("exit\r");
    EXPECT_TRUE(run.waitForOutput("[Disconnected]")) << run.output();
    EXPECT_EQ(run.wait(), 0);
    EXPECT_TRUE(sameTermios(run.before(), run.now()));
}

class Rlogin : public ::testing::Test {
  protected:
    void SetUp() override {
        // The start string must come from a reserved port, which only root can bind.
        if (geteuid() != 0) GTEST_SKIP() << "rlogin needs root for its reserved port";
    }
};

TEST_F(Rlogin, RealRlogindTakesTheStartFromAReservedPortAndAsksForThePassword) {
    if (access(RLOGIND, X_OK) != 0) GTEST_SKIP() << RLOGIND << " missing (scripts/deps test)";
    Inetd inetd({RLOGIND});
    ASSERT_GT(inetd.port, 0);
    ConsoleFixture fx(false);
    std::string addr = "rlogin:127.0.0.1:" + std::to_string(inetd.port);
    ASSERT_EQ(connservice(addr.c_str(), 0), 1) << fx.output();
    std::string got;
    // rlogind's NUL acknowledges the start string; the login then asks for the password.
    EXPECT_EQ(linefor(got, "Password: "), std::string("\0Password: ", 11));
    comexit();
}

TEST_F(Rlogin, StartStringReservedPortRawDataAndTheHostClosing) {
    Listener l;
    ASSERT_GE(l.fd, 0);
    ConsoleFixture fx(false);
    int keepmode = vemode;
    vemode = EM_VT2208;
    std::string addr = "rlogin:127.0.0.1#" + std::to_string(l.port);
    ASSERT_EQ(connservice(addr.c_str(), 0), 1) << fx.output();
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int peer = accept(l.fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ASSERT_GE(peer, 0);
    int from = ntohs(sa.sin_port);
    EXPECT_TRUE(from >= 513 && from <= 1023) << from;
    const passwd* pw = getpwuid(getuid());
    std::string user = pw ? pw->pw_name : "";
    EXPECT_EQ(readfor(peer, 2 * user.size() + 14), std::string("\0", 1) + user +
                                                       std::string("\0", 1) + user +
                                                       std::string("\0vt220/9600\0", 12));
    // No telnet filter: 255 passes unchanged both ways.
    writeall(peer, std::string("\0shell\xff>", 8));
    std::string got;
    EXPECT_EQ(linefor(got, ">"), std::string("\0shell\xff>", 8));
    COM->out(255);
    EXPECT_EQ(readfor(peer, 1), "\xff");
    close(peer);
    linefor(got, "never", 5);
    EXPECT_EQ(comfd, -1);
    EXPECT_NE(fx.output().find("[Disconnected]"), std::string::npos);
    vemode = keepmode;
}
} // namespace
