#include "script/var.h"

#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/settings.h"
#include "screen/vscreen.h"
#include "script/expr.h"
#include "script/lex.h"
#include "script/settab.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// ---- system variables ----------------------------------------------------------------------

// A system variable: read and written by its own functions, or (get null) the setting of the
// settings table that names it.
struct SysRow {
    const char* name;
    uint8_t type;
    void (*get)(Variable&);
    int (*set)(const ExprValue&, int length); // nullptr: read-only
};

std::string chstr(int c) {
    return c < 0 ? std::string() : std::string(1, static_cast<char>(c));
}
int firstch(const ExprValue& v) {
    return v.text[0] ? static_cast<unsigned char>(v.text[0]) : -1;
}

constexpr auto SETTING = nullptr;

// The configuration text fields _cremark .. _cwru, by their place among the seventeen.
template <int I> SysRow cfgrow(const char* name) {
    return {name, V_STR, [](Variable& v) { v.str = cfg[I]; },
            [](const ExprValue& val, int length) {
                cfg[I].assign(val.text, length ? static_cast<size_t>(length) : strlen(val.text));
                return 0;
            }};
}

// clang-format off
const SysRow sysvars[] = {
    {"_baud", V_NUM, [](Variable& v) { v.num = static_cast<int32_t>(baud); }, nullptr},
    {"_errno", V_NUM, [](Variable& v) { v.num = gerrno; }, nullptr},
    {"_filename", V_STR, [](Variable& v) { v.str = xfername; },
     [](const ExprValue& val, int) { xfername.assign(val.text, strnlen(val.text, 64)); return 0; }},
    {"_retval", V_NUM, [](Variable& v) { v.num = gretval; }, nullptr},
    {"_timeout", V_LOG, [](Variable& v) { v.num = gtimeout ? -1 : 0; }, nullptr},
    {"_kermiteol", V_STR, [](Variable& v) { v.str = chstr(kermeol); },
     [](const ExprValue& val, int) { if (firstch(val) >= 0) kermeol = firstch(val); return 0; }},
    {"_obufsiz", V_NUM, SETTING, nullptr},
    {"_escloop", V_NUM, SETTING, nullptr},
    {"_row", V_NUM, [](Variable& v) { v.num = vdestline; }, nullptr},
    {"_col", V_NUM, [](Variable& v) { v.num = vdestcol; }, nullptr},
    {"_turnchar", V_STR, [](Variable& v) { v.str = chstr(turnchar); },
     [](const ExprValue& val, int) { turnchar = firstch(val); return 0; }},
    {"_txwindow", V_NUM, SETTING, nullptr},
    {"_txblksiz", V_NUM, SETTING, nullptr},
    {"_debug", V_NUM, SETTING, nullptr},
    {"_vmin", V_NUM, SETTING, nullptr},
    {"_vtime", V_NUM, SETTING, nullptr},
    {"_rcvsync", V_NUM, SETTING, nullptr},
    cfgrow<0>("_cremark"),   cfgrow<1>("_cnumber"),   cfgrow<2>("_cbaud"),
    cfgrow<3>("_cparity"),   cfgrow<4>("_cwordlen"),  cfgrow<5>("_cstopbits"),
    cfgrow<6>("_cmode"),     cfgrow<7>("_cemulate"),  cfgrow<8>("_cxprot"),
    cfgrow<9>("_cprotocol"), cfgrow<10>("_ccaptfile"), cfgrow<11>("_clogin"),
    cfgrow<12>("_clogout"),  cfgrow<13>("_cstartsrv"), cfgrow<14>("_cstopsrv"),
    cfgrow<15>("_ccmdfile"), cfgrow<16>("_cwru"),
    {"_port", V_STR, [](Variable& v) { v.str = COM == &nulfunc ? "" : comline; }, nullptr},
    {"_version", V_STR, [](Variable& v) { v.str = versionline(); }, nullptr},
    {"_combufsiz", V_NUM, [](Variable& v) { v.num = COM->combufsiz; },
     [](const ExprValue& val, int) {
         COM->combufsiz = val.number < 1 || val.number > 1200 ? 1200 : val.number;
         return 0;
     }},
    {"_lockfile", V_STR, SETTING, nullptr},
    {"_cursess", V_NUM, [](Variable& v) { v.num = 1; }, nullptr},
};
// clang-format on
constexpr int NSYS = sizeof sysvars / sizeof sysvars[0];

Variable sysrows[NSYS];      // the rows getvar hands out, filled on each read
Variable parmvar;            // _0 .. _9
const Setting* sysset[NSYS]; // the setting behind each row whose get is null

// getsysvar: fills the row's value with the current setting.
void getsysvar(Variable& v) {
    const SysRow& r = sysvars[v.dim];
    v.num = 0;
    v.str.clear();
    if (r.get) {
        r.get(v);
    } else if (const Setting* s = sysset[v.dim]) {
        if (r.type == V_STR)
            v.str = settingtext(*s);
        else
            v.num = static_cast<int32_t>(settingvalue(*s));
    }
}

// setsysvar: writes a setting; 0 on success.
int setsysvar(Variable& v, const ExprValue& val, int length) {
    const SysRow& r = sysvars[v.dim];
    const Setting* s = r.get ? nullptr : sysset[v.dim];
    // A setting with a command of its own is only read through its variable.
    const bool writable = r.set || (s && (s->flags & SF_NOCMD));
    if (!writable) return numaberr("Can't set named system variable", ""), 1;
    if (val.type != r.type) return numaberr("Type mismatch in expression", ""), 1;
    if (r.set) return r.set(val, length);
    return putsetting(*s, val.number) < 0 ? 1 : 0;
}

void initsysrows() {
    for (int i = 0; i < NSYS; i++) {
        sysset[i] = nullptr;
        for (const Setting& st : settingstable())
            if (st.sysvar && !strcmp(st.sysvar, sysvars[i].name)) sysset[i] = &st;
        snprintf(sysrows[i].name, sizeof sysrows[i].name, "%s", sysvars[i].name);
        sysrows[i].type = static_cast<uint8_t>(sysvars[i].type | VT_SYS);
        sysrows[i].dim = i;
    }
    snprintf(parmvar.name, sizeof parmvar.name, "_0");
    parmvar.type = V_STR | VT_SYS;
    parmvar.dim = -1;
}

// The abort key typed during a listing (when aborting is allowed) stops it.
bool stopped() {
    if (!canabort || qflag || xorqflag) return false;
    int k = chrdynh();
    return k && k == abochar;
}

bool issys(const Variable* v) {
    return v->type & VT_SYS;
}

std::vector<std::unique_ptr<Variable>> graveyard;

void upname(const char* name, char* out) {
    int i = 0;
    for (; name[i] && i < NAMELEN; i++)
        out[i] = static_cast<char>(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 32 : name[i]);
    out[i] = 0;
}

// A string as memlist shows it: quoted, control bytes by their escape names.
void prquoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        const char* name = nullptr;
        switch (c) {
        case 8:
            name = "\\b";
            break;
        case 9:
            name = "\\t";
            break;
        case 10:
            name = "\\n";
            break;
        case 11:
            name = "\\v";
            break;
        case 12:
            name = "\\f";
            break;
        case 13:
            name = "\\r";
            break;
        case 27:
            name = "\\e";
            break;
        }
        if (name) {
            out += name;
        } else if (c < 32) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += "\"";
    outs(out.c_str());
}

} // namespace

// ---- lookup and assignment -----------------------------------------------------------------

// getvar: a name starting with _ is a system variable (the row itself when it is an assignment
// target, else the row filled with the current value) or, when only read, a command-file
// parameter _0.._9. Any other name is a user variable, created at the head of the list when
// it is an assignment target.
Variable* getvar(const char* name, bool create) {
    if (!sysrows[0].name[0]) initsysrows();
    char lname[NAMELEN + 1];
    int n = 0;
    for (; name[n] && n < NAMELEN; n++)
        lname[n] = static_cast<char>(name[n] >= 'A' && name[n] <= 'Z' ? name[n] + 32 : name[n]);
    lname[n] = 0;
    if (lname[0] == '_') {
        for (Variable& row : sysrows)
            if (!strcmp(row.name, lname)) {
                if (!create) getsysvar(row);
                return &row;
            }
        if (!create && lname[1] >= '0' && lname[1] <= '9' && !lname[2]) {
            int i = lname[1] - '0';
            snprintf(parmvar.name, sizeof parmvar.name, "%s", lname);
            parmvar.str = i < gac && i < static_cast<int>(gav.size()) ? gav[i] : "";
            return &parmvar;
        }
        return nullptr;
    }
    for (Variable* v = vhead.get(); v; v = v->next.get())
        if (v->name[0] == lname[0] && !strcmp(v->name, lname)) return v;
    if (!create) return nullptr;
    auto v = std::make_unique<Variable>();
    memcpy(v->name, lname, sizeof lname);
    v->next = std::move(vhead);
    vhead = std::move(v);
    return vhead.get();
}

int setvar(const ExprValue& target, const ExprValue& value, int length) {
    Variable* p = target.var;
    if (!p || (target.type != V_VAR && target.type != V_ELEM)) return 1;
    if (length < 0 || length > static_cast<int>(sizeof value.text)) length = 0;
    size_t len = length ? static_cast<size_t>(length) : strlen(value.text);
    try {
        if (target.type == V_ELEM) {
            if (!(p->type & VT_ARRAY) || issys(p)) return aberr("Variable not array type\r\n");
            if ((p->type & ~VT_ARRAY) != value.type)
                return aberr("Type mismatch for assignment\r\n");
            int32_t i = target.number;
            if (i < 0 || i >= p->dim) return aberr("Subscript out of bounds\r\n");
            if (value.type == V_STR)
                p->strs[i].assign(value.text, len);
            else
                p->cells[i] = value.number;
            return 0;
        }
        if (issys(p)) return p == &parmvar ? 1 : setsysvar(*p, value, length);
        if (p->type & VT_ARRAY) return aberr("Variable requires indexing value\r\n");
        if (value.type != V_NUM && value.type != V_STR && value.type != V_LOG) return 1;
        p->type = value.type;
        p->str.clear();
        p->str.shrink_to_fit();
        if (value.type == V_STR)
            p->str.assign(value.text, len);
        else
            p->num = value.number;
        return 0;
    } catch (const std::bad_alloc&) {
        return aberr("Out of RAM memory (Error #%d)\r\n", 12);
    }
}

// Releasing while an evaluation suspended by eval() may still point at the record would leave
// that pointer dangling, so the record is parked and freed at the next top-level dispatch.
void release(Variable* v) {
    if (!v || issys(v)) return;
    for (std::unique_ptr<Variable>* link = &vhead; *link; link = &(*link)->next) {
        if (link->get() != v) continue;
        std::unique_ptr<Variable> gone = std::move(*link);
        *link = std::move(gone->next);
        if (evaldepth) graveyard.push_back(std::move(gone));
        return;
    }
}

void releaseall() {
    while (vhead)
        release(vhead.get());
}

void reapvars() {
    if (!evaldepth) graveyard.clear();
}

void varreset() {
    releaseall();
    graveyard.clear();
    gac = 0;
    gav.clear();
    xfername.clear();
    gretval = 0;
    gtimeout = 0;
    kermeol = 13;
    turnchar = -1;
    for (std::string& s : cfg)
        s.clear();
    settingsdefaults();
    initsysrows();
}

// ---- listing -------------------------------------------------------------------------------

void prvar(const Variable& v, bool elements) {
    char up[NAMELEN + 1];
    upname(v.name, up);
    zzprintf("%-10s ", up);
    int t = v.type & ~VT_SYS;
    switch (t) {
    case V_NUM:
        zzprintf("numeric %d", v.num);
        break;
    case V_STR:
        outs("string  ");
        prquoted(v.str);
        break;
    case V_LOG:
        zzprintf("logical %s", v.num ? "true" : "false");
        break;
    case V_NUM | VT_ARRAY:
        zzprintf("dimint  [%d]", v.dim);
        break;
    case V_STR | VT_ARRAY:
        zzprintf("dimstr  [%d]", v.dim);
        break;
    case V_LOG | VT_ARRAY:
        zzprintf("dimlog  [%d]", v.dim);
        break;
    default:
        break;
    }
    outs("\r\n");
    if (!elements || !(t & VT_ARRAY)) return;
    for (int32_t i = 0; i < v.dim; i++) {
        char label[32];
        snprintf(label, sizeof label, "%s[%4d]", up, i);
        zzprintf("%-19s", label);
        if (t == (V_STR | VT_ARRAY))
            prquoted(v.strs[i]);
        else if (t == (V_LOG | VT_ARRAY))
            outs(v.cells[i] ? "true" : "false");
        else
            zzprintf("%d", v.cells[i]);
        outs("\r\n");
    }
}

// ---- commands ------------------------------------------------------------------------------

// setvar target expression
int c_setvar(const char* args) {
    ExprValue target, value;
    if (!lexpr(target, args)) return 1;
    if (!expr(value, nullptr)) return 1;
    return setvar(target, value) ? 1 : 0;
}

namespace {

// dimint/dimstr/dimlog name size
int dim(const char* args, uint8_t type) {
    ExprValue target, size;
    if (!lexpr(target, args)) {
        eprintf("%s expected\r\n", "Simple variable");
        return 1;
    }
    if (target.type == V_ELEM) return aberr("Simple variable required\r\n");
    if (issys(target.var)) {
        eprintf("%s expected\r\n", "Simple variable");
        return 1;
    }
    int t = expr(size, nullptr);
    if (!t) return 1;
    if (t != V_NUM) return aberr("Constant numeric expression required\r\n");
    if (size.number <= 0) return aberr("Dimension must be greater than 0\r\n");
    Variable* v = target.var;
    v->str.clear();
    v->cells.clear();
    v->strs.clear();
    v->cells.shrink_to_fit();
    v->strs.shrink_to_fit();
    v->dim = 0;
    v->type = VT_UNSET;
    if (size.number > MAXDIM) return aberr("Out of RAM memory (Error #%d)\r\n", 13);
    try {
        if (type == V_STR)
            v->strs.resize(static_cast<size_t>(size.number));
        else
            v->cells.assign(static_cast<size_t>(size.number), 0);
    } catch (const std::bad_alloc&) {
        return aberr("Out of RAM memory (Error #%d)\r\n", 13);
    }
    v->dim = size.number;
    v->type = static_cast<uint8_t>(type | VT_ARRAY);
    return 0;
}

} // namespace

int c_dimint(const char* args) {
    return dim(args, V_NUM);
}
int c_dimstr(const char* args) {
    return dim(args, V_STR);
}
int c_dimlog(const char* args) {
    return dim(args, V_LOG);
}

// release * | release name [, name ...]
int c_release(const char* args) {
    const char* p = args;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '*') {
        releaseall();
        return 0;
    }
    ExprValue target;
    for (bool first = true;; first = false) {
        if (!lexpr(target, first ? args : nullptr)) return 1;
        if (issys(target.var))
            return aberr("Can't release system variable %s\r\n", target.var->name);
        release(target.var);
        if (op != ',') break;
        etoken();
    }
    return 0;
}

// memlist [l | s]
int c_memlist(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    char mode = static_cast<char>(*args | 0x20);
    outs("Name       Type    Value\r\n");
    outs("---------- ------- ------------\r\n");
    if (mode == 's') {
        if (!sysrows[0].name[0]) initsysrows();
        for (Variable& row : sysrows) {
            getsysvar(row);
            prvar(row, false);
        }
        return 0;
    }
    for (const Variable* v = vhead.get(); v; v = v->next.get()) {
        prvar(*v, mode == 'l');
        if (stopped()) break;
    }
    return 0;
}

// ---- the string store ----------------------------------------------------------------------

void setstr(std::string& holder, const char* text) {
    try {
        holder.clear();
        holder.shrink_to_fit();
        if (text) holder = text;
    } catch (const std::bad_alloc&) {
        aberr("Out of RAM memory (Error #%d)\r\n", 10);
    }
}

const char* getstr(const std::string& holder) {
    return holder.c_str();
}

void freestr(std::string& holder) {
    holder.clear();
    holder.shrink_to_fit();
}

void initab(std::unique_ptr<unsigned char[]>& holder, bool zeroed) {
    try {
        holder = std::make_unique<unsigned char[]>(256);
        for (int i = 0; i < 256; i++)
            holder[i] = zeroed ? 0 : static_cast<unsigned char>(i);
    } catch (const std::bad_alloc&) {
        aberr("Out of RAM memory (Error #%d)\r\n", 11);
    }
}

void initstr() {
    setstr(captfname, "capt#.fil");
    setstr(prfname, "pr#.fil");
    setstr(spooler, "lp");
    setstr(logfname, "vorn.log");
    for (const Setting& st : settingstable())
        if (st.type == ST_TEXT && st.sdef) st.sp.put(st.sdef);
}
