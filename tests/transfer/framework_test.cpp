// The framework pieces every engine shares: option groups on names, the list walker, received
// names, the part file and its refusals, time estimates.
#include "core/start.h"
#include "ports/settings.h"
#include "support/harness.h"
#include "support/portsupport.h"
#include "transfer/rcvname.h"
#include "transfer/xfer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(XferNames, OptionGroups) {
    struct Row {
        int prot;
        const char* word;
        const char* name;
        long bits;
    };
    // clang-format off
    const Row rows[] = {
        {0, "a(rc)", "a", OPT_R | OPT_C},
        {0, "A(RC)", "A", OPT_R | OPT_C},
        {0, "report(2).txt", "report(2).txt", 0},   // not at the end
        {0, "report(2)", "report(2)", 0},           // not option letters
        {0, "x(rq9)", "x(rq9)", 0},
        {0, "*.c[tz]", "*.c", OPT_T | OPT_Z | OPT_WILD},
        {7, "*.c[tz]", "*.c[tz]", OPT_WILD},        // "[" belongs to names under ZMODEM
        {7, "f(z)", "f", OPT_Z},
        {0, "list(f)", "list", OPT_F},
        {0, "a?b", "a?b", OPT_WILD},
        {0, "()", "", 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        errprot = r.prot;
        std::string w = r.word;
        EXPECT_EQ(setflags(w), r.bits) << r.word;
        EXPECT_EQ(w, r.name) << r.word;
    }
    errprot = 0;
    EXPECT_STREQ(optstring(OPT_R), "(r)");
    EXPECT_STREQ(optstring(OPT_R | OPT_C | OPT_T), "(rc)");
    EXPECT_STREQ(optstring(OPT_C), "(c)");
    EXPECT_STREQ(optstring(OPT_T), "");
}

TEST(XferNames, ListWalker) {
    TempDir d;
    const std::string p = d.path().string() + "/";
    for (const char* f : {"a.c", "b.c", "c.txt", "in list"})
        d.write(f, "x");
    fs::create_directory(d.file("sub.c")); // a directory is never sent
    d.write("list", "\n" + p + "a.c\n\n" + p + "c.txt(t) " + p + "nested(f)\n");
    std::vector<std::pair<std::string, long>> got;
    std::string out = captureconsole([&] {
        exlist(
            (p + "*.c " + p + "*.none " + p + "missing " + p + "list(f) " + p + "c.txt(r)").c_str(),
            2);
        for (std::string n; nxtlist(n);)
            got.emplace_back(n.substr(p.size()), flags);
    });
    const std::vector<std::pair<std::string, long>> want = {
        {"a.c", OPT_WILD}, {"b.c", OPT_WILD}, {"a.c", 0}, {"c.txt", OPT_T}, {"c.txt", OPT_R}};
    EXPECT_EQ(got, want);
    EXPECT_EQ(out, "No files found: " + p + "*.none\r\nCan't find " + p +
                       "missing\r\nNested [f] option ignored: " + p + "nested\r\nCan't find " + p +
                       "nested\r\n");
    // Names for the peer pass as they are.
    exlist("remote/file other", 1);
    std::string n;
    ASSERT_TRUE(nxtlist(n));
    EXPECT_EQ(n, "remote/file");
    EXPECT_EQ(listcount(), 2u);
}

TEST(XferNames, ReceivedNamesStayInTheDestination) {
    struct Row {
        std::string field;
        const char* path; // nullptr: refused
    };
    const std::string longname(300, 'a');
    // clang-format off
    const Row rows[] = {
        {"plain.txt", "dest/plain.txt"},
        {"../x", "dest/x"},
        {"/etc/passwd", "dest/passwd"},
        {"a/../../b", "dest/b"},
        {"C:\\dos\\FILE.TXT", "dest/FILE.TXT"},
        {"D:file", "dest/file"},
        {std::string("cut\0hidden", 10), "dest/cut"},
        {".", nullptr}, {"..", nullptr}, {"", nullptr}, {"dir/", nullptr},
        {"x\x1b[2J", nullptr}, {"del\x7f", nullptr}, {"tab\tname", nullptr},
        {longname, nullptr},
    };
    // clang-format on
    for (const Row& r : rows) {
        RcvName n = rcvname(r.field.data(), r.field.size(), "dest", false);
        EXPECT_EQ(n.ok, r.path != nullptr) << r.field;
        if (r.path) {
            EXPECT_EQ(n.path, r.path) << r.field;
        } else {
            EXPECT_FALSE(n.why.empty()) << r.field;
        }
    }
    EXPECT_EQ(rcvname("x", 1, "", false).path, "./x");
    EXPECT_EQ(rcvname("../../x", 7, "one.file", true).path, "one.file"); // the name is ignored
}

class PartFileTest : public ::testing::Test {
  protected:
    TempDir d;
    std::string at(const char* n) { return d.file(n).string(); }
    int open(PartFile& f, const char* n, bool resume = false, long size = -1) {
        long from = 0;
        std::string err;
        int r = f.open(at(n), resume, size, from, err);
        resumed = from;
        why = err;
        return r;
    }
    long resumed = 0;
    std::string why;
};

TEST_F(PartFileTest, TargetsThatAreNotPlainFilesAreRefused) {
    d.write("outside", "secret");
    fs::create_symlink(at("outside"), at("link"));
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_directory(at("adir"));
    d.write(".profile", "mine");
    for (const char* n : {"link", "fifo", "adir", ".profile"}) {
        PartFile f;
        EXPECT_EQ(open(f, n), -1) << n;
        EXPECT_FALSE(why.empty()) << n;
    }
    EXPECT_EQ(d.read("outside"), "secret");
    EXPECT_EQ(d.read(".profile"), "mine");
    PartFile f; // a new dot-file is fine
    ASSERT_EQ(open(f, ".newrc"), 0);
    ASSERT_TRUE(f.commit(0644, false));
    EXPECT_TRUE(d.exists(".newrc"));
}

TEST_F(PartFileTest, OldFileUntouchedUntilCommitAndModesMasked) {
    d.write("t", "old");
    chmod(at("t").c_str(), 0640);
    {
        PartFile f;
        ASSERT_EQ(open(f, "t"), 0);
        f.write(reinterpret_cast<const uint8_t*>("new!"), 4);
        EXPECT_EQ(d.read("t"), "old");
        EXPECT_TRUE(d.exists(".t.vorn-part"));
        f.abandon(false); // a failed transfer
    }
    EXPECT_EQ(d.read("t"), "old");
    EXPECT_FALSE(d.exists(".t.vorn-part"));
    {
        PartFile f;
        ASSERT_EQ(open(f, "t"), 0);
        f.write(reinterpret_cast<const uint8_t*>("new!"), 4);
        ASSERT_TRUE(f.commit(04777, false)); // an existing file keeps its own mode
    }
    EXPECT_EQ(d.read("t"), "new!");
    struct stat st {};
    stat(at("t").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u); // a new file's mode: VornPeer.TargetsAndModes
    // A destructor without commit deletes the part file.
    {
        PartFile g;
        ASSERT_EQ(open(g, "gone"), 0);
    }
    EXPECT_FALSE(d.exists(".gone.vorn-part"));
    EXPECT_FALSE(d.exists("gone"));
}

TEST_F(PartFileTest, ResumeRules) {
    const std::string part(5000, 'p');
    struct Row {
        bool resume;
        long announced;
        long from;
    };
    // clang-format off
    const Row rows[] = {
        {true, 10000, 4096},  // rolled back to a 1 KiB boundary
        {true, 5000, 4096},
        {true, 4999, 0},      // the part is longer than the file: received fresh
        {true, -1, 0},        // no size announced: no resume
        {false, 10000, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        d.write(".r.vorn-part", part);
        PartFile f;
        ASSERT_EQ(open(f, "r", r.resume, r.announced), 0);
        EXPECT_EQ(resumed, r.from) << r.announced;
        EXPECT_EQ(f.size(), r.from);
        f.abandon(true);
        EXPECT_EQ(static_cast<long>(fs::file_size(at(".r.vorn-part"))), r.from);
    }
    // A part file that is a link to something else is never continued.
    d.write("victim", part);
    fs::remove(at(".r.vorn-part"));
    fs::create_symlink(at("victim"), at(".r.vorn-part"));
    PartFile f;
    ASSERT_EQ(open(f, "r", true, 10000), 0);
    EXPECT_EQ(resumed, 0);
    f.abandon(false);
    EXPECT_EQ(d.read("victim"), part);
}

TEST(XferTime, Estimates) {
    TempDir d;
    d.write("f256", std::string(256, 'x'));
    d.write("f1000", std::string(1000, 'x'));
    const std::string p = d.path().string() + "/";
    settingsreset();
    baud = 2400;
    std::string out = captureconsole([&] { timefile((p + "f1000 " + p + "f256").c_str()); });
    EXPECT_NE(out.find("Filename                   Bytes      Records   Time to transmit\r\n"),
              std::string::npos);
    EXPECT_NE(out.find("      1000         8     6 secs\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("       256         3     3 secs\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("TOTAL: 1256 bytes, 10 records,   7 secs at 2400 baud\r\n"),
              std::string::npos)
        << out;
    baud = 9600;
    out = captureconsole([&] { timefile((p + "f1000").c_str()); });
    EXPECT_NE(out.find("      1000         8     6 secs\r\n"), std::string::npos) << out;
    settingsreset();
}

// A full disk (here: the file size limit, with its signal ignored so write reports EFBIG)
// is a write error; the old target stays as it was and no part file is left.
TEST_F(PartFileTest, FullDiskIsAWriteErrorAndTheOldFileStays) {
    d.write("t", "old");
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldsig = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    RcvFile f;
    ASSERT_EQ(open(f.part, "t"), 0);
    f.begin(0, false, -1);
    std::vector<uint8_t> block(128, 'x');
    bool ok = true;
    for (int i = 0; i < 1000 && ok; i++)
        ok = f.wrfile(block.data(), 128);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldsig);
    EXPECT_FALSE(ok);
    EXPECT_EQ(f.err, "File write error");
    f.part.abandon(false);
    EXPECT_EQ(d.read("t"), "old");
    EXPECT_FALSE(d.exists(".t.vorn-part"));
}

} // namespace
