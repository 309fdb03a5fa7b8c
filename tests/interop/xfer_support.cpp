#include "xfer_support.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

std::unique_ptr<VornRun> vornline(const std::string& port, const Files& files,
                                  std::vector<std::string> opts, std::vector<std::string> after) {
    std::vector<std::string> args = opts;
    // A plain start opens the command menu: these runs ask for terminal mode (-m) unless a mode
    // option or a script already chose it.
    bool chosen = !after.empty();
    for (const std::string& w : opts)
        chosen = chosen || (w.size() > 1 && w[0] == '-' && w.find_first_of("cfhqtuvx") != w.npos);
    if (!chosen) args.insert(args.begin(), "-m");
    args.insert(args.end(), {"-l", port});
    args.insert(args.end(), after.begin(), after.end());
    RunOptions o;
    o.files = files;
    auto run = std::make_unique<VornRun>(args, o);
    run->waitFor("Connected", 20);
    return run;
}

void escape(VornRun& run, char letter, const std::string& answer) {
    run.type("\x05");
    run.waitForOutput("=>", 10);
    run.type(std::string(1, letter));
    run.waitForOutput(":", 10);
    run.type(answer + "\r");
}

std::string summaryof(VornRun& run, double seconds) {
    static const std::regex re("[0-9]+ files? (sent|received), (success|failed|aborted)");
    std::string line;
    run.waitUntil(
        [&] {
            std::smatch m;
            // A program that lost its line ends and leaves its full-screen page: then what it
            // wrote last is judged.
            const std::string s = run.running() ? run.screen() : run.output();
            if (!std::regex_search(s, m, re)) return false;
            line = m[0];
            return true;
        },
        seconds);
    return line;
}

void quit(VornRun& run) {
    run.type("\x05");
    run.waitForOutput("=>", 10);
    run.type("q");
    run.wait(10);
}

std::string randombytes(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(g() & 0xff);
    return s;
}

std::string textbytes(size_t n, unsigned seed) {
    static const char* const words[] = {"the ",  "line ", "modem ", "transfer ", "block ",
                                        "file ", "of ",   "and ",   "to ",       "data ",
                                        "VORN ", "crc ",  "12345 ", "\n",        "\t"};
    std::mt19937 g(seed);
    std::string s;
    while (s.size() < n)
        s += words[g() % 15];
    s.resize(n);
    return s;
}

std::string allbytes() {
    std::string s;
    for (int r = 0; r < 4; r++)
        for (int i = 0; i < 256; i++)
            s += static_cast<char>(r & 1 ? 255 - i : i);
    return s;
}

std::string readfile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void writefile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary);
    f << data;
}

std::string NoisyLine::tool() {
    if (const char* e = getenv("VORN_NOISYLINE")) return e;
    // The relay travels with the tests, so a fresh clone runs the noise and crash cases too.
    const char* p = VORN_SOURCE_DIR "/tests/tools/noisyline.py";
    return access(p, R_OK) == 0 ? p : "";
}

NoisyLine::NoisyLine(const std::string& dir, std::vector<std::string> args,
                     const std::string& bcmd) {
    const std::string t = tool();
    if (t.empty() || access("/usr/bin/python3", X_OK) != 0) return;
    a = dir + "/pa", b = dir + "/pb";
    stats_ = dir + "/relay-stats.json";
    std::vector<std::string> argv = {"/usr/bin/python3", t,    "-q", "--stats", stats_,
                                     "--timeout",        "600"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!bcmd.empty()) argv.insert(argv.end(), {"--pty", "b"});
    argv.push_back("exec socat - PTY,raw,echo=0,link=" + a);
    argv.push_back(bcmd.empty() ? "exec socat - PTY,raw,echo=0,link=" + b : bcmd);
    if (!bcmd.empty()) b.clear();
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        std::vector<char*> v;
        for (auto& s : argv)
            v.push_back(s.data());
        v.push_back(nullptr);
        execv(v[0], v.data());
        _exit(127);
    }
    ok_ = pollfor(
        [&] { return access(a.c_str(), F_OK) == 0 && (b.empty() || access(b.c_str(), F_OK) == 0); },
        20);
    if (ok_) { // the port layer knows devices by their /dev names
        std::error_code ec;
        a = std::filesystem::canonical(a, ec).string();
        if (!b.empty()) b = std::filesystem::canonical(b, ec).string();
    }
}

void NoisyLine::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int st;
        waitpid(pid_, &st, 0);
        pid_ = -1;
    }
}

NoisyLine::~NoisyLine() {
    stop();
}

long NoisyLine::a2b() {
    stop();
    const std::string j = readfile(stats_);
    std::smatch m;
    static const std::regex re("\"a2b\"[^}]*?\"bytes_in\": *([0-9]+)");
    if (std::regex_search(j, m, re)) return std::stol(m[1]);
    return -1;
}
