// Command files, procedures, `on` handlers, return/abort/rewind, the abort of all files, and
// command mode.
//
// A running file or procedure is one call of cmdfil2: one level (`flevel`) and one saved frame
// of the per-file state. Procedures share their caller's FILE and seek back to `proc_return`
// at their end. An `on` handler is a frame without a level: entering it saves the state and
// seeks to the handler's offset; `endon` pops the frame and seeks back to `on_return`. Whatever
// way a call ends, it puts back the frame it pushed, so nested handlers left open by `return`,
// an error or an abort never leak into the caller.
#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "script/cmds.h"
#include "script/lex.h"
#include "script/var.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Per-file state besides the control-flow tops (which live in cmd.h).
std::string curfile; // name of the running file (up to 31 characters)
long on_carr = 0, on_nocarr = 0, on_delay = 0, on_abort = 0, on_error = 0;
long on_return = 0;      // where an `on` handler resumes
long proc_return = 0;    // where a procedure resumes
bool inproc = false;     // the running level is a procedure
bool inhandler = false;  // the running frame is an `on` handler
bool nextconfig = false; // the file cmdfile is about to run is a configuration file
bool isconfig = false;   // the running file is a configuration file

const char* homedir() {
    const char* h = gethomedir();
    return h ? h : "";
}

struct Frame {
    FILE* gfp;
    std::string curfile;
    int gac;
    std::vector<std::string> gav;
    int iflevel, exlevel, rsp, swsp;
    long on_carr, on_nocarr, on_delay, on_abort, on_error, on_return, proc_return, for_return;
    bool inproc, inhandler, isconfig;
};

Frame savestk[MAXFRAMES];
int savsp = -1;

struct Proc {
    char name[NAMELEN + 1];
    long offset;
};
Proc procaddr[MAXPROCS];

void pushframe() {
    Frame& f = savestk[++savsp];
    f = Frame{gfp,         curfile,    gac,       gav,       iflevel,  exlevel,  rsp,
              swsp,        on_carr,    on_nocarr, on_delay,  on_abort, on_error, on_return,
              proc_return, for_return, inproc,    inhandler, isconfig};
}

// Puts back frame `at` and drops it and everything above it.
void popframe(int at) {
    Frame& f = savestk[at];
    gfp = f.gfp;
    curfile = f.curfile;
    gac = f.gac;
    gav = f.gav;
    iflevel = f.iflevel;
    exlevel = f.exlevel;
    rsp = f.rsp;
    swsp = f.swsp;
    on_carr = f.on_carr;
    on_nocarr = f.on_nocarr;
    on_delay = f.on_delay;
    on_abort = f.on_abort;
    on_error = f.on_error;
    on_return = f.on_return;
    proc_return = f.proc_return;
    for_return = f.for_return;
    inproc = f.inproc;
    inhandler = f.inhandler;
    isconfig = f.isconfig;
    savsp = at - 1;
}

void clearprocs() {
    for (Proc& p : procaddr)
        p = Proc{};
}

void canceldelay() {
    alarm(0);
    ev_delay = 0;
}

// ---- events between lines ----------------------------------------------------------------------

// A look at the keyboard after a successful line: 2 for the abort key (when aborting is
// allowed), 3 when an event is pending (a delay ran out, or the key layer saw an `on key` key),
// else 0.
int pollevents() {
    if (!xorqflag && !qflag) {
        int k = chrdynh();
        if (k && k == abochar && canabort) return RC_ABORT;
    }
    return ev_delay || ev_key ? RC_EVENT : RC_OK;
}

// Enters the handler of the first pending event, in the order delay, key, carrier, no carrier,
// abort, error.
void oncmd() {
    if (savsp >= MAXFRAMES - 1) {
        aberr("Maximum DO nesting level exceeded\r\n");
        cmdabort();
        gerrno = RC_ERROR;
        return;
    }
    on_return = ftell(gfp);
    pushframe();
    long target = -1;
    if (ev_delay) {
        ev_delay = 0;
        target = on_delay;
    } else if (ev_key) {
        ev_key = 0;
        target = ev_keyseek;
    } else if (ev_carr) {
        ev_carr = 0;
        target = on_carr;
    } else if (ev_nocarr) {
        ev_nocarr = 0;
        target = on_nocarr;
    } else if (ev_abort) {
        ev_abort = 0;
        target = on_abort;
    } else if (ev_error) {
        ev_error = 0;
        target = on_error;
    }
    if (target <= 0) { // nothing pending, or its handler was cancelled
        popframe(savsp);
        return;
    }
    inoncmd++;
    inhandler = true;
    exlevel = iflevel;
    fseek(gfp, target, SEEK_SET);
}

// ---- opening files -----------------------------------------------------------------------------

constexpr size_t FPATHMAX = 64; // longest file path tried

// The command-file extension rule: ".cmd" when the last path component has no dot; a name
// ending in a dot loses it and gets nothing.
std::string cmdname(std::string n) {
    size_t slash = n.rfind('/');
    std::string last = slash == std::string::npos ? n : n.substr(slash + 1);
    if (!last.empty() && last.back() == '.') {
        n.pop_back();
        return n;
    }
    if (last.find('.') == std::string::npos) n += ".cmd";
    return n;
}

FILE* openplain(const std::string& path) {
    if (path.empty() || path.size() > FPATHMAX) return nullptr;
    FILE* fp = fopen(path.c_str(), "r");
    if (!fp) return nullptr;
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode)) {
        fclose(fp);
        return nullptr;
    }
    return fp;
}

std::string joinpath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// getfp: opens `name` by the mode's extension rule along the search path.
FILE* getfp(const std::string& name, int mode, bool* config) {
    *config = false;
    struct Cand {
        std::string name;
        bool config;
    };
    std::vector<Cand> cands;
    if (mode == 0) cands.push_back({name, false});
    if (mode == 2 || mode == 3) cands.push_back({name + ".con", true});
    if (mode == 1 || mode == 3) cands.push_back({cmdname(name), false});
    const char* home = homedir();
    const char* vd = getenv("VORNDIR");
    std::string vorndir = vd ? vd : "/usr/vorn";
    bool given = name.rfind("/", 0) == 0 || name.rfind("./", 0) == 0 || name.rfind("../", 0) == 0;
    std::vector<std::string> dirs;
    if (given) {
        dirs.push_back("");
        if (mode != 0) {
            if (*home) dirs.push_back(home);
            dirs.push_back(vorndir);
        }
    } else {
        dirs.push_back("");
        if (*home) dirs.push_back(home);
        dirs.push_back(vorndir);
    }
    for (const std::string& dir : dirs)
        for (const Cand& c : cands)
            if (FILE* fp = openplain(joinpath(dir, c.name))) {
                *config = c.config;
                return fp;
            }
    return nullptr;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};

// Finds procedure `name` in the running file and positions the file after its `proc` line.
bool findproc(const char* name) {
    for (const Proc& p : procaddr)
        if (p.name[0] && !strcmp(p.name, name)) {
            fseek(gfp, p.offset, SEEK_SET);
            return true;
        }
    fseek(gfp, 0, SEEK_SET);
    char line[LINEMAX + 1];
    while (scriptline(gfp, line)) {
        const char* rest;
        const char* w = word(line, &rest);
        if (strcasecmp(w, "proc")) continue;
        char pname[NAMELEN + 1];
        snprintf(pname, sizeof pname, "%s", word(rest, nullptr));
        for (char* c = pname; *c; c++)
            *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
        if (!strcmp(pname, name)) return true;
    }
    aberr("Can't find proc %s\r\n", name);
    return false;
}

std::vector<std::string> argvec(int count, char** words) {
    std::vector<std::string> v;
    for (int i = 0; i < count && words && words[i]; i++)
        v.push_back(words[i]);
    return v;
}

int decimal(const char* text, bool* ok) {
    const char* w = word(text, nullptr);
    *ok = *w >= '0' && *w <= '9';
    long v = 0;
    for (; *w >= '0' && *w <= '9'; w++)
        if (v < 1000000000) v = v * 10 + (*w - '0');
    if (*w) *ok = false;
    return static_cast<int>(v);
}

} // namespace

// ---- lines -------------------------------------------------------------------------------------

bool scriptline(FILE* fp, char* buf) {
    if (!fp) return false;
    int n = 0;
    int c = EOF;
    while ((c = getc(fp)) != EOF) {
        if (c == '\n') break;
        if (c == 26) {
            if (n == 0) return false;
            break;
        }
        if (c == '\r') continue;
        buf[n++] = static_cast<char>(c);
        if (n == LINEMAX) break;
    }
    buf[n] = 0;
    return !(c == EOF && n == 0);
}

int skipblock(const char* endword, const char* nested, const char* nestedmsg) {
    char line[LINEMAX + 1];
    while (scriptline(gfp, line)) {
        const char* w = word(line, nullptr);
        if (cmatch(w, endword)) return 0;
        if (nested && !strcasecmp(w, nested)) {
            aberr("%s", nestedmsg);
            return 1;
        }
    }
    return 2;
}

// ---- running files -----------------------------------------------------------------------------

int cmdfil2(int count, char** words, FILE* fp, const char* name, const char* proc) {
    std::unique_ptr<FILE, FileCloser> owned(fp);
    int level = ++flevel;
    gerrno = RC_ERROR;
    if (savsp >= MAXFRAMES - 1) {
        aberr("Maximum DO nesting level exceeded\r\n");
        flevel = level - 1;
        return RC_ERROR;
    }
    int myframe = savsp + 1;
    pushframe();
    int entryoncmd = inoncmd, entryprcmd = inprcmd;
    if (fp) {
        gfp = fp;
        clearprocs();
        curfile.assign(name ? name : "", 0, 31);
        on_carr = on_nocarr = on_delay = on_abort = on_error = 0;
        on_return = for_return = 0;
        isconfig = nextconfig;
        if (isconfig) inconfig = 1;
    }
    nextconfig = false;
    if (fp || count > 1) {
        gav = argvec(count, words);
        gac = static_cast<int>(gav.size());
    }
    inproc = false;
    inhandler = false;
    bool ok = true;
    if (proc && *proc) {
        proc_return = ftell(gfp);
        ok = findproc(proc);
        if (ok) {
            inproc = true;
            inprcmd++;
        } else {
            fseek(gfp, proc_return, SEEK_SET); // the caller goes on where it was
        }
    }
    char line[LINEMAX + 1];
    while (ok && flevel >= level) {
        if (!scriptline(gfp, line)) { // the end of the file is a `return` without a value
            if (inproc) fseek(gfp, proc_return, SEEK_SET);
            flevel = level - 1;
            retval = 0;
            gerrno = RC_OK;
            break;
        }
        int rc = docmd(line);
        if (!keeperrno) gerrno = rc;
        keeperrno = false;
        if (rc == RC_OK && !insysfile) rc = pollevents();
        if (rc == RC_ERROR && canerror) {
            if (on_error) {
                ev_error = 1;
                rc = RC_EVENT;
            } else if (level == 1) {
                cmdabort();
            } else {
                flevel = level - 1;
            }
        }
        if (rc == RC_ABORT) {
            if (on_abort) {
                ev_abort = 1;
                rc = RC_EVENT;
            } else {
                gerrno = RC_ABORT;
                cmdabort();
            }
        }
        if (quitpend >= 0) doneterm(quitpend);
        if (rc == RC_RETURN) {
            gerrno = retval;
            rc = retval;
        }
        if (rc == RC_EVENT && flevel >= level) oncmd();
    }
    if (flevel >= level) flevel = level - 1;
    forend(level);
    bool wasconfig = isconfig && fp;
    int result = gerrno;
    owned.reset();
    popframe(myframe);
    inoncmd = entryoncmd;
    inprcmd = entryprcmd;
    if (flevel == 0) {
        unmapkey();
        canceldelay();
    }
    if (wasconfig) {
        emulate(emode, 1); // a configuration may have chosen another emulation
        inconfig = 0;
    }
    gerrno = result;
    return result;
}

int cmdfile(int count, char** words, int mode, int) {
    if (count < 1 || !words || !words[0]) return RC_ERROR;
    std::string target(words[0], 0, FPATHMAX);
    std::string fname = target, proc;
    size_t at = target.rfind('@');
    if (at != std::string::npos) {
        fname = target.substr(0, at);
        proc = target.substr(at + 1, NAMELEN);
        for (char& c : proc)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    if (echoflag) zzprintf("[File: %s]\r\n", target.c_str());
    if (flevel == 0) {
        curfile.clear();
        if (fname.empty()) return aberr("Filename@Proc required\r\n");
    }
    if (!proc.empty() && (fname.empty() || fname == curfile)) {
        std::string cur = curfile;
        return cmdfil2(count, words, nullptr, cur.c_str(), proc.c_str());
    }
    bool config = false;
    FILE* fp = getfp(fname, mode, &config);
    if (!fp) {
        // A file named on the command line that is not there is the user's typing mistake.
        if (mode == 3) aberr("Can't open %s\r\n", fname.c_str());
        return RC_ERROR;
    }
    nextconfig = config;
    return cmdfil2(count, words, fp, fname.c_str(), proc.empty() ? nullptr : proc.c_str());
}

// dofile: splits a `do` argument into at most 10 words (quotes keep blanks; a word starting with
// ! ends the list) and runs the first as the file.
int dofile(const char* text, int mode) {
    std::vector<std::string> ws;
    const char* p = text;
    while (ws.size() < 10) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p || *p == '!') break;
        std::string w;
        if (*p == '"' || *p == '\'') {
            char q = *p++;
            while (*p && *p != q)
                w += *p++;
            if (*p) p++;
        } else {
            while (*p && *p != ' ' && *p != '\t')
                w += *p++;
        }
        ws.push_back(w);
    }
    if (ws.empty()) {
        eprintf("%s expected\r\n", "Filename");
        return RC_EXPECTED;
    }
    std::vector<char*> argv;
    for (std::string& w : ws)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    return cmdfile(static_cast<int>(ws.size()), argv.data(), mode);
}

int tryvornrc(const char* name) {
    std::string n = name;
    char* words[] = {n.data(), nullptr};
    return cmdfile(1, words, 0);
}

void cmdabort() {
    if (flevel) zzprintf("Command file aborted\r\n");
    flevel = exlevel = iflevel = inoncmd = inprcmd = inconfig = 0;
    insysfile = 0;
    rsp = swsp = savsp = -1;
    forend(0);
}

int cmdmod2() {
    char buf[NGETS_MAX + 1];
    int rc = RC_OK;
    for (;;) {
        zzprintf(":");
        if (ngets(buf, NG_ECHO | NG_ESC | NG_ABORT) || !buf[0]) break;
        rc = docmd(buf);
        gerrno = rc;
    }
    return rc;
}

int cmdmode() {
    char buf[NGETS_MAX + 1];
    if (ngets(buf, NG_ECHO | NG_ESC | NG_ABORT)) return RC_ABORT;
    if (!buf[0]) return cmdmod2();
    gerrno = docmd(buf);
    return gerrno;
}

void cmdfilereset() {
    while (savsp >= 0)
        popframe(savsp);
    curfile.clear();
    on_carr = on_nocarr = on_delay = on_abort = on_error = on_return = proc_return = 0;
    for_return = 0;
    inproc = inhandler = nextconfig = isconfig = false;
    gfp = nullptr;
    clearprocs();
    canceldelay();
}

// ---- commands ----------------------------------------------------------------------------------

int c_do(const char* args) {
    return dofile(args, 1);
}

int c_proc(const char* args) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    char name[NAMELEN + 1];
    snprintf(name, sizeof name, "%s", word(args, nullptr));
    for (char* c = name; *c; c++)
        *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    for (Proc& p : procaddr)
        if (!p.name[0]) {
            memcpy(p.name, name, sizeof name);
            p.offset = ftell(gfp);
            break;
        }
    return skipblock("endproc", "proc", "Nested PROC statements not allowed\r\n") == 1 ? RC_ERROR
                                                                                       : RC_OK;
}

int c_endproc(const char*) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    if (!inproc) return aberr("Unmatched ENDPROC\r\n");
    flevel--;
    inprcmd--;
    retval = 0;
    fseek(gfp, proc_return, SEEK_SET);
    return RC_OK;
}

int c_return(const char* args) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    bool ok;
    int n = decimal(args, &ok);
    retval = ok ? n : 0;
    flevel--;
    if (inproc) {
        inprcmd--;
        fseek(gfp, proc_return, SEEK_SET);
    } else {
        canceldelay();
        on_delay = 0;
    }
    return RC_RETURN;
}

int c_abort(const char* args) {
    bool ok;
    int n = decimal(args, &ok);
    return ok ? n : RC_ABORT;
}

int c_rewind(const char*) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    if (inhandler) {
        on_return = 0;
    } else {
        fseek(gfp, 0, SEEK_SET);
        exlevel = iflevel;
    }
    return RC_OK;
}

int c_on(const char* args) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    static const char* const kw[] = {"carrier", "nocarrier", "abort", "error",
                                     "delay",   "key",       nullptr};
    const char* rest;
    int which = toklist(args, &rest, kw);
    if (which < 0) {
        tokexpect(kw);
        return RC_EXPECTED;
    }
    long* slot = nullptr;
    int rc = RC_OK;
    switch (which) {
    case 0:
    case 1:
        rc = aberr("ON CARRIER/NOCARRIER statement ignored under UNIX\r\n");
        break;
    case 2:
        slot = &on_abort;
        break;
    case 3:
        slot = &on_error;
        break;
    case 4: {
        bool ok;
        int n = decimal(rest, &ok);
        if (!ok) {
            eprintf("%s expected\r\n", "Delay count");
            return RC_EXPECTED;
        }
        if (n > 0) {
            setdelay(n);
            slot = &on_delay;
        } else {
            canceldelay();
            on_delay = 0;
        }
        break;
    }
    case 5: {
        if (flevel != 1) {
            rc = aberr("ON KEY statements ignored in nested DO file\r\n");
            break;
        }
        int key = -1;
        if (!setch2(rest, "ONKEY char", &key)) return RC_EXPECTED;
        if (key >= 1 && key <= 448) defkey(key, nullptr, ftell(gfp));
        break;
    }
    }
    long handler = ftell(gfp);
    int skip = skipblock("endon", "on", "Nested ON statements not allowed\r\n");
    if (skip == 1) return RC_ERROR;
    if (skip == 2) return aberr("Missing ENDON\r\n");
    if (slot) *slot = handler;
    return rc;
}

int c_endon(const char*) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    if (!inhandler) return aberr("Unmatched ENDON\r\n");
    long back = on_return;
    popframe(savsp);
    inoncmd--;
    fseek(gfp, back, SEEK_SET);
    retval = RC_EVENT;
    return RC_RETURN;
}

// batch [name]: lines typed after ">" until an empty line become a command file, run at once.
int c_batch(const char* args) {
    std::string name = word(args, nullptr);
    bool temp = name.empty();
    std::string path;
    FILE* fp = nullptr;
    if (temp) {
        char tmpl[] = "/tmp/vornXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) {
            path = tmpl;
            fp = fdopen(fd, "w");
        }
    } else {
        path = name + ".cmd";
        fp = fopen(path.c_str(), "w");
    }
    if (!fp)
        return aberr("Can't create script file: %s\r\n", temp ? "/tmp/vornXXXXXX" : path.c_str());
    char buf[NGETS_MAX + 1];
    for (;;) {
        zzprintf(">");
        if (ngets(buf, NG_ECHO | NG_ESC | NG_ABORT) || !buf[0]) break;
        fprintf(fp, "%s\n", buf);
    }
    fclose(fp);
    std::string run = path;
    char* words[] = {run.data(), nullptr};
    int rc = cmdfile(1, words, 0);
    if (temp) unlink(path.c_str());
    return rc;
}
