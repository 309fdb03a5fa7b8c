// The native engine against a hostile peer: the test plays the other side byte by byte on a
// socat pseudo-serial pair while the engine runs in this process. Names, modes, counts,
// targets and restart offsets from the peer are refused or confined, and nothing outside the
// destination (nor an old file, when the transfer fails) is touched.
#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/modem.h"
#include "ports/settings.h"
#include "script/cmd.h"
#include "support/harness.h"
#include "support/portsupport.h"
#include "transfer/vornwire.h"
#include "transfer/xfer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <future>

namespace fs = std::filesystem;

namespace {

// The far end of the line, speaking VornCRC.
struct Peer {
    int fd = -1;
    explicit Peer(const std::string& dev = "") {
        if (dev.empty()) return;
        fd = open(dev.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    // The sending side up to the header: R, the receiver's letter, then the header.
    std::string offer(const std::string& name, long size, int mode = 0100644) const {
        put("R");
        std::string got = get(1);
        header(name, size, mode);
        return got;
    }
    // The rest of a one-file batch once the header was answered with K.
    void rest(const std::string& body) const {
        get(36);
        data(body);
        put("D");
        get(1);
    }
    void put(const std::string& s) const { writeall(fd, s); }
    std::string get(size_t n, double secs = 15) const { return readfor(fd, n, secs); }
    void block(uint8_t type, const std::vector<uint8_t>& data, int count, int seq) const {
        std::string out(framelen(Variant::VornCRC, static_cast<int>(data.size())), '\0');
        frameblk(Variant::VornCRC, type, data.data(), static_cast<int>(data.size()), count, seq,
                 reinterpret_cast<uint8_t*>(out.data()));
        put(out);
    }
    void header(const std::string& name, long size, int mode = 0100644, int hflags = 0) const {
        std::vector<uint8_t> d(128, 0);
        d[0] = 1;
        memcpy(d.data() + 1, name.data(), std::min<size_t>(name.size(), 14));
        d[16] = static_cast<uint8_t>(mode), d[17] = static_cast<uint8_t>(mode >> 8);
        d[18] = 2;
        for (int i = 0; i < 4; i++)
            d[27 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
        d[31] = static_cast<uint8_t>(hflags);
        block('F', d, 32, 0);
    }
    // The answer to a header: a restart at `at` (none when 0), no compression.
    void kblock(long at) const {
        uint8_t k[vorn::KN];
        packk(VornKblock{1, at != 0, at, vorn::OPT_Z}, k);
        block('K', std::vector<uint8_t>(k, k + vorn::KN), 16, 0);
    }
    // The receiving side: answers the handshake (a lone R) with Y, reads the header, answers it
    // with a K block for a restart at `at` (or none), then takes `blocks` data blocks (all and
    // the end of the batch when < 0), each answered G. Returns the data received.
    std::string take(long at, int blocks) const {
        for (std::string c; (c = get(1)) != "F";) {
            if (c.empty()) return {};
            if (c == "R" && get(1, 0.2).empty()) put("Y");
        }
        get(132);
        kblock(at);
        std::string got;
        for (std::string c; blocks != 0 && !(c = get(1)).empty() && c != "D"; put("G")) {
            if (c != "G") continue; // E
            std::string b = get(132);
            got += b.substr(2, static_cast<uint8_t>(b[0]));
            blocks--;
        }
        if (blocks < 0) put("G");
        return got;
    }
    // The whole plain sending side of one file after the header was answered.
    void data(const std::string& body) const {
        int seq = 1;
        for (size_t at = 0; at < body.size(); at += 128, seq++) {
            std::vector<uint8_t> d(128, 0);
            size_t n = std::min<size_t>(128, body.size() - at);
            memcpy(d.data(), body.data() + at, n);
            block('G', d, static_cast<int>(n), seq & 127);
            get(1);
        }
        put("E");
        get(1);
    }
};

class VornPeer : public ::testing::Test {
  protected:
    TempDir d;
    std::unique_ptr<SocatPair> pair;
    std::unique_ptr<LineOnly> line;
    Peer peer;
    std::string dest, outside;

    void SetUp() override {
        pair = std::make_unique<SocatPair>(d.path().string());
        ASSERT_TRUE(pair->ok());
        line = std::make_unique<LineOnly>();
        peer = Peer(pair->b);
        ASSERT_GE(peer.fd, 0);
        fs::create_directory(d.file("locks"));
        lockpre = d.file("locks").string() + "/LCK..%s";
        captureconsole([&] {
            ASSERT_EQ(cominit(pair->a.c_str()), 0);
            ASSERT_EQ(COM->vt(""), 0);
        });
        fs::create_directory(d.file("dest"));
        fs::create_directory(d.file("outside"));
        dest = d.file("dest").string();
        outside = d.file("outside").string();
        xferreset();
        errprot = 0;
        statflag = 0;
        rtime = 2;
    }
    void TearDown() override {
        captureconsole([] { comexit(); });
        line.reset();
        if (peer.fd >= 0) close(peer.fd);
        xferreset();
    }
    // Runs the receiver into `dest` while `script` plays the sender; the receiver's result.
    int receive(const std::function<void()>& script, std::string* out = nullptr) {
        auto th = std::async(std::launch::async, script);
        int r = -1;
        std::string o = captureconsole([&] { r = rcv("", dest.c_str()); });
        th.get();
        if (out) *out = o;
        return r;
    }
    std::vector<std::string> listing(const std::string& dir) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(VornPeer, NamesAreConfinedOrRefused) {
    struct Row {
        std::string name;
        const char* lands; // nullptr: refused with ^C
    };
    const Row rows[] = {
        {"../outside/ev", "ev"}, {"/etc/x", "x"}, {"a/../../b", "b"},
        {"x\x1b[2J", nullptr},   {"..", nullptr}, {"", nullptr},
    };
    for (const Row& r : rows) {
        std::string got;
        int res = receive([&] {
            got = peer.offer(r.name, 3);
            std::string ans = peer.get(1);
            ans == "K" ? peer.rest("abc") : void(got += ans);
        });
        if (r.lands) {
            EXPECT_EQ(res, 0) << r.name;
            EXPECT_EQ(d.read(std::string("dest/") + r.lands), "abc") << r.name;
            fs::remove(dest + "/" + r.lands);
        } else {
            EXPECT_EQ(res, 1) << r.name;
            EXPECT_EQ(got, "Y\x03") << r.name;
        }
        EXPECT_TRUE(listing(dest).empty()) << r.name;
        EXPECT_TRUE(listing(outside).empty()) << r.name;
    }
}

TEST_F(VornPeer, TargetsAndModes) {
    d.write("outside/secret", "keep");
    fs::create_symlink(outside + "/secret", dest + "/link");
    ASSERT_EQ(mkfifo((dest + "/fifo").c_str(), 0600), 0);
    d.write("dest/.profile", "mine");
    for (const char* name : {"link", "fifo", ".profile"}) {
        std::string got;
        EXPECT_EQ(receive([&] { peer.offer(name, 3), got = peer.get(1); }), 1) << name;
        EXPECT_EQ(got, "\x03") << name;
    }
    EXPECT_EQ(d.read("outside/secret"), "keep");
    EXPECT_EQ(d.read("dest/.profile"), "mine");
    // A setuid, world-writable mode arrives as the plain permission bits.
    const mode_t old = umask(022);
    EXPECT_EQ(receive([&] { peer.offer("suid", 3, 0106777), peer.get(1), peer.rest("abc"); }), 0);
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dest + "/suid").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(VornPeer, BadCountsSameNameTwiceAndAFailureKeepTheOldFile) {
    d.write("dest/old", "old contents");
    std::string answers;
    std::string out;
    int res = receive(
        [&] {
            peer.offer("old", 300);
            peer.get(37);
            std::vector<uint8_t> d(128, 'x');
            for (int count : {0, 129, 200, 255}) { // good CRC, impossible count
                peer.block('G', d, count, 1);
                answers += peer.get(1);
            }
            peer.block('G', d, 128, 1);
            answers += peer.get(1);
            peer.put("\x03"); // the sender gives up half way
        },
        &out);
    EXPECT_EQ(res, 1);
    EXPECT_EQ(answers, "BBBBG");
    EXPECT_NE(out.find("Abort by remote console"), std::string::npos) << out;
    EXPECT_EQ(d.read("dest/old"), "old contents");
    EXPECT_EQ(listing(dest), std::vector<std::string>{"old"}); // no part file left
    // A batch that names the same file twice overwrites nothing the second time.
    answers.clear();
    res = receive([&] {
        peer.offer("twice", 3);
        peer.get(37);
        peer.data("one");
        peer.header("twice", 3);
        answers = peer.get(1);
    });
    EXPECT_EQ(res, 1);
    EXPECT_EQ(answers, "\x03");
    EXPECT_EQ(d.read("dest/twice"), "one");
    // A header count other than 32 is a bad block.
    res = receive([&] {
        peer.put("R");
        peer.get(1);
        std::vector<uint8_t> h(128, 0);
        h[1] = 'h';
        peer.block('F', h, 31, 0);
        answers = peer.get(1);
        peer.put("\x03");
    });
    EXPECT_EQ(answers, "B");
}

TEST_F(VornPeer, SenderRefusesARestartPastTheEnd) {
    d.write("src", std::string(1000, 's'));
    struct Row {
        long offset;
        int result;
        std::string after; // what reaches the peer after the K block
    };
    const Row rows[] = {{1001, 1, "\x03"}, {-5, 1, "\x03"}, {1000, 0, "E"}};
    for (const Row& r : rows) {
        auto th = std::async(std::launch::async, [&] {
            peer.get(1); // R
            peer.put("Y");
            peer.get(133);
            peer.kblock(r.offset);
            std::string next = peer.get(1, 5);
            if (next == "E") {
                peer.put("G");
                peer.get(1); // D
                peer.put("G");
            }
            return next;
        });
        int res = -1;
        captureconsole([&] { res = snd(d.file("src").string().c_str(), ""); });
        EXPECT_EQ(res, r.result) << r.offset;
        EXPECT_EQ(th.get(), r.after) << r.offset;
    }
}

// A re-transfer after a cut connects again by the name connect was given, and the restart
// sends only what the peer does not have. The name is a service whose entry leads to a new
// line once the old one is dead, as a new call would.
TEST_F(VornPeer, ReTransferAfterACutConnectsAgainAndSendsOnlyTheRest) {
    fs::create_directory(d.file("two"));
    SocatPair second(d.file("two").string());
    ASSERT_TRUE(second.ok());
    Peer again(second.b);
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", d.path().c_str(), 1);
    d.write("service.sys", "line d " + pair->a + "\n");
    const std::string name = "line";
    const std::string data = std::string(1000, 'v') + "end";
    d.write("src", data);
    std::string first, rest;
    auto th = std::async(std::launch::async, [&] {
        first = peer.take(0, 3); // then silence: the line is cut
        d.write("service.sys", "line d " + second.a + "\n");
        rest = again.take(384, -1);
    });
    int res = -1;
    std::string out = captureconsole([&] {
        comexit();
        cmdreset();
        hardwired = 1;
        ASSERT_EQ(docmd(("connect " + name).c_str()), 0);
        EXPECT_EQ(connname, name);
        stim = 1, retries = 1, restart = 1;
        res = docmd(("xfer " + d.file("src").string() + " .").c_str());
    });
    th.get();
    close(again.fd);
    hardwired = 0;
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(res, 0) << out;
    EXPECT_NE(out.find("Rexfer #1\r\nConnect " + name + "\r\n"), std::string::npos) << out;
    EXPECT_EQ(first.size(), 384u);
    EXPECT_TRUE(first + rest == data) << rest.size();
}

} // namespace
