// ZMODEM against lrzsz on a socat pseudo-serial pair: the program receives batches from `sz`
// and sends batches to `rz`, driven from terminal mode with the escape commands R and S;
// every file compared byte for byte, refusals and skips checked on disk.
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>

namespace fs = std::filesystem;

namespace {

// An lrzsz program with its standard input and output on `port`, run in `dir`.
class Peer {
  public:
    Peer(const std::string& dir, const std::string& port, std::vector<std::string> args) {
        log_ = dir + "/../peer.log";
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(dir.c_str()) != 0) _exit(126);
            int fd = open(port.c_str(), O_RDWR | O_NOCTTY);
            int lf = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd < 0) _exit(126);
            dup2(fd, 0), dup2(fd, 1);
            if (lf >= 0) dup2(lf, 2);
            std::vector<char*> v;
            for (auto& a : args)
                v.push_back(a.data());
            v.push_back(nullptr);
            execvp(v[0], v.data());
            _exit(127);
        }
    }
    ~Peer() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Exit status, or -1 while it runs.
    int poll() {
        if (status_ >= 0 || pid_ <= 0) return status_;
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_)
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
    }
    int wait(VornRun& run, double seconds) {
        run.waitUntil([&] { return poll() >= 0; }, seconds);
        return poll();
    }
    void kill9() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status_ = 137;
        }
    }
    std::string log() const { return readfile(log_); }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string log_;
};

Files batch(unsigned seed) {
    return {{"rand.bin", randombytes(300000, seed)},
            {"text.txt", textbytes(120000, seed)},
            {"empty", ""},
            {"one", "x"},
            {"all.bin", allbytes()}};
}

std::string names(const Files& f) {
    std::string s;
    for (const auto& [n, d] : f)
        s += (s.empty() ? "" : " ") + n;
    return s;
}

void putfiles(const std::string& dir, const Files& f) {
    fs::create_directories(dir);
    for (const auto& [n, d] : f)
        writefile(dir + "/" + n, d);
}

void expectsame(const std::string& dir, const Files& f) {
    for (const auto& [n, d] : f) {
        const std::string got = readfile(dir + "/" + n);
        EXPECT_EQ(got.size(), d.size()) << n;
        EXPECT_TRUE(got == d) << n;
    }
}

// WVornCRC with 7-bit escaping on: to a plain ZMODEM peer the program must speak plain ZMODEM.
const Files wvornrc = {{".vornrc", "set esc8bit on\n"}};
std::vector<std::string> protocol(bool wvorn) {
    return {wvorn ? "-1" : "-2"};
}

struct RxCase {
    const char* what;
    std::vector<std::string> szopts;
    bool wvorn = false;
};

class ZmodemFromSz : public ::testing::TestWithParam<RxCase> {};

TEST_P(ZmodemFromSz, BatchArrivesByteForByte) {
    TempDir d;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const Files files = batch(11);
    const std::string src = d.path().string() + "/src";
    putfiles(src, files);
    auto rx = vornline(pair.a, GetParam().wvorn ? wvornrc : Files{}, protocol(GetParam().wvorn));
    escape(*rx, 'R', ".");
    std::vector<std::string> args = {"sz", "-q"};
    for (const auto& o : GetParam().szopts)
        args.push_back(o);
    for (const auto& [n, data] : files)
        args.push_back(n);
    Peer sz(src, pair.b, args);
    EXPECT_EQ(summaryof(*rx, 120), "5 files received, success") << rx->screen();
    EXPECT_EQ(sz.wait(*rx, 20), 0) << sz.log();
    expectsame(rx->dir().path().string(), files);
    quit(*rx);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Options, ZmodemFromSz, ::testing::Values(
    RxCase{"crc32", {}},
    RxCase{"crc16", {"-o"}},
    RxCase{"escape_all", {"-e"}},
    RxCase{"blocks_8k", {"-8"}},
    RxCase{"window_2k", {"-w", "2048"}},
    RxCase{"frames_256", {"-l", "256"}},
    RxCase{"wvorncrc_esc8", {}, true}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

struct TxCase {
    const char* what;
    std::vector<std::string> rzopts;
    bool wvorn = false;
};

class ZmodemToRz : public ::testing::TestWithParam<TxCase> {};

TEST_P(ZmodemToRz, BatchArrivesByteForByte) {
    TempDir d;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const Files files = batch(12);
    const std::string dst = d.path().string() + "/dst";
    fs::create_directories(dst);
    Files mine = files;
    if (GetParam().wvorn) mine.insert(wvornrc.begin(), wvornrc.end());
    auto tx = vornline(pair.a, mine, protocol(GetParam().wvorn));
    std::vector<std::string> args = {"rz", "-q"};
    for (const auto& o : GetParam().rzopts)
        args.push_back(o);
    Peer rz(dst, pair.b, args);
    escape(*tx, 'S', names(files));
    EXPECT_EQ(summaryof(*tx, 60), "5 files sent, success") << tx->screen();
    EXPECT_EQ(rz.wait(*tx, 20), 0) << rz.log();
    EXPECT_EQ(rz.log().find("Retry"), std::string::npos) << rz.log(); // a clean line: no retries
    expectsame(dst, files);
    quit(*tx);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Options, ZmodemToRz, ::testing::Values(
    TxCase{"plain", {}},
    TxCase{"escape_all", {"-e"}},
    TxCase{"window_2k", {"-w", "2048"}},
    TxCase{"wvorncrc_esc8", {}, true}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

} // namespace

namespace {

// One program on one end of a socat pair, a source and a destination directory beside it.
struct Bench {
    TempDir d;
    SocatPair pair{d.path().string()};
    std::string src = d.path().string() + "/src", dst = d.path().string() + "/dst";
    Bench() {
        fs::create_directories(src);
        fs::create_directories(dst);
    }
};

// The program receives from sz when the names come with paths, when a target is protected,
// when sz asks for a command, and when a part file waits for a resume; then terminal mode
// starts a receive by itself on sz's invitation.
TEST(ZmodemFromSzCases, NamesConfinedAndProtectedFileSkipped) {
    Bench b;
    putfiles(b.src + "/sub", {{"a", randombytes(5000, 1)}});
    putfiles(b.src, {{"evil", "evil"}, {"one", "new"}});
    auto rx = vornline(b.pair.a, {{"one", "old"}}, {"-2"});
    const std::string home = rx->dir().path().string();
    escape(*rx, 'R', ".");
    // "../evil" from sub, an absolute path, and a protected existing file.
    Peer sz(b.src + "/sub", b.pair.b, {"sz", "-q", "-p", "-f", "a", "../evil", b.src + "/one"});
    EXPECT_EQ(summaryof(*rx, 60), "2 files received, failed") << rx->screen();
    sz.wait(*rx, 20);
    EXPECT_EQ(readfile(home + "/a"), randombytes(5000, 1));
    EXPECT_EQ(readfile(home + "/evil"), "evil");
    EXPECT_FALSE(fs::exists(home + "/../evil"));
    EXPECT_EQ(readfile(home + "/one"), "old");
    quit(*rx);
}

TEST(ZmodemFromSzCases, CommandsRefused) {
    Bench b;
    auto rx = vornline(b.pair.a, {}, {"-2"});
    const std::string home = rx->dir().path().string();
    escape(*rx, 'R', ".");
    Peer sz(b.src, b.pair.b, {"sz", "-q", "-c", "!touch " + home + "/pwned"});
    EXPECT_NE(sz.wait(*rx, 60), 0);
    EXPECT_TRUE(rx->waitForOutput("Remote command refused", 30)) << rx->screen();
    EXPECT_FALSE(fs::exists(home + "/pwned"));
    quit(*rx);
}

// Server mode (remote command mode with ZMODEM as the protocol): the peer pushes a batch into
// the server's directory, then a shell command, which is refused without `zmshell`.
TEST(ZmodemFromSzCases, ServerTakesABatchAndRefusesAShellCommand) {
    Bench b;
    const Files f = {{"a.bin", randombytes(70000, 9)}, {"b.txt", textbytes(9000, 9)}};
    putfiles(b.src, f);
    RunOptions o;
    VornRun srv({"-2", "-c", "-l", b.pair.a}, o);
    const std::string home = srv.dir().path().string();
    ASSERT_TRUE(srv.waitForOutput("[Server Mode]", 20)) << srv.screen();
    Peer sz(b.src, b.pair.b, {"sz", "-q", "a.bin", "b.txt"});
    EXPECT_EQ(sz.wait(srv, 60), 0) << sz.log() << srv.output();
    expectsame(home, f);
    Peer cmd(b.src, b.pair.b, {"sz", "-q", "-c", "!touch " + home + "/pwned"});
    EXPECT_NE(cmd.wait(srv, 60), 0);
    EXPECT_TRUE(srv.waitForOutput("Remote shell command refused", 20)) << srv.screen();
    EXPECT_FALSE(fs::exists(home + "/pwned"));
}

TEST(ZmodemFromSzCases, ResumeContinuesThePartFile) {
    Bench b;
    const std::string data = randombytes(400000, 4);
    putfiles(b.src, {{"big", data}});
    // A torn part file: its last 300 bytes are not trusted and come again.
    auto rx = vornline(b.pair.a, {{".big.vorn-part", data.substr(0, 150300)}}, {"-2"});
    escape(*rx, 'R', ".");
    Peer sz(b.src, b.pair.b, {"sz", "-q", "-r", "big"});
    EXPECT_EQ(summaryof(*rx, 60), "1 file received, success") << rx->screen();
    EXPECT_NE(rx->output().find("Restarting at 149504"), std::string::npos) << rx->screen();
    EXPECT_EQ(sz.wait(*rx, 20), 0) << sz.log();
    EXPECT_TRUE(readfile(rx->dir().path().string() + "/big") == data);
    quit(*rx);
}

TEST(ZmodemFromSzCases, TerminalModeStartsAReceive) {
    Bench b;
    const Files files = {{"x1", randombytes(70000, 8)}, {"x2", textbytes(3000, 8)}};
    putfiles(b.src, files);
    auto rx = vornline(b.pair.a, {}, {});
    Peer sz(b.src, b.pair.b, {"sz", "-q", "x1", "x2"});
    EXPECT_EQ(summaryof(*rx, 60), "2 files received, success") << rx->screen();
    EXPECT_EQ(sz.wait(*rx, 20), 0) << sz.log();
    expectsame(rx->dir().path().string(), files);
    quit(*rx);
}

// The program sends to rz: a file rz already has is skipped without ending the batch, and a
// resume request continues rz's partial file.
// The statistics a person sees at the end of a receive, row by row (rows 3-16 of 24x80):
// an empty file, a resumed file (percent from the whole file, bytes from the restart offset
// on), and a file given up with the abort key. Times and rates are the only free fields.
struct StatCase {
    const char* what;
    Files local;                   // in the program's directory before the transfer
    std::vector<std::string> sz;   // sz arguments after -q
    bool abort;                    // the abort key once data flows
    std::vector<std::string> rows; // regexes for rows 3..16
};

class ZmodemStatistics : public ::testing::TestWithParam<StatCase> {};

TEST_P(ZmodemStatistics, ScreenAfterTheTransfer) {
    const StatCase& c = GetParam();
    Bench b;
    putfiles(b.src, {{"e", ""}, {"big", randombytes(400000, 4)}});
    if (c.abort) putfiles(b.src, {{"huge", randombytes(32 << 20, 5)}});
    auto rx = vornline(b.pair.a, c.local, {"-2"});
    escape(*rx, 'R', ".");
    std::vector<std::string> args = {"sz", "-q"};
    args.insert(args.end(), c.sz.begin(), c.sz.end());
    Peer sz(b.src, b.pair.b, args);
    if (c.abort) {
        ASSERT_TRUE(rx->waitUntil(
            [&] { return std::regex_search(rx->judge().row(5), std::regex(": [1-9]")); }, 30));
        rx->type("\x03");
    }
    ASSERT_NE(summaryof(*rx, 60), "") << rx->screen();
    for (size_t i = 0; i < c.rows.size(); i++) {
        const std::string row = rx->judge().row(static_cast<int>(i) + 3);
        EXPECT_TRUE(std::regex_match(row, std::regex(c.rows[i]))) << "row " << i + 3 << ": " << row;
    }
    if (!c.abort) sz.wait(*rx, 20);
    quit(*rx);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ends, ZmodemStatistics, ::testing::Values(
    StatCase{"empty", {}, {"e"}, false, {
        "           Protocol: ZMODEM",
        "          File name: \\./e",
        "  Bytes transferred: 0",
        "Percent transferred:",
        "      Transfer time: 0",
        "Effective baud rate: 0/9600",
        "  Number of packets: 1",
        "   Restarts/retries: 0/0",
        "         Last error:",
        "       Last message: 1 records received",
        "",
        "\\./e: Success \\(0 secs 0 baud 0/0 0 bytes\\)",
        "",
        "1 file received, success"}},
    StatCase{"resumed", {{".big.vorn-part", randombytes(400000, 4).substr(0, 150300)}}, {"-r", "big"},
             false, {
        "           Protocol: ZMODEM",
        "          File name: \\./big",
        "  Bytes transferred: 400000/400000",
        "Percent transferred: 100",
        "      Transfer time: [0-9]+",
        "Effective baud rate: [0-9]+/9600",
        "  Number of packets: [0-9]+",
        "   Restarts/retries: 0/0",
        "         Last error:",
        "       Last message: [0-9]+ records received",
        "",
        "\\./big: Success \\([0-9]+ secs [0-9]+ baud 100 0/0 400000/400000 bytes\\)",
        "",
        "1 file received, success"}},
    StatCase{"aborted", {}, {"huge"}, true, {
        "           Protocol: ZMODEM",
        "          File name: \\./huge",
        "  Bytes transferred: [0-9]+/33554432",
        "Percent transferred: [0-9]{1,2}",
        "      Transfer time: [0-9]+",
        "Effective baud rate: [0-9]+/9600",
        "  Number of packets: [0-9]+",
        "   Restarts/retries: 0/0",
        "         Last error: Transfer aborted by \\^C",
        "       Last message: 0 files received",
        "",
        "\\./huge: FAIL \\([0-9]+ secs [0-9]+ baud [0-9]{1,2} 0/0 [0-9]+/33554432 bytes\\)",
        "",
        "0 files received, aborted"}}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

TEST(ZmodemToRzCases, ExistingFileSkippedBatchGoesOn) {
    Bench b;
    const Files files = batch(13);
    putfiles(b.dst, {{"one", "keep"}});
    auto tx = vornline(b.pair.a, files, {"-2"});
    Peer rz(b.dst, b.pair.b, {"rz", "-q"});
    escape(*tx, 'S', names(files));
    EXPECT_EQ(summaryof(*tx, 60), "4 files sent, failed") << tx->screen();
    EXPECT_EQ(rz.wait(*tx, 20), 0) << rz.log();
    EXPECT_EQ(readfile(b.dst + "/one"), "keep");
    Files rest = files;
    rest.erase("one");
    expectsame(b.dst, rest);
    quit(*tx);
}

TEST(ZmodemToRzCases, ResumeContinuesRzsFile) {
    Bench b;
    const std::string data = randombytes(400000, 6);
    putfiles(b.dst, {{"big", data.substr(0, 200000)}});
    auto tx = vornline(b.pair.a, {{"big", data}}, {"-2"});
    Peer rz(b.dst, b.pair.b, {"rz", "-q"});
    escape(*tx, 'S', "big(r)");
    EXPECT_EQ(summaryof(*tx, 60), "1 file sent, success") << tx->screen();
    EXPECT_NE(tx->output().find("Restarting at 199680"), std::string::npos) << tx->screen();
    EXPECT_EQ(rz.wait(*tx, 20), 0) << rz.log();
    EXPECT_TRUE(readfile(b.dst + "/big") == data);
    quit(*tx);
}

} // namespace

namespace {

// Two copies of the program under WVornCRC with 7-bit escaping, over a line that clears bit 7
// both ways: binary files arrive whole only because every header and subpacket is armoured.
TEST(WVornCrc, ArmouredFramesCrossASevenBitLine) {
    TempDir d;
    NoisyLine line(d.path().string(), {"--seven"});
    if (!line.ok()) GTEST_SKIP() << "noisy-line relay not available";
    const Files files = {{"rand.bin", randombytes(60000, 21)}, {"all.bin", allbytes()}};
    auto rx = vornline(line.b, wvornrc, {"-1"});
    Files mine = files;
    mine.insert(wvornrc.begin(), wvornrc.end());
    auto tx = vornline(line.a, mine, {"-1"});
    escape(*rx, 'R', ".");
    escape(*tx, 'S', names(files));
    EXPECT_EQ(summaryof(*tx, 120), "2 files sent, success") << tx->screen();
    EXPECT_EQ(summaryof(*rx, 60), "2 files received, success") << rx->screen();
    expectsame(rx->dir().path().string(), files);
    quit(*tx);
    quit(*rx);
}

// Compression between two copies: text shrinks on the line, and over bit flips every ZRPOS
// restarts the coder and the decoder together (the ZCRCN frame end), so the files still arrive
// whole; a name with option (z) goes plain.
TEST(WVornCrc, CompressedBatchSurvivesNoise) {
    TempDir d;
    NoisyLine line(d.path().string(), {"--flip", "1e-4", "--seed", "5"});
    if (!line.ok()) GTEST_SKIP() << "noisy-line relay not available";
    const Files files = {{"t1.txt", textbytes(400000, 31)},
                         {"r.bin", randombytes(150000, 31)},
                         {"t2.txt", textbytes(100000, 32)},
                         {"e", ""}};
    auto rx = vornline(line.b, {}, {"-1"});
    auto tx = vornline(line.a, files, {"-1"});
    escape(*rx, 'R', ".");
    escape(*tx, 'S', "t1.txt r.bin t2.txt(z) e");
    EXPECT_EQ(summaryof(*tx, 120), "4 files sent, success") << tx->screen();
    EXPECT_EQ(summaryof(*rx, 60), "4 files received, success") << rx->screen();
    expectsame(rx->dir().path().string(), files);
    // The text went compressed to well under half its size.
    std::smatch m;
    const std::string out = tx->output();
    EXPECT_TRUE(std::regex_search(out, m, std::regex("compression factor ([0-9]+)\\.")) &&
                std::stoi(m[1]) >= 50)
        << out;
    EXPECT_NE(out.find("Resyncing back"), std::string::npos) << "the noise forced no restart";
    quit(*tx);
    quit(*rx);
}

// A WVornCRC server takes the destination word of XFER only inside its own directory, runs
// message commands for the client and refuses a shell command. A script sends the commands
// right after the transfer and after each other: answers to the last session's repeated
// invitations, still on their way, must not be taken for noise (that once cost every retry
// and ended in "No answer").
TEST(WVornCrc, ServerTakesDestinationsInsideAndCommands) {
    Bench b;
    RunOptions o;
    VornRun srv({"-1", "-c", "-l", b.pair.a}, o);
    const std::string home = srv.dir().path().string();
    fs::create_directories(home + "/sub");
    ASSERT_TRUE(srv.waitForOutput("[Server Mode]", 20)) << srv.screen();
    const Files f = {
        {"in.txt", textbytes(20000, 41)},
        {"out.txt", textbytes(3000, 42)},
        {"cmds.cmd", "xfer out.txt ..\nremote ?Greetings\nremote ?Again\nremote \"!touch " + home +
                         "/pwned\"\n"}};
    auto me = vornline(b.pair.b, f, {"-1"});
    escape(*me, 'X', "in.txt sub");
    EXPECT_TRUE(me->waitFor("1 file sent, success", 60)) << me->screen();
    EXPECT_TRUE(readfile(home + "/sub/in.txt") == f.at("in.txt"));
    escape(*me, ':', "do cmds");
    EXPECT_TRUE(me->waitFor("Remote command, failed", 60)) << me->screen();
    EXPECT_TRUE(srv.waitForOutput("Destination ignored: ..", 10)) << srv.screen();
    EXPECT_TRUE(readfile(home + "/out.txt") == f.at("out.txt"));
    EXPECT_FALSE(fs::exists(home + "/../out.txt"));
    const std::string out = me->output();
    EXPECT_EQ(out.find("No answer"), std::string::npos) << me->screen();
    EXPECT_NE(out.find("Remote command, success", out.find("?Again")), std::string::npos) << out;
    EXPECT_TRUE(srv.waitForOutput("Again", 10)) << srv.screen();
    EXPECT_TRUE(srv.waitForOutput("Remote shell command refused", 10)) << srv.screen();
    EXPECT_FALSE(fs::exists(home + "/pwned"));
    quit(*me);
}

// GET from a server, ZMODEM and WVornCRC: the server sends the named files back inside the
// command's session; names outside its directory are refused there and nothing arrives.
class ZmodemGet : public ::testing::TestWithParam<const char*> {};

TEST_P(ZmodemGet, ServerSendsFilesBackInsideItsDirectoryOnly) {
    Bench b;
    RunOptions o;
    o.files = {{"a.bin", randombytes(200000, 51)}, {"b.txt", textbytes(30000, 52)}, {"e", ""}};
    VornRun srv({GetParam(), "-c", "-l", b.pair.a}, o);
    const std::string home = srv.dir().path().string();
    writefile(home + "/../outside", "secret");
    fs::create_symlink("../outside", home + "/link"); // planted: it leads out
    ASSERT_TRUE(srv.waitForOutput("[Server Mode]", 20)) << srv.screen();
    auto me = vornline(b.pair.b, {}, {GetParam()});
    const std::string mine = me->dir().path().string();
    escape(*me, 'G', "a.bin b.txt e .");
    EXPECT_EQ(summaryof(*me, 60), "3 files received, success") << me->screen();
    expectsame(mine, o.files);
    auto listing = [&] {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(mine))
            names.insert(e.path().filename().string());
        return names;
    };
    const auto before = listing();
    escape(*me, 'G', "../outside link " + home + "/a.bin .");
    EXPECT_TRUE(me->waitFor("0 files received, failed", 30)) << me->screen();
    EXPECT_NE(me->output().find("Remote command refused or failed (result 1)"), std::string::npos)
        << me->screen();
    EXPECT_TRUE(srv.waitForOutput("Not in the server directory: ../outside", 10)) << srv.screen();
    EXPECT_TRUE(srv.waitForOutput("Not in the server directory: link", 10)) << srv.screen();
    EXPECT_EQ(listing(), before); // nothing written, not even a part file
    quit(*me);
}

INSTANTIATE_TEST_SUITE_P(Protocols, ZmodemGet, ::testing::Values("-1", "-2"), [](const auto& info) {
    return std::string(info.param[1] == '1' ? "wvorncrc" : "zmodem");
});

// lrzsz rz refuses commands (and may leave without a word): the program says the command
// failed within seconds, not after its retries.
TEST(ZmodemToRzCases, RemoteCommandRefusedQuickly) {
    Bench b;
    auto me = vornline(b.pair.a, {}, {"-2"});
    Peer rz(b.dst, b.pair.b, {"rz", "-q"});
    const auto t0 = std::chrono::steady_clock::now();
    escape(*me, ':', "remote \"!touch " + b.dst + "/pwned\"");
    EXPECT_TRUE(me->waitFor("Remote command, failed", 30)) << me->screen();
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    RecordProperty("seconds", std::to_string(secs));
    EXPECT_LT(secs, 12.0);
    EXPECT_FALSE(fs::exists(b.dst + "/pwned"));
    rz.wait(*me, 10);
    quit(*me);
}

} // namespace
