// Dialing, answering, hanging up and login dialogs against a scripted Hayes modem
// (tests/support/hayes_sim.py) on the far end of a socat pseudo-serial pair. The modem logs
// every byte and event with a time stamp, so byte order and guard times can be checked.
#include <gtest/gtest.h>

#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/modem.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "script/cmd.h"
#include "script/var.h"
#include "support/harness.h"
#include "support/portsupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Dialog strings are written with octal escapes, which keep the digits after a control byte
// digits: \024 the seconds to wait, \023 around awaited text, \022 the value to return, \014
// the loop point. The login the scripted modem's host answers:
const std::string login = "\02405\023login: \023guest\r\023Password: \023secret\r";

struct Event {
    double t;
    std::string what, data; // data as Python's repr of the bytes, e.g. b'ATDT5551234'
};

class Modem : public ::testing::Test {
  protected:
    TempDir d;
    std::unique_ptr<SocatPair> pair;
    LineOnly line;
    int sim = -1;
    int peer = -1; // the modem end, when a test plays the modem itself

    void start(std::vector<std::string> opts) {
        pair = std::make_unique<SocatPair>(d.path().string());
        ASSERT_TRUE(pair->ok());
        fs::create_directory(d.path() / "locks");
        lockpre = (d.path() / "locks").string() + "/LCK..%s";
        exitdtr = 1;
        initstr();
        modemreset();
        if (!opts.empty() && opts[0] == "self") {
            peer = open(pair->b.c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(peer, 0);
            termios t{};
            tcgetattr(peer, &t);
            cfmakeraw(&t);
            tcsetattr(peer, TCSANOW, &t);
        } else {
            std::vector<std::string> args{"/usr/bin/python3",
                                          VORN_SOURCE_DIR "/tests/support/hayes_sim.py", pair->b,
                                          pair->a, log()};
            args.insert(args.end(), opts.begin(), opts.end());
            sim = fork();
            if (sim == 0) {
                std::vector<char*> argv;
                for (std::string& s : args)
                    argv.push_back(s.data());
                argv.push_back(nullptr);
                execv(argv[0], argv.data());
                _exit(127);
            }
            ASSERT_GT(sim, 0);
            ASSERT_TRUE(pollfor([&] { return !events("ready").empty(); }, 10));
        }
        captureconsole([&] {
            ASSERT_EQ(cominit(pair->a.c_str()), 0);
            ASSERT_EQ(COM->vt(""), 0);
        });
        ASSERT_EQ(COM, &asyfuncs);
    }
    void TearDown() override {
        if (COM != &nulfunc) captureconsole([] { comexit(); });
        if (sim > 0) {
            kill(sim, SIGTERM);
            waitpid(sim, nullptr, 0);
        }
        if (peer >= 0) close(peer);
        initstr();
        modemreset();
        gtimeout = 0;
        gretval = 0;
    }
    std::string log() const { return (d.path() / "modem.log").string(); }
    // The modem's events named `what` ("cmd", "rx", "tx", "dtr", "escape"), or all with "".
    std::vector<Event> events(const std::string& what) const {
        std::vector<Event> out;
        std::ifstream in(log());
        for (std::string l; std::getline(in, l);) {
            std::istringstream ls(l);
            Event e;
            ls >> e.t >> e.what;
            std::getline(ls >> std::ws, e.data);
            if (what.empty() || e.what == what) out.push_back(e);
        }
        return out;
    }
    std::vector<std::string> cmds() const {
        std::vector<std::string> v;
        for (const Event& e : events("cmd"))
            v.push_back(e.data);
        return v;
    }
    // What was printed from the dialing on: re-opening the line reports the line first.
    static std::string from(const std::string& out, const char* first) {
        const size_t at = out.find(first);
        return at == std::string::npos ? out : out.substr(at);
    }
    static double secs(Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    }
};

TEST_F(Modem, DialsWithTheDefaultStringsPausesAndConnects) {
    start({});
    dredial = 0;
    int r = -1;
    const auto t0 = Clock::now();
    const std::string out = captureconsole([&] { r = docall("555 1234", 0); });
    const double took = secs(t0);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(from(out, "Calling"), "Calling 5551234\r\nCall connected\r\n");
    EXPECT_EQ(cnumber, "5551234");
    EXPECT_EQ(cmds(), (std::vector<std::string>{"b'ATV1E0M1Q0S7=60'", "b'ATDT5551234'"}));
    // One second after OK before the number, five after it before the connect wait.
    const auto rx = events("rx");
    const auto tx = events("tx");
    ASSERT_FALSE(tx.empty());
    std::string all;
    double firstafterok = -1;
    for (const Event& e : rx) {
        all += e.data.substr(2, e.data.size() - 3); // inside b'...'
        if (firstafterok < 0 && e.t > tx[0].t) firstafterok = e.t;
    }
    EXPECT_EQ(all, "ATV1E0M1Q0S7=60\\rATDT5551234\\r");
    EXPECT_EQ(tx[0].data, "b'\\r\\nOK\\r\\n'");
    EXPECT_GE(firstafterok - tx[0].t, 0.95);
    EXPECT_GE(took, 6.0);
    EXPECT_LT(took, 10.0);
}

TEST_F(Modem, BusyHangsUpAndRedialsUntilTheCallGoesThrough) {
    start({"--busy", "1"});
    dredial = 1;
    ddtr = 0;
    int r = -1;
    const auto t0 = Clock::now();
    const std::string out = captureconsole([&] { r = docall("5551234", 0); });
    // BUSY ends the connect wait at once: two dials, one hang-up, no 60-second wait.
    EXPECT_LT(secs(t0), 30.0);
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("No carrier, hanging up\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Redialing... Hanging up phone\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Call connected\r\n"), std::string::npos) << out;
    int dials = 0;
    for (const std::string& c : cmds())
        dials += c.rfind("b'ATDT", 0) == 0;
    EXPECT_EQ(dials, 2);
}

TEST_F(Modem, AModemThatNeverAnswersGivesUpWithTheMessages) {
    start({"--mute"});
    dredial = 0;
    int r = -1;
    const auto t0 = Clock::now();
    const std::string out = captureconsole([&] { r = docall("5551234", 0); });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(from(out, "Calling"),
              "Calling 5551234\r\nModem not responding\r\nToo many redials, call aborted\r\n");
    EXPECT_LT(secs(t0), 6.0);
}

TEST_F(Modem, AModemThatNeverStopsTalkingStillTimesOut) {
    start({"--noise"});
    int r = -1;
    const auto t0 = Clock::now();
    const std::string out = captureconsole([&] { r = call2("5551234"); });
    EXPECT_EQ(r, 1);
    EXPECT_EQ(out, "Calling 5551234\r\nModem not responding\r\n");
    EXPECT_LT(secs(t0), 6.0);
}

TEST_F(Modem, AnOverlongNumberIsSentWholeAndTheCallStillWorks) {
    start({});
    dredial = 0;
    const std::string number(3000, '7');
    int r = -1;
    captureconsole([&] { r = docall(number.c_str(), 0); });
    EXPECT_EQ(r, 0);
    const auto c = cmds();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[1], "b'ATDT" + number + "'");
}

TEST_F(Modem, AnswerModesSendTheirStrings) {
    struct Case {
        int mode;
        std::vector<std::string> opts;
        std::string out;
        std::vector<std::string> cmds;
    };
    const Case cases[] = {
        {ANS_AUTO, {}, "", {"b'ATV1E0M1Q0S7=60'", "b'ATS0=1'"}},
        {ANS_OFF, {}, "", {"b'ATV1E0M1Q0S7=60'", "b'ATS0=0'"}},
        {ANS_NOW, {}, "Answering phone\r\n", {"b'ATV1E0M1Q0S7=60'", "b'ATA'"}},
        {ANS_WAIT,
         {"--ring", "2"},
         "Waiting for ring, ^C to abort\r\nAnswering phone\r\n",
         {"b'ATV1E0M1Q0S7=60'", "b'ATA'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        start(c.opts);
        int r = -1;
        const std::string out = captureconsole([&] { r = answer(c.mode); });
        EXPECT_EQ(r, 0);
        EXPECT_EQ(out, c.out);
        // The last command's reply may still be on its way.
        pollfor([&] { return cmds().size() >= c.cmds.size(); });
        EXPECT_EQ(cmds(), c.cmds);
        if (c.mode == ANS_WAIT) {
            // Nothing but the initialisation before the ring, and ATA only after it.
            const auto rings = events("tx");
            double ring = -1, ata = -1;
            for (const Event& e : rings)
                if (ring < 0 && e.data.find("RING") != std::string::npos) ring = e.t;
            for (const Event& e : events("cmd"))
                if (e.data == "b'ATA'") ata = e.t;
            EXPECT_GT(ring, 0);
            // The log keeps milliseconds: an answer in the same one still came after the RING.
            EXPECT_GE(ata, ring);
        }
        TearDown();
        sim = -1;
        pair.reset();
    }
}

TEST_F(Modem, HangUpByDtrDropsTheCall) {
    start({});
    captureconsole([] { ASSERT_EQ(answer(ANS_NOW), 0); });
    ASSERT_TRUE(pollfor([&] { return !events("tx").empty() && cmds().size() == 2; }));
    int r = -1;
    const std::string out = captureconsole([&] { r = hangup(0); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out.rfind("Hanging up phone\r\n", 0), 0u) << out;
    const auto dtrs = events("dtr");
    ASSERT_FALSE(dtrs.empty());
    EXPECT_EQ(dtrs[0].data, "b'off'");
    bool nocarrier = false;
    for (const Event& e : events("tx"))
        nocarrier |= e.data.find("NO CARRIER") != std::string::npos;
    EXPECT_TRUE(nocarrier);
    EXPECT_EQ(dtr, 1);
    EXPECT_EQ(COM, &asyfuncs);
}

TEST_F(Modem, LoginDialogWaitsAndSendsWithAlternativesAndTimeOuts) {
    struct Case {
        const char* name;
        std::string dialog;
        int result, retval, timeout;
        double atleast;
    };
    const Case cases[] = {
        {"login", login + "\023Welcome\023", 0, 0, 0, 0},
        {"wrong password takes the alternative",
         "\02405\023login: \023guest\r\023Password: "
         "\023wrong\r\023Welcome\023|\023incorrect\023\02212",
         2, 1, 0, 0},
        {"nothing arrives", "\02402\023never said\023", 0, 0, 1, 1.9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start({"--login"});
        captureconsole([] { ASSERT_EQ(answer(ANS_NOW), 0); });
        int r = -1;
        const auto t0 = Clock::now();
        captureconsole([&] { r = dialog(c.dialog.c_str()); });
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(gretval, c.retval);
        EXPECT_EQ(gtimeout, c.timeout);
        EXPECT_GE(secs(t0), c.atleast);
        EXPECT_LT(secs(t0), 5.0);
        TearDown();
        sim = -1;
        pair.reset();
    }
}

TEST_F(Modem, CallRunsTheLoginAndATimedOutLoginHangsUp) {
    start({"--login"});
    dredial = 0;
    ddtr = 0;
    loginstr = "\02403\023login: \023guest\r\023Password: \023secret\r\023no such prompt\023";
    int r = -1;
    const std::string out = captureconsole([&] { r = docall("5551234", 0); });
    EXPECT_EQ(r, 1);
    EXPECT_NE(out.find("Logging In...\r\nLogin timeout\r\nHanging up phone\r\n"), std::string::npos)
        << out;
}

TEST_F(Modem, WaitsFindTextAcrossTheBufferRestartAndPastNulBytes) {
    start({"self"});
    struct Case {
        std::string sent, awaited;
        int result;
    };
    const Case cases[] = {
        {std::string(505, 'x') + "CONNECT 9600", "CONNECT", MW_MATCH},
        {std::string(5000, 'y') + "OK\r\n", "OK\r\n", MW_MATCH},
        {std::string("a\0b", 3) + "RING", "RING", MW_MATCH},
        {std::string(2000, 'z'), "OK", MW_TIMEOUT},
        {"\xcf\xcb", "OK", MW_MATCH}, // bit 7 is cleared before matching
    };
    for (const Case& c : cases) {
        comflush();
        ASSERT_TRUE(writeall(peer, c.sent));
        EXPECT_EQ(okwait(c.awaited.c_str(), 1), c.result) << c.sent.substr(0, 20);
    }
}

TEST_F(Modem, DialogSendsWhatItCollectedWithNulsAndLiteralBars) {
    start({"self"});
    struct Case {
        std::string dialog, sent;
    };
    const Case cases[] = {
        {"ab\x1a"
         "cd",
         std::string("ab\0cd", 5)},
        {"x\x0b|y|never sent", "x|y"},
        {"one\x17two", "onetwo"},
        {std::string(5000, 'q'), std::string(5000, 'q')},
    };
    for (const Case& c : cases) {
        int r = -1;
        captureconsole([&] { r = dialog(c.dialog.c_str()); });
        EXPECT_EQ(r, 0);
        EXPECT_EQ(readfor(peer, c.sent.size(), 5), c.sent);
        EXPECT_EQ(readfor(peer, 1, 0.2), "");
    }
}

// The user's hang-up runs the logout once and forgets it; without the DTR drop the modem's
// escape keeps the guard time after the logout's bytes, then the hang-up command goes.
TEST_F(Modem, UserHangUpRunsTheLogoutOnceThenEscapesAfterTheGuardTime) {
    start({"--login"});
    ddtr = 0;
    captureconsole([] { ASSERT_EQ(answer(ANS_NOW), 0); });
    loginstr = login + "\023Welcome\023";
    logoutstr = "exit\r\023logout\023";
    hardwired = 1; // no pause before the login
    ASSERT_EQ(chklogin(), 0);
    hardwired = 0;
    int r = -1;
    const auto t0 = Clock::now();
    const std::string out = captureconsole([&] { r = hangup(1); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(out.rfind("Logging Out...\r\nHanging up phone\r\n", 0), 0u) << out;
    EXPECT_EQ(events("logout").size(), 1u);
    EXPECT_TRUE(logoutstr.empty());
    EXPECT_EQ(events("escape").size(), 1u);
    EXPECT_TRUE(events("dtr").empty());
    EXPECT_EQ(cmds().back(), "b'ATHZ'");
    EXPECT_LT(secs(t0), 8.0);
}

TEST_F(Modem, ShownDialogsHideWhatAnswersAPasswordPrompt) {
    start({"self"});
    viewflag = 1;
    ASSERT_TRUE(writeall(peer, "login: "));
    std::string user, pass;
    std::thread host([&] {
        user = readfor(peer, 6, 5);
        writeall(peer, "Password: ");
        pass = readfor(peer, 7, 5);
    });
    int r = -1;
    const std::string out = captureconsole([&] { r = dialog(login.c_str()); });
    host.join();
    viewflag = 0;
    EXPECT_EQ(r, 0);
    EXPECT_EQ(gtimeout, 0);
    EXPECT_EQ(user, "guest\r");
    EXPECT_EQ(pass, "secret\r");
    EXPECT_NE(out.find("guest"), std::string::npos) << out;
    EXPECT_EQ(out.find("secret"), std::string::npos) << out;
    EXPECT_NE(out.find("*******"), std::string::npos) << out;
}

// The script's own waits on the line, against a peer the test plays: match alternatives,
// seconds with a silence allowance, carrier, reads and sends.
TEST_F(Modem, ScriptWaitsReadsAndSendsOnTheLine) {
    start({"self"});
    auto run = [](const char* line, std::string* out = nullptr) {
        int rc = -1;
        const std::string o = captureconsole([&] { rc = docmd(line); });
        if (out) *out = o;
        return rc;
    };
    std::string out;
    EXPECT_EQ(run("dialog 'AT' + 'Z'"), 0);
    EXPECT_EQ(readfor(peer, 3, 5), "ATZ");
    run("call", &out);
    EXPECT_NE(out.find("Number or Service expected"), std::string::npos) << out;
    // The second alternative arrives; in "aab" the first "a" is dropped to find "ab".
    ASSERT_TRUE(writeall(peer, "xxBUSY\r\n"));
    EXPECT_EQ(run("wait 'CONNECT|BUSY|NO CARRIER', 30"), 0);
    EXPECT_EQ(gretval, 1);
    ASSERT_TRUE(writeall(peer, "aab"));
    EXPECT_EQ(run("dwait 'x||y|ab'", &out), 0);
    EXPECT_EQ(gretval, 1);
    EXPECT_NE(out.find("aab"), std::string::npos) << "dwait shows what arrives: " << out;
    EXPECT_EQ(run("wait 'a|b|c|d|e|f|g|h|i|j|k'", &out), 1);
    EXPECT_EQ(out, "Too many cases\r\n");
    // The silence allowance of a match string runs out.
    auto t = Clock::now();
    EXPECT_EQ(run("wait 'never', 1"), 0);
    EXPECT_EQ(gtimeout, 1);
    EXPECT_NEAR(secs(t), 1, 0.6);
    // Seconds: a byte every 0.3 s keeps the silence allowance from running out, so the whole
    // 2 s pass without a time-out; then a silent line times out after the 1 s allowance.
    std::thread chatter([&] {
        for (int i = 0; i < 8; i++) {
            writeall(peer, ".");
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    });
    t = Clock::now();
    EXPECT_EQ(run("wait 2, 1"), 0);
    EXPECT_NEAR(secs(t), 2, 0.6);
    EXPECT_EQ(gtimeout, 0);
    chatter.join();
    captureconsole([] { comflush(); });
    t = Clock::now();
    EXPECT_EQ(run("wait 3, 1"), 0);
    EXPECT_NEAR(secs(t), 1, 0.6);
    EXPECT_EQ(gtimeout, 1);
    // Reads: a line up to CR (line feeds skipped), then a partial read that times out.
    ASSERT_TRUE(writeall(peer, "hello\r\nab"));
    EXPECT_EQ(run("cread s, 2"), 0);
    EXPECT_EQ(getvar("s", false)->str, "hello");
    EXPECT_EQ(run("cread s, 1, 5"), 0);
    EXPECT_EQ(getvar("s", false)->str, "\nab"); // a count reads line ends too
    EXPECT_EQ(gtimeout, 1);
    ASSERT_TRUE(writeall(peer, "-42\r"));
    EXPECT_EQ(run("creadint n, 2"), 0);
    EXPECT_EQ(getvar("n", false)->num, -42);
    EXPECT_EQ(run("xmit 'AT' + '^M'"), 0);
    EXPECT_EQ(readfor(peer, 3, 5), "AT\r");
    // Terminal mode under the script ends when a match string arrives.
    ASSERT_TRUE(writeall(peer, "xx Password:"));
    EXPECT_EQ(run("terminal 'ogin:|word:'", &out), 0) << out;
    EXPECT_EQ(gretval, 1);
    EXPECT_NE(out.find("xx Password:"), std::string::npos) << out;
    // Carrier: up while the far end holds the line, gone once it hangs up (the pair goes).
    EXPECT_EQ(run("wait carrier, 2"), 0);
    EXPECT_EQ(gtimeout, 0);
    EXPECT_EQ(run("wait nocarrier, 1"), 0);
    EXPECT_EQ(gtimeout, 1);
    kill(pair->pid(), SIGTERM);
    t = Clock::now();
    EXPECT_EQ(run("wait nocarrier, 10", &out), 0) << out;
    EXPECT_EQ(gtimeout, 0);
    EXPECT_LT(secs(t), 5);
    releaseall();
}

} // namespace

// Dialog parsing needs no modem: these end before anything is awaited, or time out at once on
// the null line.
TEST(Dialog, ParsesControlCharactersAndRefusesBadCases) {
    struct Case {
        std::string text, out;
        int result, retval;
    };
    std::string eleven = "\02401\023a\023";
    for (int i = 0; i < 10; i++)
        eleven += "|\023b\023";
    const Case cases[] = {
        {"\02202", "", 2, 0},
        {"\0225", "", 1, 5},
        {"\022", "", 1, 0},
        {"text|more", "", 0, 0},
        {"\023a\023|b", "Bad multiple case\r\n", 1, 0},
        {"\023a\023|", "Bad multiple case\r\n", 1, 0},
        {eleven, "Too many cases\r\n", 1, 0},
    };
    LineOnly line;
    for (const Case& c : cases) {
        int r = -1;
        const std::string out = captureconsole([&] { r = dialog(c.text.c_str()); });
        EXPECT_EQ(r, c.result) << c.text;
        EXPECT_EQ(out, c.out) << c.text;
        EXPECT_EQ(gretval, c.retval) << c.text;
    }
    gretval = 0;
}

TEST(Dialog, LoopPointRestartsAfterATimeOut) {
    LineOnly line;
    const auto t0 = Clock::now();
    int r = -1;
    captureconsole([&] { r = dialog("\02401\01403\023never\023"); });
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(gtimeout, 1);
    EXPECT_GE(took, 2.9); // three waits of one second
    EXPECT_LT(took, 5.0);
    gtimeout = 0;
}

TEST(DialNumbers, NumbersAreToldFromServicesAndAddresses) {
    const std::pair<const char*, bool> cases[] = {
        {"5551234", true}, {"*70,5551234", true}, {",5551234", true}, {"+15551234", true},
        {"#31#555", true}, {" 555", true},        {"myhost", false},  {"telnet:host", false},
        {"1:2", false},    {"", false},           {"none", false},
    };
    for (const auto& [text, num] : cases)
        EXPECT_EQ(isnumber(text), num) << text;
}
