// The transfer commands of the script language: settings, requests and their messages.
#include "core/start.h"
#include "script/cmd.h"
#include "support/portsupport.h"
#include "transfer/xfer.h"

#include <gtest/gtest.h>

namespace {

TEST(XferCommands, SettingsAndRequests) {
    struct Row {
        const char* line;
        int result;
        const char* shown;
    };
    // clang-format off
    const Row rows[] = {
        {"retries 5", 0, ""},
        {"rtime 3", 0, ""},
        {"stime 40", 0, ""},
        {"restart 2", 0, ""},
        {"retries many", 5, "Packet retry count expected\r\n"},
        {"rtime -1", 5, "Receive packet timeout expected\r\n"},
        {"stime", 5, "Send packet timeout expected\r\n"},
        {"restart 1x", 5, "Transfer restart count expected\r\n"},
        {"xprot zm", 5, "VORNCRC, WVORNCRC, VORN5, MODEM7, XMODEM, YMODEM, ZMODEM or KERMIT expected\r\n"},
        {"xprot zmod", 0, ""},
        {"xprot kermit", 0, ""},
        {"xprot vorn5", 0, ""},
        {"send", 1, "Filelist expected\r\n"},
        {"xfer", 1, "Usage: GET/XFER <filelist> <destdir>\r\n"},
        {"rcv", 1, "Receive directory or drive expected\r\n"},
        {"get onlyone", 1, "Usage: GET/XFER <filelist> <destdir>\r\n"},
        {"rcv dir*", 1, "Multiple files not allowed\r\n"},
        {"send /nonexistent/file", 1, "Can't find /nonexistent/file\r\n"},
    };
    // clang-format on
    cmdreset();
    xferreset();
    for (const Row& r : rows) {
        int res = -1;
        std::string out = captureconsole([&] { res = docmd(r.line); });
        EXPECT_EQ(res, r.result) << r.line;
        EXPECT_EQ(out, r.shown) << r.line;
    }
    EXPECT_EQ(retries, 5);
    EXPECT_EQ(rtime, 3);
    EXPECT_EQ(stim, 40);
    EXPECT_EQ(restart, 2);
    EXPECT_EQ(errprot, 1);
    errprot = 0;
    xferreset();
    cmdreset();
}

} // namespace
