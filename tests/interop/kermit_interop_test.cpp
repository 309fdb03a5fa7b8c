// Kermit against C-Kermit and gkermit on a socat pseudo-serial pair, both ways: in binary mode
// random data, every byte value, long runs (repeat counts) and names with "#", "&" and "~"; in
// text mode lines that end in LF here and CR LF on the line.
#include "peer_support.h"
#include "xfer_support.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

// C-Kermit sends names in its common form (upper case, "#" and "~" replaced), so the name
// with prefix characters travels only from VORN.
Files kfiles(unsigned seed, bool oddname, bool text) {
    if (text)
        return {{"lines.txt", "first line\nsecond\n\n\tindented ~#&\nno newline"},
                {"short.txt", std::string(200, '-') + "\n"}};
    Files f = {{"rand.bin", randombytes(200000, seed)},
               {"all.bin", allbytes()},
               {"runs.bin", std::string(3000, 'x') + std::string(500, '\0') + "~~~~####&&&&"},
               {"empty", ""}};
    if (oddname) f["n#a&m~e"] = "odd name\n";
    return f;
}

std::string upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

struct KCase {
    const char* what;
    const char* cmd; // %s: the names
    bool vornsends;
    bool literal = false; // the peer keeps names as they are (gkermit -P)
    bool text = false;    // both ends in text mode
};

class KermitPeer : public ::testing::TestWithParam<KCase> {};

TEST_P(KermitPeer, FilesArriveByteForByte) {
    const KCase& c = GetParam();
    TempDir d, peerdir;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    Files files = kfiles(c.vornsends ? 2 : 6, c.vornsends || c.literal, c.text);
    std::string names, list;
    for (const auto& [name, data] : files) {
        names += " '" + name + "'";
        list += name + "\n";
    }
    std::string cmd = c.cmd;
    if (cmd.find("%s") != std::string::npos) cmd.replace(cmd.find("%s"), 2, names);
    if (!c.vornsends)
        for (const auto& [name, data] : files)
            peerdir.write(name, data);
    Files vfiles = c.vornsends ? files : Files{};
    vfiles["list"] = list;
    auto run = vornline(pair.a, vfiles, {"-k"});
    Peer peer(cmd, peerdir.path().string(), pair.b);
    if (c.vornsends)
        escape(*run, 'S', c.text ? "list(fc)" : "list(f)");
    else
        escape(*run, 'R', c.text ? ".(c)" : ".");
    const std::string n = std::to_string(files.size());
    EXPECT_EQ(summaryof(*run, 60),
              n + " files " + (c.vornsends ? "sent" : "received") + ", success")
        << run->screen();
    EXPECT_EQ(peer.wait(30), 0) << peer.log();
    for (const auto& [name, data] : files) {
        const std::string at = c.vornsends
                                   ? peerdir.file(name).string()
                                   : run->dir().file(c.literal ? name : upper(name)).string();
        const std::string got = readfile(at);
        EXPECT_TRUE(got == data) << name << ": " << got.size() << " bytes of " << data.size();
    }
    quit(*run);
}

// C-Kermit asks for the 3-character check by default, so the plain rows run it both ways; the
// settings take effect only when the transfer itself is a -C command.
// clang-format off
INSTANTIATE_TEST_SUITE_P(CKermit, KermitPeer, ::testing::Values(
    KCase{"ckermit_sends", "kermit -Y -q -i -s%s", false},
    KCase{"ckermit_sends_repeat_short", "kermit -Y -q -i -C 'set receive packet-length 30, set repeat counts on, set block-check 3, msend *.bin empty, exit'", false},
    KCase{"ckermit_receives", "kermit -Y -q -i -r", true},
    KCase{"ckermit_sends_check2", "kermit -Y -q -i -C 'set block-check 2, msend *.bin empty, exit'", false},
    KCase{"ckermit_receives_check1", "kermit -Y -q -i -C 'set block-check 1, receive, exit'", true},
    KCase{"ckermit_sends_long", "kermit -Y -q -i -C 'set send packet-length 9024, msend *.bin empty, exit'", false},
    KCase{"ckermit_sends_long_1000_check1", "kermit -Y -q -i -C 'set block-check 1, set send packet-length 1000, msend *.bin empty, exit'", false},
    KCase{"ckermit_receives_long_500", "kermit -Y -q -i -C 'set receive packet-length 500, receive, exit'", true},
    KCase{"ckermit_receives_long", "kermit -Y -q -i -C 'set receive packet-length 9024, receive, exit'", true}),
    [](const auto& info) { return std::string(info.param.what); });
INSTANTIATE_TEST_SUITE_P(GKermit, KermitPeer, ::testing::Values(
    KCase{"gkermit_sends", "gkermit -q -P -i -s%s", false, true},
    KCase{"gkermit_receives", "gkermit -q -P -i -r", true, true},
    KCase{"gkermit_sends_text", "gkermit -q -P -T -s%s", false, true, true},
    KCase{"gkermit_receives_text", "gkermit -q -P -T -r", true, true, true},
    KCase{"gkermit_receives_long_2000", "gkermit -q -P -i -e 2000 -r", true, true}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

} // namespace

namespace {

// VORN as the client of a C-Kermit server: GET of two names and of a missing one, remote cwd
// followed by a directory listing that shows the new directory's file, a host command, finish.
TEST(KermitServer, GetAndRemoteCommands) {
    TempDir d, srv, other;
    SocatPair pair(d.path().string());
    ASSERT_TRUE(pair.ok());
    const Files files = {{"g1.bin", randombytes(30000, 4)}, {"g2.bin", allbytes()}};
    for (const auto& [name, data] : files)
        srv.write(name, data);
    other.write("only-in-other", "x");
    Peer peer("kermit -Y -q -x", srv.path().string(), pair.b);
    auto run = vornline(pair.a, {}, {"-k"});
    auto cmd = [&](const std::string& line, const std::string& want) {
        escape(*run, ':', line);
        EXPECT_TRUE(run->waitFor(want, 30)) << line << "\n" << run->screen();
    };
    cmd("get g1.bin g2.bin .", "2 files received, success");
    for (const auto& [name, data] : files)
        EXPECT_TRUE(readfile(run->dir().file(upper(name)).string()) == data ||
                    readfile(run->dir().file(name).string()) == data)
            << name;
    cmd("get nosuch.bin .", "failed");
    EXPECT_NE(run->output().find("Get failed on file: nosuch.bin"), std::string::npos);
    cmd("remote cwd " + other.path().string(), "received, success");
    cmd("remote directory", "only-in-other");
    cmd("remote echo hi-there", "hi-there");
    escape(*run, ':', "remote finish"); // the server leaves server mode and, started with -x, ends
    EXPECT_EQ(peer.wait(20), 0) << peer.log();
    EXPECT_EQ(summaryof(*run, 10), "0 files received, success");
    quit(*run);
}

} // namespace
