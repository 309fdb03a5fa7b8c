// Feeds arbitrary lines to the command dispatcher and to parameter substitution, with a few
// variables defined and the commands that act outside the interpreter (files, console, line,
// alarms, exit) stubbed to no-ops. Console output goes to /dev/null; the sanitizers judge.
#include "script/cmd.h"
#include "script/expr.h"
#include "script/lex.h"
#include "script/var.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) dup2(fd, 1);
    scriptsandbox = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size < 600 ? size : 600);
    text = text.c_str(); // a line ends at its first NUL
    varreset();
    cmdreset();
    gac = 3;
    gav = {"file", "one", "two words"};
    docmd("setvar n 42");
    docmd("setvar s 'hello'");
    docmd("dimint a 4");
    docmd("dimstr ds 2");
    // Each line of the input in turn, so that conditionals and loops meet their closers.
    size_t start = 0;
    for (int lines = 0; start <= text.size() && lines < 64; lines++) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        char out[LINEMAX + 1];
        subparms(line.c_str(), out);
        docmd(line.c_str());
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (poolused() != 0 || inexpr || inlexpr || evaldepth) abort();
    cmdreset();
    varreset();
    return 0;
}
