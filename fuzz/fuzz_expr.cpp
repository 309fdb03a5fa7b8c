// Feeds arbitrary lines to the expression evaluator, the assignment target parser and the
// variable commands, with a few variables of every kind defined. The console output goes to
// /dev/null; the sanitizers judge.
#include "script/expr.h"
#include "script/lex.h"
#include "script/var.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
std::filesystem::path workdir;
}

// uniq() creates files: run in a private directory that goes at exit.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 1);
    char dir[] = "/tmp/vorn_fuzzXXXXXX";
    if (mkdtemp(dir) && chdir(dir) == 0) {
        workdir = dir;
        atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(workdir, ec);
        });
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Script lines are at most 255 characters and end at the first NUL.
    std::string line(reinterpret_cast<const char*>(data), size < 255 ? size : 255);
    line = line.c_str();
    varreset();
    c_setvar("n 42");
    c_setvar("s 'hello'");
    c_setvar("b t");
    c_dimint("a 4");
    c_dimstr("ds 3");
    c_dimlog("dl 2");
    c_setvar("ds[1] 'x'");
    glinep = line.c_str();
    ExprValue v;
    expr(v, line.c_str());
    lexpr(v, line.c_str());
    c_setvar(line.c_str());
    c_dimint(line.c_str());
    c_release(line.c_str());
    if (poolused() != 0 || inexpr || inlexpr) abort();
    varreset();
    return 0;
}
