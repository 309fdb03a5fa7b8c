// Action commands: connecting, waiting for and sending text, console input and output, files and
// operating-system commands.
#include "script/cmds.h"

#include "config/conffile.h"
#include "config/menu.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/lex.h"
#include "script/settab.h"
#include "script/var.h"
#include "transfer/xfer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// answer wait|auto|now|off
int c_answer(const char* args) {
    const int mode = selvalue(answlist, word(args, nullptr));
    if (mode < 0) return selexpect(answlist), RC_EXPECTED;
    return answer(mode) ? RC_ERROR : RC_OK;
}
// call number[;number...] | service | none
int c_call(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    if (!*args) return expaberr("Number or Service"), RC_EXPECTED;
    const int r = dialrec(args, 0);
    return r == 2 ? RC_ABORT : r ? RC_ERROR : RC_OK;
}
namespace {
std::string confname; // the configuration file connect ran last
} // namespace

// connect file [args] | service: a configuration file runs as a script (".con"); a service or
// an address is connected through the service directory.
int c_connect(const char* name) {
    if (servicename(name)) {
        std::string n = name;
        while (!n.empty() && (n.back() == ' ' || n.back() == '\t'))
            n.pop_back();
        size_t a = n.find_first_not_of(" \t");
        const std::string asked = a == std::string::npos ? "" : n.substr(a);
        if (connservice(asked.c_str(), 1) != 1) return 1;
        connname = asked, conndialled = false; // a re-transfer connects it again
        return 0;
    }
    // The configuration runs as a script: it is looked for where only the user puts files.
    const char* rest = nullptr;
    const std::string w = word(name, &rest);
    if (w.empty()) return expaberr("Filename"), RC_EXPECTED;
    const std::string path = findconf(w.c_str());
    if (path.empty()) return RC_ERROR;
    const char q = path.find('"') == std::string::npos ? '"' : '\'';
    if (path.find(q) != std::string::npos)
        return aberr("Illegal character in filename\r\n"), RC_ERROR;
    loginstr.clear(), logoutstr.clear(), startstr.clear(), stopstr.clear();
    confname = w;
    const std::string asked = w + (rest && *rest ? std::string(" ") + rest : "");
    const int r =
        dofile((q + path.substr(0, path.size() - 4) + q + " " + (rest ? rest : "")).c_str(), 2);
    if (r == 0) connname = asked, conndialled = false; // a re-transfer runs it again
    return r;
}
// dialog string-expression
int c_dialog(const char* args) {
    ExprValue v;
    if (!strexpr(v, args)) return RC_ERROR;
    const int r = dialog(v.text);
    return r == 2 ? RC_ABORT : r ? RC_ERROR : RC_OK;
}
// hangup: the logout dialog, then the line is hung up
int c_hangup(const char*) {
    return hangup(1) ? RC_ERROR : RC_OK;
}

// display expression {, expression} [;]
int c_display(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    if (!*args) {
        outs("\r\n");
        return RC_OK;
    }
    bool first = true;
    for (;;) {
        ExprValue v;
        if (!expr(v, first ? args : nullptr)) return RC_ERROR;
        first = false;
        pval(v);
        if (op == ',') {
            etoken();
            continue;
        }
        if (op == ';') return RC_OK;
        break;
    }
    outs("\r\n");
    return RC_OK;
}

// pause [text]: waits for a key.
int c_pause(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    if (*args == '"' || *args == '\'') {
        char text[LINEMAX + 1];
        const char* p = args + 1;
        if (scanstr(p, *args, text, sizeof text) >= 0)
            outs(text);
        else
            outs(args);
    } else {
        outs(*args ? args : "Strike a key when ready...");
    }
    oflush();
    int k = chrin();
    outs("\r\n");
    return k == abochar && canabort ? RC_ABORT : RC_OK;
}

// quit [code]: ends the program; during a remote ZMODEM session the end waits for the running
// line to finish.
int c_quit(const char* args) {
    const char* w = word(args, nullptr);
    int code = atoi(w);
    if (code < 0) code = 0;
    if (cflag && (errprot == 6 || errprot == 7) && flevel) {
        quitpend = 0;
        return RC_OK;
    }
    doneterm(code);
}

// ---- waiting for text on the line ----------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

const char* skipblanks(const char* p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

// An `on delay` or `on key` event waits for its handler.
bool eventpending() {
    return ev_delay || ev_key;
}

} // namespace

namespace {

// Splits a match string at "|" into at most MAXCASES alternatives ("||" is a literal "|").
bool splitcases(const char* text, std::vector<std::string>& alts) {
    alts.assign(1, std::string());
    for (const char* p = text; *p; p++) {
        if (*p == '|' && p[1] == '|') {
            alts.back() += '|';
            p++;
        } else if (*p == '|') {
            if (alts.size() == MAXCASES) return aberr("Too many cases\r\n"), false;
            alts.emplace_back();
        } else {
            alts.back() += *p;
        }
    }
    return true;
}

// Watches received characters for any of the alternatives. The buffer holds what could still
// begin one; a character that fits none drops the buffer's first characters until it does, so
// "ab" is found in "aab".
struct CaseMatcher {
    std::vector<std::string> alts;
    std::string buf;
    // The index of the alternative the character completes, or -1.
    int add(int c);
};

int CaseMatcher::add(int c) {
    buf += static_cast<char>(c);
    while (!buf.empty()) {
        bool prefix = false;
        for (size_t i = 0; i < alts.size(); i++) {
            if (alts[i].empty()) continue;
            if (alts[i] == buf) {
                buf.clear();
                return static_cast<int>(i);
            }
            if (alts[i].compare(0, buf.size(), buf) == 0) prefix = true;
        }
        if (prefix) break;
        buf.erase(0, 1);
    }
    return -1;
}

// A received byte during a wait: 7 bits under maskpar; dwait also shows and captures it.
int received(int c, bool show) {
    if (maskpar) c &= 127;
    if (show) dispcapt(c);
    return c;
}

// wait/dwait carrier|nocarrier [, seconds]: the limit counts wall-clock seconds, so a chatty
// line still times out.
int waitcarrier(bool want, const char* rest, bool show) {
    int limit = 0;
    rest = skipblanks(rest);
    if (*rest == ',') {
        ExprValue v;
        if (!numexpr(v, rest + 1)) return RC_ERROR;
        limit = v.number;
    }
    if (chkconnect()) return RC_ERROR;
    const auto start = Clock::now();
    while ((carrier() != 0) != want) {
        if (limit > 0 && since(start) >= limit) return gtimeout = 1, RC_OK;
        const int c = comwait(1);
        if (c == -1) return RC_ABORT;
        if (eventpending()) return RC_EVENT;
        if (c >= 0) received(c, show);
    }
    return RC_OK;
}

// wait N [, M]: N seconds in all, M of them (N when absent or 0) without any character.
int waitseconds(int total, int silence, bool comma, bool show) {
    if (comma && chkconnect()) return RC_ERROR;
    if (silence <= 0) silence = total;
    const bool nolimit = comma && total == 0;
    const auto start = Clock::now();
    auto quiet = start;
    for (;;) {
        const bool silent = since(quiet) >= silence;
        if (!nolimit && since(start) >= total) return gtimeout = silent, RC_OK;
        if (silent) return gtimeout = 1, RC_OK;
        const int c = comwait(1);
        if (c == -1) return RC_ABORT;
        if (eventpending()) return RC_EVENT;
        if (c >= 0) {
            received(c, show);
            quiet = Clock::now();
        }
    }
}

// wait 'a|b|c' [, T]: the alternative that arrives sets _retval; T is a silence allowance.
int waitstring(const char* text, int silence, bool show) {
    CaseMatcher m;
    if (!splitcases(text, m.alts)) return RC_ERROR;
    if (chkconnect()) return RC_ERROR;
    auto quiet = Clock::now();
    for (;;) {
        if (silence > 0 && since(quiet) >= silence) return gtimeout = 1, RC_OK;
        const int c = comwait(1);
        if (c == -1) return RC_ABORT;
        if (eventpending()) return RC_EVENT;
        if (c < 0) continue;
        quiet = Clock::now();
        const int b = received(c, show);
        if (b == 0) continue;
        if (const int k = m.add(b); k >= 0) return gretval = k, RC_OK;
    }
}

int linewait(const char* args, bool show) {
    gtimeout = 0;
    oflush();
    static const char* const carr[] = {"carrier", "nocarrier", nullptr};
    std::string first = skipblanks(args);
    first = first.substr(0, first.find(','));
    while (!first.empty() && (first.back() == ' ' || first.back() == '\t'))
        first.pop_back();
    if (!first.empty() && first.find_first_of(" \t") == std::string::npos) {
        const int which = toklist(first.c_str(), nullptr, carr);
        if (which >= 0) return waitcarrier(which == 0, skipblanks(args) + first.size(), show);
    }
    constexpr const char* what = "CARRIER, NOCARRIER, number, or match string";
    ExprValue v;
    const int t = expr(v, args);
    if (t != V_NUM && t != V_STR) return expaberr(what), RC_EXPECTED;
    int second = 0;
    const bool comma = op == ',';
    if (comma) {
        ExprValue w;
        etoken();
        if (!numexpr(w, nullptr)) return RC_ERROR;
        second = w.number;
    }
    if (t == V_NUM) return waitseconds(v.number, second, comma, show);
    return waitstring(v.text, second, show);
}

} // namespace

int c_wait(const char* args) {
    return linewait(args, false);
}
int c_dwait(const char* args) {
    return linewait(args, true);
}

// xmit string: each byte through the timed output; `set view on` shows them.
int c_xmit(const char* args) {
    ExprValue v;
    if (!strexpr(v, args)) return RC_ERROR;
    if (chkconnect()) return RC_ERROR;
    for (const char* p = v.text; *p; p++) {
        tcomout(static_cast<unsigned char>(*p));
        if (viewflag) zzprintf("%kc", static_cast<unsigned char>(*p));
    }
    return RC_OK;
}

namespace {

// cread/creadint target [, timeout [, count [, flags]]]
int lineread(const char* args, bool number) {
    ExprValue target;
    if (!lexpr(target, args)) return RC_ERROR;
    int parm[3] = {0, 0, 0}; // time-out, count, flags
    for (int& x : parm) {
        if (op != ',') break;
        etoken();
        ExprValue v;
        if (!numexpr(v, nullptr)) return RC_ERROR;
        x = v.number;
    }
    const int timeout = parm[0], flags = parm[2];
    const int count = parm[1] > 255 ? 255 : parm[1];
    gtimeout = 0;
    if (chkconnect()) return RC_ERROR;
    std::string got;
    int rc = RC_OK;
    auto quiet = Clock::now();
    while (static_cast<int>(got.size()) < (count > 0 ? count : 255)) {
        if (timeout > 0 && since(quiet) >= timeout) {
            gtimeout = 1;
            break;
        }
        int c = comwait(1);
        if (c == -1) {
            rc = RC_ABORT;
            break;
        }
        if (eventpending()) {
            rc = RC_EVENT;
            break;
        }
        if (c < 0) continue;
        quiet = Clock::now();
        if (maskpar) c &= 127;
        if ((flags & 1) && inigtab[c]) continue;
        if ((flags & 2) && intrtab) c = intrtab[c];
        if (c == 0) continue;
        if (count <= 0) {
            if (c == '\n') continue;
            if (c == '\r') break;
        }
        got += static_cast<char>(c);
    }
    ExprValue val;
    if (number) {
        val.type = V_NUM;
        val.number = static_cast<int32_t>(strtol(got.c_str(), nullptr, 10));
    } else {
        val.type = V_STR;
        memcpy(val.text, got.data(), got.size());
        val.text[got.size()] = 0;
    }
    if (setvar(target, val, number ? 0 : static_cast<int>(got.size()))) return RC_ERROR;
    return rc;
}

} // namespace

int c_cread(const char* args) {
    return lineread(args, false);
}
int c_creadint(const char* args) {
    return lineread(args, true);
}

// terminal [match [, exit char]] | terminal nocarrier
int c_terminal(const char* args) {
    static const char* const nc[] = {"nocarrier", nullptr};
    const char* p = skipblanks(args);
    const bool nocarr = toklist(p, nullptr, nc) == 0;
    std::vector<std::string> alts;
    int exitch = *p ? -1 : cmdchar;
    if (*p && !nocarr) {
        ExprValue v;
        if (!strexpr(v, p)) return RC_ERROR;
        if (!splitcases(v.text, alts)) return RC_ERROR;
        if (op == ',') {
            const char* rest = linep;
            if (!setch2(rest, "Exit char", &exitch)) return RC_EXPECTED;
        }
    }
    if (chkconnect()) return RC_ERROR;
    gtimeout = 0;
    std::vector<const char*> list;
    for (const std::string& a : alts)
        list.push_back(a.c_str());
    list.push_back(nullptr);
    // The exit character holds only for this command.
    terchar = exitch;
    struct Restore {
        ~Restore() { terchar = -1; }
    } restore;
    for (;;) {
        const int r = term(alts.empty() ? nullptr : list.data());
        if (r == 0 || r == 4) return RC_OK;
        if (r == 1) {
            escape();
            continue;
        }
        if (r == 3) return gtimeout = 1, RC_OK;
        if (r == 2) {
            if (nocarr && !carrier()) return RC_OK;
            if (ev_key) return RC_EVENT;
        }
    }
}

namespace {
CaseMatcher termmatch;
} // namespace

int dmatch(int c, const char* const* list) {
    if (!list) {
        termmatch = CaseMatcher();
        return 0;
    }
    if (termmatch.alts.empty())
        for (const char* const* l = list; *l; l++)
            termmatch.alts.emplace_back(*l);
    if (maskpar) c &= 127;
    if (c == 0) return 0;
    const int k = termmatch.add(c);
    if (k < 0) return 0;
    gretval = k;
    return 1;
}

// ---- console input ---------------------------------------------------------------------------

namespace {

// The first comma outside string literals and parentheses, or npos.
size_t promptcomma(const std::string& s) {
    int depth = 0;
    char quote = 0;
    for (size_t i = 0; i < s.size(); i++) {
        const char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (c == ',' && depth == 0) {
            return i;
        }
    }
    return std::string::npos;
}

int consread(const char* args, bool echo, bool number) {
    std::string a = args;
    const size_t comma = promptcomma(a);
    std::string targettext = a;
    if (comma != std::string::npos) {
        ExprValue prompt;
        if (!expr(prompt, a.substr(0, comma).c_str())) return RC_ERROR;
        pval(prompt);
        targettext = a.substr(comma + 1);
    }
    ExprValue target;
    if (!lexpr(target, targettext.c_str())) return RC_ERROR;
    const int flags = (echo ? NG_ECHO : 0) | (canabort ? NG_ABORT : 0);
    char buf[NGETS_MAX + 1];
    for (;;) {
        oflush();
        if (ngets(buf, flags)) return RC_ABORT;
        if (!number || buf[0] == '-' || (buf[0] >= '0' && buf[0] <= '9')) break;
        zzprintf("Numeric input expected, please re-enter:");
    }
    ExprValue val;
    if (number) {
        val.type = V_NUM;
        val.number = static_cast<int32_t>(strtol(buf, nullptr, 10));
    } else {
        val.type = V_STR;
        snprintf(val.text, sizeof val.text, "%s", buf);
    }
    return setvar(target, val) ? RC_ERROR : RC_OK;
}

} // namespace

int c_read(const char* args) {
    return consread(args, true, false);
}
int c_readn(const char* args) {
    return consread(args, false, false);
}
int c_readint(const char* args) {
    return consread(args, true, true);
}

// type file [binary]: a text file a screenful at a time.
int c_type(const char* args) {
    std::string name = word(args, nullptr);
    const long opts = setflags(name);
    const bool binary = (opts & OPT_B) || strstr(args, " binary") || strstr(args, " BINARY");
    if (name.empty()) return expaberr("Filename"), RC_EXPECTED;
    FILE* f = fopen(name.c_str(), "rb");
    if (!f) return aberr("Can't open %s\r\n", name.c_str());
    std::unique_ptr<FILE, int (*)(FILE*)> guard(f, fclose);
    if (binary) {
        for (int c; (c = fgetc(f)) != EOF;) {
            ttyout(c);
            const int k = chrdynh();
            if (k && k == abochar) break;
        }
        oflush();
        return RC_OK;
    }
    int rows = 0;
    std::string line;
    for (int c;;) {
        c = fgetc(f);
        if (c != EOF && c != '\n') {
            if (line.size() < 4096) line += static_cast<char>(c);
            continue;
        }
        if (c == EOF && line.empty()) break;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        outs(line.c_str());
        outs("\r\n");
        line.clear();
        if (c == EOF) break;
        if (++rows >= Lines - 1) {
            rows = 0;
            oflush();
            const int k = chrin();
            if (k == abochar && canabort) break;
        }
        if (canabort) {
            const int k = chrdynh();
            if (k && k == abochar) break;
        }
    }
    oflush();
    return RC_OK;
}

int c_help(const char* args) {
    return help(word(args, nullptr)) ? RC_ERROR : RC_OK;
}

// ---- operating-system commands ---------------------------------------------------------------

namespace {

int runcmd(const char* args, int want) {
    const char* p = skipblanks(args);
    if (!*p) return expaberr("Command line"), RC_EXPECTED;
    gretval = osescape(p, want);
    return gretval ? RC_ERROR : RC_OK;
}

// A name argument: quoted, or one word.
std::string namearg(const char*& p) {
    p = skipblanks(p);
    std::string n;
    if (*p == '"' || *p == '\'') {
        const char q = *p++;
        while (*p && *p != q)
            n += *p++;
        if (*p) p++;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            n += *p++;
    }
    return n;
}

std::string lastedit; // the file vi/edit opened last

} // namespace

int c_run(const char* args) {
    return runcmd(args, 0);
}
int c_runx(const char* args) {
    return runcmd(args, 1);
}

int c_editor(const char* args) {
    return setcmd("editor", args);
}

// vi/edit [file]: the editor runs without a shell, the file as one argument.
int c_edit(const char* args) {
    const char* p = args;
    std::string file = namearg(p);
    if (file.empty()) file = lastedit;
    lastedit = file;
    std::string ed = editor;
    if (ed.empty() && getenv("EDITOR")) ed = getenv("EDITOR");
    if (ed.empty()) ed = "vi";
    std::vector<std::string> words;
    for (size_t i = 0; i < ed.size();) {
        const size_t j = ed.find(' ', i);
        if (j != i) words.push_back(ed.substr(i, j - i));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    if (!file.empty()) words.push_back(file);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    oflush();
    consnorm();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    consraw();
    gretval = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 127;
    return gretval ? RC_ERROR : RC_OK;
}

int c_cd(const char* args) {
    const char* p = args;
    const std::string dir = namearg(p);
    if (dir.empty()) return expaberr("New directory name"), RC_EXPECTED;
    if (chdir(dir.c_str()) != 0) return aberr("Can't change directory to %s\r\n", dir.c_str());
    return RC_OK;
}

int c_mkdir(const char* args) {
    const char* p = args;
    const std::string dir = namearg(p);
    if (dir.empty()) return expaberr("Directory Name"), RC_EXPECTED;
    if (mkdir(dir.c_str(), 0777) != 0) return aberr("Can't make directory: %s\r\n", dir.c_str());
    return RC_OK;
}

int c_rmdir(const char* args) {
    const char* p = args;
    const std::string dir = namearg(p);
    if (dir.empty()) return expaberr("Directory Name"), RC_EXPECTED;
    if (rmdir(dir.c_str()) != 0) return aberr("Can't remove directory: %s\r\n", dir.c_str());
    return RC_OK;
}

// copy source destination[(options)]: an existing destination is kept unless the options say
// append (A) or overwrite (O).
int c_copy(const char* args) {
    const char* p = args;
    const std::string from = namearg(p);
    std::string to = namearg(p);
    if (from.empty() || to.empty()) return expaberr("Copy <Source> <Destination>"), RC_EXPECTED;
    const long opts = setflags(to);
    const bool append = opts & OPT_A, overwrite = opts & OPT_O;
    const int in = open(from.c_str(), O_RDONLY);
    if (in < 0) return aberr("Can't open %s\r\n", from.c_str());
    const int mode = O_WRONLY | O_CREAT | (append ? O_APPEND : overwrite ? O_TRUNC : O_EXCL);
    const int out = open(to.c_str(), mode, 0666);
    if (out < 0) {
        close(in);
        return aberr("Can't create %s\r\n", to.c_str());
    }
    char buf[8192];
    bool ok = true;
    for (ssize_t n; ok && (n = read(in, buf, sizeof buf)) != 0;) {
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR) ok = false;
            if (w > 0) done += w;
        }
    }
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) return aberr("Can't create %s\r\n", to.c_str());
    return RC_OK;
}

// rename old new: link and unlink, so an existing name is never replaced.
int c_rename(const char* args) {
    const char* p = args;
    const std::string from = namearg(p);
    const std::string to = namearg(p);
    if (from.empty() || to.empty()) return expaberr("OldName NewName"), RC_EXPECTED;
    if (link(from.c_str(), to.c_str()) != 0 || unlink(from.c_str()) != 0)
        return aberr("Can't rename %s to %s\r\n", from.c_str(), to.c_str());
    return RC_OK;
}

int c_erase(const char* args) {
    const char* p = args;
    const std::string name = namearg(p);
    if (name.empty()) return expaberr("Filename"), RC_EXPECTED;
    if (name.find('*') != std::string::npos)
        return aberr("Multiple files not allowed\r\n"), RC_ERROR;
    if (unlink(name.c_str()) != 0) return aberr("File not erased\r\n");
    return RC_OK;
}

// time filespec[!]: the estimated transfer time of the files.
int c_time(const char* args) {
    std::string files = skipblanks(args);
    files = files.substr(0, files.find('!'));
    while (!files.empty() && (files.back() == ' ' || files.back() == '\t'))
        files.pop_back();
    if (files.empty()) return expaberr("Filespec"), RC_EXPECTED;
    return timefile(files.c_str()) ? RC_ERROR : RC_OK;
}

// init [service[,parameters]]: connect to the service, or re-open the line.
int c_init(const char* args) {
    std::string text;
    const char* p = skipblanks(args);
    if (*p) {
        ExprValue v;
        if (!strexpr(v, p)) return RC_ERROR;
        text = v.text;
    }
    const long speed = baud;
    if (text.empty()) {
        if (reopenline()) return RC_ERROR;
        setbaud(speed);
        return RC_OK;
    }
    const size_t comma = text.find(',');
    const std::string service = text.substr(0, comma);
    if (connservice(service.c_str(), 0) != 1) return RC_ERROR;
    if (comma != std::string::npos)
        return setparms(text.c_str() + comma + 1) < 0 ? RC_ERROR : RC_OK;
    setbaud(speed);
    return RC_OK;
}

// server [directory]: answers "OK" and takes ZMODEM transfers until one fails.
int c_server(const char* args) {
    const char* p = args;
    const std::string dir = namearg(p);
    zzprintf("[Server Mode]\r\n");
    char old[4096];
    if (!getcwd(old, sizeof old)) return aberr("Can't save current working directory\r\n");
    if (!dir.empty() && chdir(dir.c_str()) != 0)
        return aberr("Can't change directory to %s\r\n", dir.c_str());
    int rc = RC_OK;
    while (errprot == 6 || errprot == 7) {
        const int saved = cdelay;
        cdelay = 20;
        scmd("OK\r\n");
        cdelay = saved;
        if (rcvzmodem() != 0) break; // the peer ended the session, or a transfer failed
    }
    if (chdir(old) != 0) rc = aberr("Can't change directory to %s\r\n", old);
    if (quitpend >= 0) doneterm(quitpend);
    return rc;
}
