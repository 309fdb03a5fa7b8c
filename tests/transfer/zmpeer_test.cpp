// The ZMODEM receiver against a scripted sender on a socat pseudo-serial pair, the receiver
// running in this process: how it answers headers it could not read.
#include "core/start.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "support/harness.h"
#include "support/portsupport.h"
#include "transfer/xfer.h"
#include "transfer/zmframe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

namespace fs = std::filesystem;
using namespace zm;

namespace {

// Reads from `fd` into `got` until `want` arrived (true) or `secs` passed.
bool waitfor(int fd, std::string& got, const std::string& want, double secs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(secs);
    while (got.find(want) == std::string::npos) {
        const double left =
            std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        got += readfor(fd, 1, std::min(left, 0.05));
    }
    got.erase(0, got.find(want) + want.size());
    return true;
}

std::string hexof(int type) {
    return std::string("**\x18"
                       "B0") +
           static_cast<char>("0123456789abcdef"[type]);
}

// A damaged offer must be answered with a ZNAK at once. lrzsz sz takes a ZRINIT that comes
// after its offer as a crossing and waits five seconds for another header before offering
// again, so a receiver that invites again every few seconds keeps it waiting for good. This
// holds as well for a first offer whose header start is gone, from a sender whose invitation
// never arrived: bytes that make no header mean a sender is there, and the answer comes after
// the short quiet spell, not the long wait for a sender still being started.
struct DamageCase {
    const char* what;
    bool invitation; // the sender's ZRQINIT arrives
    size_t cut;      // bytes cut from the start of the first offer (0: a flag byte flipped)
    bool framegone;  // its frame end is gone too: nothing of it is recognisable
};

class ZmodemPeer : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ZmodemPeer, DamagedOfferGetsAZnakAndTheBatchEnds) {
    const DamageCase& c = GetParam();
    TempDir d;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    LineOnly only;
    const int fd = open(pair.b.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    fs::create_directory(d.file("locks"));
    lockpre = d.file("locks").string() + "/LCK..%s";
    captureconsole([&] {
        ASSERT_EQ(cominit(pair.a.c_str()), 0);
        ASSERT_EQ(COM->vt(""), 0);
    });
    fs::create_directory(d.file("dest"));
    xferreset();
    errprot = 7;
    statflag = 0;
    std::string steps;
    double answered = 0; // seconds from the damaged offer to the ZNAK
    auto sender = std::async(std::launch::async, [&] {
        ZmOut o;
        std::string got;
        const uint8_t zero[4] = {};
        auto send = [&] { // what came before is an answer to something earlier
            got += readfor(fd, 4096, 0.01);
            got.clear();
            writeall(fd, o.buf), o.clear();
        };
        auto step = [&](const char* what, int type) {
            steps += waitfor(fd, got, hexof(type), 3) ? what : "-";
        };
        if (c.invitation) {
            o.zshhdr(ZRQINIT, zero);
            send();
        }
        step("I", ZRINIT);
        const std::string info("e\0"
                               "0 0 100644",
                               12);
        auto offer = [&](bool damaged) {
            o.zsbhdr(ZFILE, zero, true);
            if (damaged && c.cut == 0) o.buf[4] ^= 1; // a flag byte: the header CRC fails
            if (damaged) o.buf.erase(0, c.cut);
            if (damaged && c.framegone)
                o.buf += info;
            else
                o.zsdata(reinterpret_cast<const uint8_t*>(info.data()), info.size(), ZCRCW);
            send();
        };
        const auto t0 = std::chrono::steady_clock::now();
        offer(true);
        step("N", ZNAK);
        answered = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        offer(false);
        step("P", ZRPOS);
        o.zsbhdr(ZDATA, zero, true);
        o.zsdata(nullptr, 0, ZCRCE);
        o.zsbhdr(ZEOF, zero, true);
        send();
        step("I", ZRINIT);
        o.zshhdr(ZFIN, zero);
        send();
        step("F", ZFIN);
        writeall(fd, "OO");
    });
    int res = -1;
    captureconsole([&] { res = rcv("", d.file("dest").c_str()); });
    sender.get();
    EXPECT_EQ(steps, "INPIF");
    EXPECT_LT(answered, 3.0);
    EXPECT_EQ(res, 0);
    EXPECT_TRUE(fs::exists(d.file("dest/e")));
    captureconsole([] { comexit(); });
    close(fd);
    xferreset();
}

INSTANTIATE_TEST_SUITE_P(Damage, ZmodemPeer,
                         ::testing::Values(DamageCase{"flag_flipped", true, 0, false},
                                           DamageCase{"start_cut_uninvited", false, 3, false},
                                           DamageCase{"all_lost_uninvited", false, 7, true}),
                         [](const auto& info) { return std::string(info.param.what); });

} // namespace
