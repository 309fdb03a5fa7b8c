// Script lines dispatched per second: a command file with a 100,000-iteration repeat loop doing
// arithmetic and string building, beside the same loop in tclsh and in bash, measured in the
// same run. Prints the workload, our figure, each peer's figure and the ratio.
//
// The loop body is three lines (two assignments and the until test); the peers' loops do the
// same work, and their figure counts the same three lines per iteration.
#include "core/start.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "script/var.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long kIters = 100000;
constexpr double kLines = 3.0 * kIters + 2;

std::string writetemp(const std::string& text) {
    char path[] = "/tmp/vorn_benchXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "";
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    close(fd);
    return path;
}

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Runs a peer on a script file and returns the wall time, or 0 when it failed.
double peer(const char* prog, const std::string& script) {
    std::string path = writetemp(script);
    if (path.empty()) return 0;
    std::string cmd = std::string(prog) + " " + path + " >/dev/null 2>&1";
    auto t0 = std::chrono::steady_clock::now();
    int rc = system(cmd.c_str());
    double s = seconds(t0);
    unlink(path.c_str());
    return rc == 0 ? s : 0;
}

} // namespace

int main() {
    std::string n = std::to_string(kIters);
    std::string ours = "setvar i 0\nsetvar s ''\nrepeat\nsetvar i i + 1\n"
                       "setvar s right(s + chr(65 + i mod 26), 10)\nuntil i >= " +
                       n + "\n";
    std::string tcl = "set i 0\nset s {}\nwhile 1 {\n incr i\n"
                      " set s [string range \"$s[format %c [expr {65 + $i % 26}]]\" end-9 end]\n"
                      " if {$i >= " +
                      n + "} break\n}\n";
    std::string bash = "L=(A B C D E F G H I J K L M N O P Q R S T U V W X Y Z)\n"
                       "i=0\ns=\nwhile :; do\n i=$((i + 1))\n"
                       " s=\"$s${L[i % 26]}\"; s=${s: -10}\n"
                       " [ $i -ge " +
                       n + " ] && break\ndone\n";

    // The program's console is not looked at between lines here (there is none).
    qflag = 1;
    std::string path = writetemp(ours);
    setconswriter([](const char*, size_t) {});
    varreset();
    char* words[] = {path.data(), nullptr};
    auto t0 = std::chrono::steady_clock::now();
    int rc = cmdfile(1, words, 0);
    double our = seconds(t0);
    setconswriter(nullptr);
    unlink(path.c_str());
    if (rc != 0) fprintf(stderr, "the command file failed: %d\n", rc);

    double t = peer("tclsh", tcl);
    double b = peer("bash", bash);
    printf("%-34s %14s %14s %8s\n", "workload", "lines/s", "peer lines/s", "ratio");
    printf("%-34s %14.0f %14s %8s\n", "vorn repeat loop, 100000 turns", kLines / our, "", "");
    if (t > 0)
        printf("%-34s %14s %14.0f %8.2f\n", "  beside tclsh while loop", "", kLines / t,
               (kLines / our) / (kLines / t));
    if (b > 0)
        printf("%-34s %14s %14.0f %8.2f\n", "  beside bash while loop", "", kLines / b,
               (kLines / our) / (kLines / b));
    return 0;
}
