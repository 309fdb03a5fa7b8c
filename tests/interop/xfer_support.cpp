#include "xfer_support.h"

#include <fstream>
#include <regex>

std::unique_ptr<VornRun> vornline(const std::string& port, const Files& files,
                                  std::vector<std::string> opts) {
    std::vector<std::string> args = opts;
    args.insert(args.end(), {"-l", port});
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
            const std::string s = run.screen();
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
