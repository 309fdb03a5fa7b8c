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
    {"addcr", 0, c_addcr},        {"addlf", 0, c_addlf},        {"answer", 0, c_answer},
    {"at", 0, c_at},              {"attr", 0, c_attr},          {"batch", 0, c_batch},
    {"baud", 0, c_baud},          {"break", 0, c_break},        {"call", 0, c_call},
    {"capture", 0, c_capture},    {"case", STRUCT, c_case},     {"cdelay", 0, c_cdelay},
    {"cd", 0, c_cd},              {"charset", 0, c_charset},    {"chown", 0, c_nop},
    {"chtype", 0, c_nop},         {"cls", 0, c_cls},            {"color", 0, c_color},
    {"combase", 0, c_nop},        {"comment", 0, c_comment},    {"config", 0, c_config},
    {"connect", 0, c_connect},    {"copy", 0, c_copy},          {"cread", 0, c_cread},
    {"creadint", 0, c_creadint},  {"devprefix", 0, c_devprefix}, {"dialog", 0, c_dialog},
    {"dimint", 0, c_dimint},      {"dimlog", 0, c_dimlog},      {"dimstr", 0, c_dimstr},
    {"do", 0, c_do},              {"dansoff", 0, c_dansoff},    {"dautoans", 0, c_dautoans},
    {"dconnect", 0, c_dconnect},  {"default", STRUCT, c_default}, {"descape", 0, c_descape},
    {"dhangup", 0, c_dhangup},    {"dinit", 0, c_dinit},        {"display", 0, c_display},
    {"doffhook", 0, c_doffhook},  {"dokstr", 0, c_dokstr},      {"dprefix", 0, c_dprefix},
    {"dringstr", 0, c_dringstr},  {"dsuffix", 0, c_dsuffix},    {"dtimeout", 0, c_dtimeout},
    {"dwait", 0, c_dwait},        {"edit", 0, c_edit},          {"editor", 0, c_editor},
    {"else", STRUCT, c_else},     {"elseif", STRUCT, c_elseif}, {"emulate", 0, c_emulate},
    {"endfor", 0, c_endfor},      {"endif", STRUCT, c_endif},   {"endon", 0, c_endon},
    {"endproc", 0, c_endproc},    {"endswitch", STRUCT, c_endswitch}, {"erase", 0, c_erase},
    {"fclose", 0, c_fclose},      {"fcreate", 0, c_fcreate},    {"fflush", 0, c_fflush},
    {"fillchar", 0, c_fillchar},  {"flags", 0, c_flags},        {"flush", 0, c_flush},
    {"for", NOSUB, c_for},        {"fopen", 0, c_fopen},        {"fread", 0, c_fread},
    {"freadln", 0, c_freadln},    {"fseek", 0, c_fseek},        {"fwrite", 0, c_fwrite},
    {"fwriteln", 0, c_fwriteln},  {"get", 0, c_get},            {"hangup", 0, c_hangup},
    {"help", 0, c_help},          {"hiwait", 0, c_hiwait},      {"htime", 0, c_htime},
    {"if", STRUCT, c_if},         {"iferror", STRUCT | NOSUB, c_iferror},
    {"ignore", 0, c_ignore},      {"init", 0, c_init},          {"itime", 0, c_itime},
    {"keyboard", 0, c_nop},       {"lchar", 0, c_lchar},        {"lchrdy", 0, c_lchrdy},
    {"ldelay", 0, c_ldelay},      {"learn", 0, c_learn},        {"lockfile", 0, c_lockfile},
    {"locktime", 0, c_locktime},  {"log", 0, c_log},            {"logfile", 0, c_logfile},
    {"login", 0, c_login},        {"logout", 0, c_logout},      {"lowait", 0, c_lowait},
    {"lsend", 0, c_lsend},        {"ltime", 0, c_nop},          {"memlist", 0, c_memlist},
    {"menu", 0, c_menu},          {"minitel", 0, c_nop},        {"mkdir", 0, c_mkdir},
    {"mode", 0, c_mode},          {"modem", 0, c_modem},        {"netdialog", 0, c_netdialog},
    {"netname", 0, c_netname},    {"netport", 0, c_netport},    {"netvtname", 0, c_netvtname},
    {"noerror", NOSUB, c_noerror}, {"on", 0, c_on},             {"pages", 0, c_pages},
    {"parity", 0, c_parity},      {"partopen", 0, c_partopen},  {"pause", 0, c_pause},
    {"portlist", 0, c_portlist},  {"printer", 0, c_printer},    {"proc", 0, c_proc},
    {"protocol", 0, c_protocol},  {"quit", 0, c_quit},          {"rcv", 0, c_rcv},
    {"read", 0, c_read},          {"readint", 0, c_readint},    {"readn", 0, c_readn},
    {"redial", 0, c_redial},      {"release", 0, c_release},    {"remark", 0, c_remark},
    {"remote", 0, c_remote},      {"rename", 0, c_rename},      {"repeat", 0, c_repeat},
    {"restart", 0, c_restart},    {"retries", 0, c_retries},    {"return", 0, c_return},
    {"rewind", 0, c_rewind},      {"rmdir", 0, c_rmdir},        {"rtime", 0, c_rtime},
    {"run", 0, c_run},            {"runx", 0, c_runx},          {"scrollback", 0, c_scrollback},
    {"send", 0, c_send},          {"server", 0, c_server},      {"session", 0, c_session},
    {"setcap", 0, c_setcap},      {"setcolor", 0, c_setcolor},  {"setdelay", 0, c_setdelay},
    {"setkey", 0, c_setkey},      {"setsym", 0, c_setsym},      {"setvar", 0, c_setvar},
    {"set", 0, c_set},            {"sshpath", 0, c_sshpath},    {"startserver", 0, c_startserver},
    {"status", 0, c_status},      {"stime", 0, c_stime},        {"stopbits", 0, c_stopbits},
    {"stopserver", 0, c_stopserver}, {"switch", STRUCT, c_switch}, {"tdelay", 0, c_tdelay},
    {"terminal", 0, c_terminal},  {"time", 0, c_time},          {"trans", 0, c_trans},
    {"type", 0, c_type},          {"until", 0, c_until},        {"usend", 0, c_usend},
    {"version", 0, c_version},    {"vi", 0, c_edit},            {"vidblink", 0, c_nop},
    {"vidcard", 0, c_nop},        {"vidout", 0, c_nop},         {"vidunder", 0, c_nop},
    {"wait", 0, c_wait},          {"wclose", 0, c_wclose},      {"wildsize", 0, c_wildsize},
    {"wopen", 0, c_wopen},        {"wordlen", 0, c_wordlen},    {"wru", 0, c_wru},
    {"wruchar", 0, c_wruchar},    {"wselect", 0, c_wselect},    {"xfer", 0, c_xfer},
    {"xmit", 0, c_xmit},          {"xonxoff", 0, c_xonxoff},    {"xprot", 0, c_xprot},
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

int docmd(const char* line) {
    reapvars();
    LineKeeper keep;
    char raw[LINEMAX + 1];
    snprintf(raw, sizeof raw, "%s", line ? line : "");
    const char* rest;
    const char* w = word(raw, &rest);
    if (!*w || *w == '!') return RC_OK;
    char cmdword[LINEMAX + 1];
    snprintf(cmdword, sizeof cmdword, "%s", w);
    const CmdRow* row = findcmd(cmdword);
    if (!row) {
        aberr("Unknown command: '%s'\r\n", cmdword);
        return RC_ERROR;
    }
    if (iflevel != exlevel) {
        if (!(row->flags & STRUCT)) return RC_OK;
        glinep = raw;
        return row->fn(rest);
    }
    char sub[LINEMAX + 1];
    const char* text = raw;
    if (!(row->flags & NOSUB)) {
        if (subparms(raw, sub)) return RC_ERROR;
        text = sub;
    }
    if (echoflag) zzprintf("%s\r\n", text);
    word(text, &rest);
    glinep = text;
    return row->fn(rest);
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
