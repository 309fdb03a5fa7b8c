#include "script/cmd.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "core/start.h"
#include "script/cmds.h"
#include "script/expr.h"
#include "script/lex.h"
#include "script/var.h"

#include <cstring>
#include <string>

namespace {

// Row flags.
constexpr int STRUCT = 1; // run even while an if branch is skipped
constexpr int NOSUB = 64; // no parameter substitution: the handler runs the rest as a command
constexpr int SIDE = 2;   // acts outside the interpreter (files, console, line, alarms, exit)

struct CmdRow {
    const char* name;
    int flags;
    int (*fn)(const char*);
};

// In the order abbreviations are tried: a word picks the first row it fits, from the first row
// of its initial letter on.
// clang-format off
const CmdRow cmds[] = {
    {"?", 0, c_display},          {"*", 0, c_comment},          {"abort", 0, c_abort},
    {"addcr", 0, c_addcr},        {"addlf", 0, c_addlf},        {"answer", SIDE, c_answer},
    {"at", 0, c_at},              {"attr", 0, c_attr},          {"batch", SIDE, c_batch},
    {"baud", 0, c_baud},          {"break", SIDE, c_break},        {"call", SIDE, c_call},
    {"capture", SIDE, c_capture},    {"case", STRUCT, c_case},     {"cdelay", 0, c_cdelay},
    {"cd", SIDE, c_cd},              {"charset", 0, c_charset},    {"chown", 0, c_nop},
    {"chtype", 0, c_nop},         {"cls", 0, c_cls},            {"color", 0, c_color},
    {"combase", 0, c_nop},        {"comment", 0, c_comment},    {"config", 0, c_config},
    {"connect", SIDE, c_connect},    {"copy", SIDE, c_copy},          {"cread", SIDE, c_cread},
    {"creadint", SIDE, c_creadint},  {"devprefix", 0, c_devprefix}, {"dialog", SIDE, c_dialog},
    {"dimint", 0, c_dimint},      {"dimlog", 0, c_dimlog},      {"dimstr", 0, c_dimstr},
    {"do", SIDE, c_do},              {"dansoff", 0, c_dansoff},    {"dautoans", 0, c_dautoans},
    {"dconnect", 0, c_dconnect},  {"default", STRUCT, c_default}, {"descape", 0, c_descape},
    {"dhangup", 0, c_dhangup},    {"dinit", 0, c_dinit},        {"display", 0, c_display},
    {"doffhook", 0, c_doffhook},  {"dokstr", 0, c_dokstr},      {"dprefix", 0, c_dprefix},
    {"dringstr", 0, c_dringstr},  {"dsuffix", 0, c_dsuffix},    {"dtimeout", 0, c_dtimeout},
    {"dwait", SIDE, c_dwait},        {"edit", SIDE, c_edit},          {"editor", SIDE, c_editor},
    {"else", STRUCT, c_else},     {"elseif", STRUCT, c_elseif}, {"emulate", SIDE, c_emulate},
    {"endfor", 0, c_endfor},      {"endif", STRUCT, c_endif},   {"endon", 0, c_endon},
    {"endproc", 0, c_endproc},    {"endswitch", STRUCT, c_endswitch}, {"erase", SIDE, c_erase},
    {"fclose", 0, c_fclose},      {"fcreate", SIDE, c_fcreate},    {"fflush", 0, c_fflush},
    {"fillchar", 0, c_fillchar},  {"flags", 0, c_flags},        {"flush", SIDE, c_flush},
    {"for", NOSUB, c_for},        {"fopen", SIDE, c_fopen},        {"fread", 0, c_fread},
    {"freadln", 0, c_freadln},    {"fseek", 0, c_fseek},        {"fwrite", SIDE, c_fwrite},
    {"fwriteln", SIDE, c_fwriteln},  {"get", SIDE, c_get},            {"hangup", SIDE, c_hangup},
    {"help", SIDE, c_help},          {"hiwait", 0, c_hiwait},      {"htime", 0, c_htime},
    {"if", STRUCT, c_if},         {"iferror", STRUCT | NOSUB, c_iferror},
    {"ignore", 0, c_ignore},      {"init", SIDE, c_init},          {"itime", 0, c_itime},
    {"keyboard", 0, c_nop},       {"lchar", 0, c_lchar},        {"lchrdy", 0, c_lchrdy},
    {"ldelay", 0, c_ldelay},      {"learn", SIDE, c_learn},        {"linecs", 0, c_linecs},        {"lockfile", 0, c_lockfile},
    {"locktime", 0, c_locktime},  {"log", SIDE, c_log},            {"logfile", SIDE, c_logfile},
    {"login", SIDE, c_login},        {"logout", SIDE, c_logout},      {"lowait", 0, c_lowait},
    {"lsend", SIDE, c_lsend},        {"ltime", 0, c_nop},          {"memlist", 0, c_memlist},
    {"menu", SIDE, c_menu},          {"minitel", 0, c_nop},        {"mkdir", SIDE, c_mkdir},
    {"mode", 0, c_mode},          {"modem", SIDE, c_modem},        {"netdialog", 0, c_netdialog},
    {"netname", 0, c_netname},    {"netport", 0, c_netport},    {"netvtname", 0, c_netvtname},
    {"noerror", NOSUB, c_noerror}, {"on", SIDE, c_on},             {"pages", 0, c_pages},
    {"parity", 0, c_parity},      {"partopen", 0, c_partopen},  {"pause", SIDE, c_pause},
    {"portlist", 0, c_portlist},  {"printer", SIDE, c_printer},    {"proc", 0, c_proc},
    {"protocol", 0, c_protocol},  {"quit", SIDE, c_quit},          {"rcv", SIDE, c_rcv},
    {"read", SIDE, c_read},          {"readint", SIDE, c_readint},    {"readn", SIDE, c_readn},
    {"redial", 0, c_redial},      {"release", 0, c_release},    {"remark", 0, c_remark},
    {"remote", SIDE, c_remote},      {"rename", SIDE, c_rename},      {"repeat", 0, c_repeat},
    {"restart", 0, c_restart},    {"retries", 0, c_retries},    {"return", 0, c_return},
    {"rewind", 0, c_rewind},      {"rmdir", SIDE, c_rmdir},        {"rtime", 0, c_rtime},
    {"run", SIDE, c_run},            {"runx", SIDE, c_runx},          {"scrollback", 0, c_scrollback},
    {"send", SIDE, c_send},          {"server", SIDE, c_server},      {"session", 0, c_session},
    {"setcap", SIDE, c_setcap},      {"setcolor", 0, c_setcolor},  {"setdelay", SIDE, c_setdelay},
    {"setkey", 0, c_setkey},      {"setsym", 0, c_setsym},      {"setvar", 0, c_setvar},
    {"set", SIDE, c_set},            {"sshpath", 0, c_sshpath},    {"startserver", SIDE, c_startserver},
    {"status", 0, c_status},      {"stime", 0, c_stime},        {"stopbits", 0, c_stopbits},
    {"stopserver", SIDE, c_stopserver}, {"switch", STRUCT, c_switch}, {"tdelay", 0, c_tdelay},
    {"terminal", SIDE, c_terminal},  {"time", 0, c_time},          {"trans", 0, c_trans},
    {"type", SIDE, c_type},          {"udkallow", 0, c_udkallow},  {"until", 0, c_until},        {"usend", SIDE, c_usend},
    {"version", 0, c_version},    {"vi", SIDE, c_edit},            {"vidblink", 0, c_nop},
    {"vidcard", 0, c_nop},        {"vidout", 0, c_nop},         {"vidunder", 0, c_nop},
    {"wait", SIDE, c_wait},          {"wclose", 0, c_wclose},      {"wildsize", 0, c_wildsize},
    {"wopen", 0, c_wopen},        {"wordlen", 0, c_wordlen},    {"wru", 0, c_wru},
    {"wruchar", 0, c_wruchar},    {"wselect", 0, c_wselect},    {"xfer", SIDE, c_xfer},
    {"xmit", SIDE, c_xmit},          {"xonxoff", 0, c_xonxoff},    {"xprot", 0, c_xprot},
    {nullptr, 0, nullptr},
};
// clang-format on

int letterindex[26];
bool indexed = false;

// The letter index: for each letter the first row whose keyword begins with it.
void buildindex() {
    for (int& i : letterindex)
        i = -1;
    for (int i = 0; cmds[i].name; i++) {
        int c = cmds[i].name[0];
        if (c >= 'a' && c <= 'z' && letterindex[c - 'a'] < 0) letterindex[c - 'a'] = i;
    }
    indexed = true;
}

int lower(int c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

bool isblank_(int c) {
    return c == ' ' || c == '\t';
}

// The row a command word selects, or nullptr.
const CmdRow* findcmd(const char* w) {
    if (!indexed) buildindex();
    int c = lower(static_cast<unsigned char>(w[0]));
    int start = c >= 'a' && c <= 'z' ? letterindex[c - 'a'] : 0;
    if (start < 0) return nullptr;
    for (const CmdRow* r = cmds + start; r->name; r++)
        if (r->name[0] == c && cmatch(w, r->name)) return r;
    return nullptr;
}

// Keeps the executed line (for the error caret) across nested dispatches.
struct LineKeeper {
    const char* saved = glinep;
    ~LineKeeper() { glinep = saved; }
};

void appendnum(std::string& out, const ExprValue& v) {
    char buf[256];
    vtext(v, buf);
    out += buf;
}

} // namespace

// ---- keyword routines ------------------------------------------------------------------------

bool cmatch(const char* w, const char* keyword) {
    size_t n = strlen(w);
    if (!n || n > strlen(keyword)) return false;
    for (size_t i = 0; i < n; i++)
        if (lower(static_cast<unsigned char>(w[i])) !=
            lower(static_cast<unsigned char>(keyword[i])))
            return false;
    return n == strlen(keyword) || n >= 4;
}

bool umatch(const char* w, const char* keyword) {
    return cmatch(w, keyword);
}

const char* word(const char* text, const char** rest) {
    static char buf[256];
    while (isblank_(*text))
        text++;
    size_t n = 0;
    while (*text && !isblank_(*text)) {
        if (n < sizeof buf - 1) buf[n++] = *text;
        text++;
    }
    buf[n] = 0;
    while (isblank_(*text))
        text++;
    if (rest) *rest = text;
    return buf;
}

int toklist(const char* text, const char** rest, const char* const* list) {
    const char* w = word(text, rest);
    if (!*w) return -2;
    for (int i = 0; list[i]; i++)
        if (cmatch(w, list[i])) return i;
    return -1;
}

namespace {
void printlist(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); i++) {
        if (i) out += i + 1 == names.size() ? " or " : ", ";
        out += names[i];
    }
    out += " expected\r\n";
    eprintf("%s", out.c_str());
}
} // namespace

void tokexpect(const char* const* list) {
    std::vector<std::string> names;
    for (int i = 0; list[i]; i++) {
        std::string s = list[i];
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        names.push_back(s);
    }
    printlist(names);
}

void selexpect(const SelEntry* table) {
    std::vector<std::string> names;
    for (; table->name[0]; table++)
        names.push_back(table->name);
    printlist(names);
}

// ---- parameter substitution ------------------------------------------------------------------

int subparms(const char* line, char* out) {
    std::string o;
    const char* p = line;
    while (*p && o.size() < LINEMAX) {
        if (p[0] == '\\' && p[1] == '$') {
            o += '$';
            p += 2;
            continue;
        }
        if (*p != '$') {
            o += *p++;
            continue;
        }
        p++;
        if (*p >= '0' && *p <= '9') { // $n: argument n of the running file
            int n = *p++ - '0';
            if (n < gac && n < static_cast<int>(gav.size())) o += gav[n];
            continue;
        }
        if (*p == '(') { // $(expression)
            ExprValue v;
            glinep = line;
            if (!expr(v, p + 1)) return 1;
            if (op != ')') {
                eprintf("%s expected\r\n", "Right paren");
                return 1;
            }
            // The lexer stands just past the closing paren.
            p = linep;
            appendnum(o, v);
            continue;
        }
        char name[NAMELEN + 1];
        int n = 0;
        while (n < NAMELEN && isvarchar(static_cast<unsigned char>(*p)))
            name[n++] = *p++;
        name[n] = 0;
        Variable* var = n ? getvar(name, false) : nullptr;
        if (!var) {
            aberr("Unknown variable in substitution: %s\r\n", name);
            return 1;
        }
        int t = var->type & ~VT_SYS;
        if (t & VT_ARRAY) {
            aberr("$(<variable>) format must be used for indexed variables\r\n");
            return 1;
        }
        ExprValue v;
        v.type = static_cast<uint8_t>(t);
        v.number = var->num;
        if (t == V_STR)
            o += var->str;
        else if (t == V_NUM || t == V_LOG)
            appendnum(o, v);
    }
    if (o.size() > LINEMAX) o.resize(LINEMAX);
    memcpy(out, o.c_str(), o.size() + 1);
    return 0;
}

// ---- dispatch ----------------------------------------------------------------------------------

namespace {

// Runs the handler of `row` on a line whose command word was already looked up: `raw` is the
// line as written and `rest` its argument text. `dollar` false means the line holds no $, so
// substitution would give it back unchanged.
int dispatch(const CmdRow* row, const char* raw, const char* rest, bool dollar) {
    if (scriptsandbox && (row->flags & SIDE)) return RC_OK;
    if (iflevel != exlevel) {
        if (!(row->flags & STRUCT)) return RC_OK;
        glinep = raw;
        return row->fn(rest);
    }
    char sub[LINEMAX + 1];
    const char* text = raw;
    if (dollar && !(row->flags & NOSUB)) {
        if (subparms(raw, sub)) return RC_ERROR;
        text = sub;
        word(text, &rest);
    }
    if (echoflag) zzprintf("%s\r\n", visible(text).c_str());
    glinep = text;
    return row->fn(rest);
}

int unknown(const char* w) {
    aberr("Unknown command: '%s'\r\n", visible(w).c_str());
    return RC_ERROR;
}

} // namespace

int docmd(const char* line) {
    reapvars();
    LineKeeper keep;
    char raw[LINEMAX + 1];
    snprintf(raw, sizeof raw, "%s", line ? line : "");
    const char* rest;
    const char* w = word(raw, &rest);
    if (!*w || *w == '!') return RC_OK;
    const CmdRow* row = findcmd(w);
    if (!row) return unknown(w);
    return dispatch(row, raw, rest, strchr(raw, '$') != nullptr);
}

int docmdline(ScriptLine& l) {
    constexpr int COMMENT = -3;
    const char* raw = l.text.c_str();
    if (l.row == -2) { // the first time: split the line and look its command up, once
        const char* rest;
        const char* w = word(raw, &rest);
        if (!*w || *w == '!') {
            l.row = COMMENT;
        } else {
            const CmdRow* row = findcmd(w);
            l.row = row ? static_cast<int>(row - cmds) : -1;
            l.restoff = static_cast<int>(rest - raw);
        }
    }
    if (l.row == COMMENT) return RC_OK;
    reapvars();
    LineKeeper keep;
    if (l.row < 0) return unknown(word(raw, nullptr));
    return dispatch(cmds + l.row, raw, raw + l.restoff, l.dollar);
}

std::string visible(const char* text) {
    std::string out;
    for (const char* p = text ? text : ""; *p; p++) {
        auto c = static_cast<unsigned char>(*p);
        if (c < 32) {
            out += '^';
            out += static_cast<char>(c + 64);
        } else if (c == 127) {
            out += "^?";
        } else if (c >= 128 && c < 160) { // C1 controls
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void cmdreset() {
    cmdfilereset();
    flevel = iflevel = exlevel = 0;
    rsp = swsp = -1;
    inprcmd = inoncmd = inconfig = 0;
    insysfile = 0;
    canerror = 1;
    retval = 0;
    quitpend = -1;
    ev_delay = 0;
    ev_key = 0;
    ev_carr = ev_nocarr = ev_abort = ev_error = 0;
    ev_keyseek = 0;
    flowreset();
}

int c_nop(const char*) {
    return RC_OK;
}
int c_comment(const char*) {
    return RC_OK;
}

// Stand-in message for the commands whose subsystems are not in the program yet.
int notbuilt(const char* what) {
    zzprintf("The %s command is not built yet\r\n", what);
    return RC_ERROR;
}
