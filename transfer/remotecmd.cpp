// The script command `remote`: a command for the program on the other end of the line, in the
// form the transfer protocol in use gives it.
#include "core/fmt.h"
#include "core/start.h"
#include "script/cmds.h"
#include "transfer/kermit.h"
#include "transfer/xfer.h"
#include "transfer/zmodem.h"

#include <string>

int c_remote(const char* args) {
    std::string t = args ? args : "";
    while (!t.empty() && (t[0] == ' ' || t[0] == '\t'))
        t.erase(0, 1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.pop_back();
    if (t.size() >= 2 && t[0] == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
    if (t.empty()) return expaberr("Remote command");
    if (errprot == 3) return kremote(t);
    if (errprot == 6 || errprot == 7) return zmremote(t);
    remote(':', t.c_str());
    return 0;
}
