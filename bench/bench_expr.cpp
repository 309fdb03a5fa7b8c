// Expressions per second: the script evaluator beside Tcl's `expr` (tclsh, Debian package tcl)
// on the same mix of arithmetic, string and function-call expressions, measured in the same
// run. Prints the workload, our figure, tclsh's figure and the ratio.
#include "script/expr.h"
#include "script/lex.h"
#include "script/var.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Work {
    const char* name;
    const char* ours;
    const char* tcl;
};

// clang-format off
const Work mix[] = {
    {"arithmetic", "(n * 3 + 7) mod 11 - n / 2 + (n shl 2)",
                   "($n * 3 + 7) % 11 - $n / 2 + ($n << 2)"},
    {"string",     "left(s + 'world', 7) + str(n)",
                   "\"[string range \"${s}world\" 0 6]$n\""},
    {"functions",  "len(s) + asc(s) + val('123') + pos('l', s, 1)",
                   "[string length $s] + [scan [string index $s 0] %c] + 123 + [string first l $s] + 1"},
    {"logical",    "n > 3 and s = 'hello' or not t",
                   "$n > 3 && $s eq \"hello\" || !1"},
};
// clang-format on

constexpr long kIters = 200000;

double ours(const char* text) {
    ExprValue v;
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < kIters; i++) {
        glinep = text;
        expr(v, text);
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (v.type == V_NONE) fprintf(stderr, "evaluation failed: %s\n", text);
    return kIters / s;
}

// Runs the expression in a tclsh loop and returns the evaluations per second tclsh measured.
double tcl(const char* text) {
    char path[] = "/tmp/vorn_benchXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 0;
    std::string script = "set n 42\nset s hello\nproc run {n s} {\n set t0 [clock microseconds]\n"
                         " for {set i 0} {$i < " +
                         std::to_string(kIters) + "} {incr i} { set v [expr {" + text +
                         "}] }\n"
                         " return [expr {[clock microseconds] - $t0}]\n}\nputs [run $n $s]\n";
    if (write(fd, script.data(), script.size()) != static_cast<ssize_t>(script.size())) return 0;
    close(fd);
    std::string cmd = std::string("tclsh ") + path + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    double us = 0;
    if (p) {
        if (fscanf(p, "%lf", &us) != 1) us = 0;
        pclose(p);
    }
    unlink(path);
    return us > 0 ? kIters / (us / 1e6) : 0;
}

} // namespace

int main() {
    // Keep the evaluator's error output (there should be none) off the table.
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    varreset();
    dup2(null, 1);
    c_setvar("n 42");
    c_setvar("s 'hello'");
    dup2(saved, 1);
    printf("%-12s %16s %16s %8s\n", "workload", "vorn expr/s", "tclsh expr/s", "ratio");
    for (const Work& w : mix) {
        dup2(null, 1);
        double a = ours(w.ours);
        dup2(saved, 1);
        double b = tcl(w.tcl);
        if (b > 0)
            printf("%-12s %16.0f %16.0f %8.2f\n", w.name, a, b, a / b);
        else
            printf("%-12s %16.0f %16s %8s\n", w.name, a, "(no tclsh)", "-");
    }
    return 0;
}
