// Control flow: conditionals count levels and decide line by line whether lines run; loops
// remember file offsets and seek back. There is no block parser.
//
// `iflevel` is the number of open conditional levels, `exlevel` the number whose lines run:
// lines run exactly when the two are equal. Every if, switch, iferror, elseif, case and
// default opens a level; the conditional stack counts, per if/switch, the extra levels its
// branches opened so that endif/endswitch closes them all.
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "script/cmd.h"
#include "script/cmds.h"
#include "script/expr.h"
#include "script/lex.h"
#include "script/var.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// The `for` loop: one in the whole process at a time.
bool foractive = false;
int forlevel = 0;   // the file level that runs it
std::string forvar; // the loop variable's name
std::vector<std::string> forwords;
size_t forlp = 0;

// Evaluates a branch condition: 0 with the value, or 1 after a message.
int condition(const char* args, bool* value) {
    ExprValue v;
    int t = expr(v, args);
    if (!t) return RC_ERROR;
    if (t != V_LOG) return aberr("IF/ELSEIF/CASE expression requires logical value\r\n");
    *value = v.number != 0;
    return RC_OK;
}

int pushlevel() {
    iflevel++;
    if (swsp >= MAXNEST - 1) return aberr("Too many nested IF/SWITCH statements\r\n");
    swstack[++swsp] = 0;
    return RC_OK;
}

// elseif, case, default: the chain's next branch.
int nextbranch(const char* what, const char* args, bool always) {
    if (iflevel <= 0 || swsp < 0) return aberr("Unmatched %s\r\n", what);
    if (exlevel == iflevel)
        exlevel--; // the previous branch ran: the rest of the chain is skipped
    else if (exlevel == iflevel - 1)
        exlevel = iflevel; // this branch gets its chance
    if (exlevel == iflevel) {
        bool v = true;
        if (!always && condition(args, &v)) return RC_ERROR;
        if (v) exlevel++;
    }
    iflevel++;
    swstack[swsp]++;
    return RC_OK;
}

int closelevels(const char* what) {
    if (iflevel <= 0 || swsp < 0) return aberr("Unmatched %s\r\n", what);
    int count = swstack[swsp--];
    for (int i = 0; i <= count && iflevel > 0; i++) {
        if (exlevel == iflevel) exlevel--;
        iflevel--;
    }
    if (exlevel > iflevel) exlevel = iflevel;
    return RC_OK;
}

void assignfor(const std::string& value) {
    Variable* v = getvar(forvar.c_str(), true);
    if (!v) return;
    ExprValue target, val;
    target.type = V_VAR;
    target.var = v;
    val.type = V_STR;
    snprintf(val.text, sizeof val.text, "%s", value.c_str());
    setvar(target, val);
}

// The pattern characters of the program's own pattern language.
bool haswild(const std::string& w) {
    return w.find_first_of("*?{") != std::string::npos;
}

// The word list with patterns expanded to the matching names (with their directory part) in
// sorted order; a pattern matching nothing vanishes. Each expansion has the wildcard buffer of
// `wildsize` bytes, and a list that overflows it keeps what fitted.
std::vector<std::string> expandwords(const char* text) {
    std::vector<std::string> out;
    const char* p = text;
    for (;;) {
        const char* rest;
        std::string w = word(p, &rest);
        if (w.empty()) break;
        p = rest;
        if (!haswild(w)) {
            out.push_back(w);
            continue;
        }
        std::vector<char> buf(static_cast<size_t>(wbufsiz > 0 ? wbufsiz : 0));
        std::string dir;
        int n = expand(w.c_str(), dir, buf);
        for (int i = 0; i < n; i++) {
            if (dir.empty())
                out.emplace_back(wsortbuf[static_cast<size_t>(i)]);
            else
                out.push_back((dir.back() == '/' ? dir : dir + "/") +
                              wsortbuf[static_cast<size_t>(i)]);
        }
    }
    return out;
}

void clearfor() {
    foractive = false;
    forwords.clear();
    forvar.clear();
    forlp = 0;
    for_return = 0;
}

} // namespace

void forend(int level) {
    if (foractive && forlevel >= level) clearfor();
}

void flowreset() {
    clearfor();
    forlevel = 0;
}

// if expression
int c_if(const char* args) {
    if (exlevel == iflevel) {
        bool v;
        if (condition(args, &v)) return RC_ERROR;
        if (v) exlevel++;
    }
    return pushlevel();
}

// switch: a level whose own condition is false, so only a matching case runs.
int c_switch(const char*) {
    return pushlevel();
}

// iferror command: runs the command; the level is true when it failed.
int c_iferror(const char* args) {
    if (exlevel == iflevel) {
        int rc = docmd(args);
        gerrno = rc;
        keeperrno = true;
        if (rc != RC_OK) exlevel++;
    }
    return pushlevel();
}

int c_elseif(const char* args) {
    return nextbranch("ELSEIF", args, false);
}
int c_case(const char* args) {
    return nextbranch("CASE", args, false);
}
int c_default(const char* args) {
    return nextbranch("DEFAULT", args, true);
}

int c_else(const char*) {
    if (iflevel <= 0 || swsp < 0) return aberr("Unmatched %s\r\n", "ELSE");
    if (exlevel == iflevel)
        exlevel--;
    else if (exlevel == iflevel - 1)
        exlevel = iflevel;
    return RC_OK;
}

int c_endif(const char*) {
    return closelevels("ENDIF");
}
int c_endswitch(const char*) {
    return closelevels("ENDSWITCH");
}

// noerror command: runs it, keeps its result in _errno, and succeeds.
int c_noerror(const char* args) {
    int rc = docmd(args);
    gerrno = rc;
    keeperrno = true;
    return RC_OK;
}

int c_repeat(const char*) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    if (rsp >= MAXNEST - 1) return aberr("Too many REPEAT statements\r\n");
    repstack[++rsp] = gfp->tell();
    return RC_OK;
}

int c_until(const char* args) {
    if (!flevel) return aberr("Must be used in script file...\r\n");
    if (rsp < 0) return aberr("Unmatched UNTIL\r\n");
    ExprValue v;
    int t = expr(v, args);
    if (!t) return RC_ERROR;
    if (t != V_LOG) return aberr("REPEAT expression requires boolean value\r\n");
    if (v.number)
        rsp--;
    else
        gfp->seek(repstack[rsp]);
    return RC_OK;
}

// for variable in ( words ) do [command]
// The line is not substituted as a whole: the word list is substituted once here, and the
// command of the one-line form at each turn, so that it sees the variable's new value.
int c_for(const char* args) {
    if (foractive) return aberr("Nested FOR statements not allowed\r\n");
    ExprValue target;
    if (!lexpr(target, args) || target.type != V_VAR || (target.var->type & VT_SYS)) {
        eprintf("%s expected\r\n", "Simple variable");
        return RC_EXPECTED;
    }
    std::string name = target.var->name;
    if (op != T_IDENT || strcmp(sval, "in")) {
        eprintf("%s expected\r\n", "IN");
        return RC_EXPECTED;
    }
    etoken();
    if (op != '(') {
        eprintf("%s expected\r\n", "Left paren");
        return RC_EXPECTED;
    }
    const char* list = linep;
    const char* close = strchr(list, ')');
    if (!close) {
        eprintf("%s expected\r\n", "Right paren");
        return RC_EXPECTED;
    }
    std::string raw(list, close);
    char sub[LINEMAX + 1];
    if (subparms(raw.c_str(), sub)) return RC_ERROR;
    const char* tail;
    static const char* const kdo[] = {"do", nullptr};
    if (toklist(close + 1, &tail, kdo) != 0) {
        tokexpect(kdo);
        return RC_EXPECTED;
    }
    std::vector<std::string> words = expandwords(sub);
    if (*tail && *tail != '!') { // one-line form
        std::string cmd = tail;
        foractive = true;
        forlevel = flevel;
        forvar = name;
        int rc = RC_OK;
        const int level = flevel;
        for (const std::string& w : words) {
            assignfor(w);
            rc = docmd(cmd.c_str());
            // A command that ended the file or procedure running the loop (a `return` inside
            // eval(), say) ends the loop too: the next turn would end its caller.
            if (rc != RC_OK || flevel < level) break;
        }
        clearfor();
        return rc;
    }
    if (!flevel) return aberr("Must be used in script file...\r\n");
    if (words.empty()) {
        int skip = skipblock("endfor", "for", "Nested FOR statements not allowed\r\n");
        return skip == 1 ? RC_ERROR : RC_OK;
    }
    foractive = true;
    forlevel = flevel;
    forvar = name;
    forwords = std::move(words);
    forlp = 0;
    assignfor(forwords[0]);
    for_return = gfp->tell();
    return RC_OK;
}

int c_endfor(const char*) {
    if (!foractive || !for_return) return aberr("Unmatched ENDFOR\r\n");
    if (++forlp < forwords.size()) {
        assignfor(forwords[forlp]);
        gfp->seek(for_return);
    } else {
        clearfor();
    }
    return RC_OK;
}
