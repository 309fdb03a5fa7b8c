#include "script/expr.h"

#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "script/lex.h"
#include "script/settab.h"
#include "script/var.h"
#include "script/vtime.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// ---- errors and the pool of partial values -------------------------------------------------

[[noreturn]] void fail(const char* msg, const char* arg = "") {
    numaberr(msg, arg);
    throw ExprError{}; // numaberr has already thrown inside an evaluation; this is a backstop
}

ExprValue malarray[MAXPOOL];
bool inuse[MAXPOOL];

// One pool slot for a right operand or a function argument, given back on every way out.
class Slot {
  public:
    Slot() {
        for (int i = 0; i < MAXPOOL; i++)
            if (!inuse[i]) {
                inuse[i] = true;
                idx_ = i;
                ExprValue& v = malarray[i]; // a fresh value, without clearing its whole text
                v.number = 0;
                v.text[0] = 0;
                v.type = V_NONE;
                v.var = nullptr;
                return;
            }
        fail("Expression too complicated");
    }
    ~Slot() { inuse[idx_] = false; }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ExprValue& v() { return malarray[idx_]; }

  private:
    int idx_ = 0;
};

void setnum(ExprValue& v, int32_t n, uint8_t type = V_NUM) {
    v.type = type;
    v.number = n;
    v.var = nullptr;
}

void setstrv(ExprValue& v, const char* s, size_t n) {
    if (n > STRMAX) n = STRMAX;
    memcpy(v.text, s, n);
    v.text[n] = 0;
    v.type = V_STR;
    v.var = nullptr;
}

void setstrv(ExprValue& v, const char* s) {
    setstrv(v, s, strlen(s));
}

int32_t wrap(int64_t x) {
    return static_cast<int32_t>(static_cast<uint32_t>(x));
}

// ---- built-in functions --------------------------------------------------------------------

// The arguments are pool slots, so the implementations get an array of pointers to them.
using FuncImpl = void (*)(ExprValue& r, ExprValue* const* a);

void f_asc(ExprValue& r, ExprValue* const* a) {
    setnum(r, static_cast<unsigned char>(a[0]->text[0]));
}
void f_atod(ExprValue& r, ExprValue* const* a) {
    setnum(r, atod(a[0]->text));
}
void f_cdate(ExprValue& r, ExprValue* const* a) {
    setstrv(r, adate(a[0]->number));
}
void f_chr(ExprValue& r, ExprValue* const* a) {
    char c = static_cast<char>(a[0]->number & 255);
    setstrv(r, &c, c ? 1 : 0);
}
// A key as a one-character string; keys above 255 (function and cursor keys) give their low
// byte, no key the empty string.
void keystr(ExprValue& r, int k) {
    if (scriptsandbox) k = 0;
    char c = static_cast<char>(k & 255);
    setstrv(r, &c, k > 0 && c ? 1 : 0);
}
void f_chrdy(ExprValue& r, ExprValue* const*) {
    keystr(r, scriptsandbox ? 0 : chrdynh());
}
void f_chrin(ExprValue& r, ExprValue* const*) {
    keystr(r, scriptsandbox ? 0 : chrin());
}
void f_comin(ExprValue& r, ExprValue* const*) {
    keystr(r, scriptsandbox ? 0 : COM->in());
}
void f_comst(ExprValue& r, ExprValue* const*) {
    setnum(r, COM->stnh() > 0 ? -1 : 0, V_LOG);
}
void f_ctime(ExprValue& r, ExprValue* const* a) {
    setstrv(r, atime(a[0]->number));
}

// eval runs a command line in the middle of an expression: everything the lexer and the
// evaluator hold is kept aside and put back, and the command runs outside the evaluation so
// that its own errors stop at its own boundary.
void f_eval(ExprValue& r, ExprValue* const* a) {
    struct Saved {
        const char* linep = ::linep;
        int gnextc = ::gnextc;
        const char* glinep = ::glinep;
        int op = ::op;
        int32_t ival = ::ival;
        std::string sval = ::sval;
        int inexpr = ::inexpr;
        int inlexpr = ::inlexpr;
        int depth = ++evaldepth;
        ~Saved() {
            evaldepth = depth - 1;
            ::linep = linep;
            ::gnextc = gnextc;
            ::glinep = glinep;
            ::op = op;
            ::ival = ival;
            snprintf(::sval, sizeof ::sval, "%s", sval.c_str());
            ::inexpr = inexpr;
            ::inlexpr = inlexpr;
        }
    } saved;
    std::string line = a[0]->text;
    inexpr = 0;
    inlexpr = 0;
    int rc = docmd(line.c_str());
    setnum(r, rc);
}

bool statok(const char* name, struct stat& st) {
    return stat(name, &st) == 0;
}
void f_exists(ExprValue& r, ExprValue* const* a) {
    struct stat st;
    setnum(r, statok(a[0]->text, st) && !S_ISDIR(st.st_mode) ? -1 : 0, V_LOG);
}
// stand-in until script files exist: every file number is closed.
void f_feof(ExprValue& r, ExprValue* const*) {
    setnum(r, -1, V_LOG);
}
void f_filedate(ExprValue& r, ExprValue* const* a) {
    struct stat st;
    setnum(r, statok(a[0]->text, st) ? convtime(st.st_mtime) : -1);
}
void f_filemode(ExprValue& r, ExprValue* const* a) {
    struct stat st;
    setnum(r, statok(a[0]->text, st) ? static_cast<int32_t>(st.st_mode) : 0666);
}
void f_filesize(ExprValue& r, ExprValue* const* a) {
    struct stat st;
    setnum(r, statok(a[0]->text, st) ? wrap(st.st_size) : 0);
}
void f_ftell(ExprValue& r, ExprValue* const*) {
    setnum(r, -1);
} // stand-in: no script file open
void f_getenv(ExprValue& r, ExprValue* const* a) {
    const char* v = getenv(a[0]->text);
    setstrv(r, v ? v : "");
}
void f_gethomedir(ExprValue& r, ExprValue* const*) {
    const char* h = gethomedir();
    setstrv(r, h ? h : "");
}
void f_hascolor(ExprValue& r, ExprValue* const*) {
    setnum(r, Ncolors > 0 ? -1 : 0, V_LOG);
}
void f_isdir(ExprValue& r, ExprValue* const* a) {
    struct stat st;
    setnum(r, statok(a[0]->text, st) && S_ISDIR(st.st_mode) ? -1 : 0, V_LOG);
}

void range(int32_t n, int32_t lo) {
    if (n < lo || n > STRMAX) fail("Index out of range");
}
void f_left(ExprValue& r, ExprValue* const* a) {
    range(a[1]->number, 0);
    size_t len = strlen(a[0]->text);
    setstrv(r, a[0]->text, std::min(len, static_cast<size_t>(a[1]->number)));
}
void f_len(ExprValue& r, ExprValue* const* a) {
    setnum(r, static_cast<int32_t>(strlen(a[0]->text)));
}
void f_mdmstat(ExprValue& r, ExprValue* const*) {
    setnum(r, COM->mstat());
}
// stand-in until script menus exist.
void f_menu(ExprValue& r, ExprValue* const*) {
    setnum(r, -1);
}
void f_midstr(ExprValue& r, ExprValue* const* a) {
    range(a[1]->number, 1);
    range(a[2]->number, 0);
    size_t len = strlen(a[0]->text);
    size_t from = static_cast<size_t>(a[1]->number - 1);
    if (from >= len) return setstrv(r, "");
    setstrv(r, a[0]->text + from, std::min(len - from, static_cast<size_t>(a[2]->number)));
}
void f_opsys(ExprValue& r, ExprValue* const*) {
    setnum(r, 3);
}
void f_pos(ExprValue& r, ExprValue* const* a) {
    range(a[2]->number, 1);
    const char* needle = a[0]->text;
    const char* hay = a[1]->text;
    size_t len = strlen(hay);
    size_t from = static_cast<size_t>(a[2]->number - 1);
    if (from >= len) return setnum(r, 0);
    const char* hit = strstr(hay + from, needle);
    setnum(r, hit ? static_cast<int32_t>(hit - hay + 1) : 0);
}
void f_right(ExprValue& r, ExprValue* const* a) {
    range(a[1]->number, 0);
    size_t len = strlen(a[0]->text);
    size_t n = std::min(len, static_cast<size_t>(a[1]->number));
    setstrv(r, a[0]->text + len - n, n);
}
void f_str(ExprValue& r, ExprValue* const* a) {
    char buf[16];
    snprintf(buf, sizeof buf, "%d", a[0]->number);
    setstrv(r, buf);
}

// Kermit's CRC-16: reflected CCITT polynomial, four bits at a time, no final inversion.
uint32_t kcrc(const unsigned char* s, uint32_t crc) {
    for (; *s; s++) {
        uint32_t c = *s;
        uint32_t q = (crc ^ c) & 15;
        crc = (crc >> 4) ^ (q * 0x1081);
        q = (crc ^ (c >> 4)) & 15;
        crc = (crc >> 4) ^ (q * 0x1081);
    }
    return crc;
}
void f_sum(ExprValue& r, ExprValue* const* a) {
    auto s = reinterpret_cast<const unsigned char*>(a[0]->text);
    uint32_t acc = static_cast<uint32_t>(a[2]->number);
    switch (a[1]->number) {
    case 0:
        for (; *s; s++)
            acc += *s;
        break;
    case 1:
        for (; *s; s++)
            acc ^= *s;
        break;
    case 2:
        acc = kcrc(s, acc);
        break;
    default:
        break;
    }
    setnum(r, static_cast<int32_t>(acc));
}
void f_time(ExprValue& r, ExprValue* const*) {
    setnum(r, vorntime());
}
void f_tolower(ExprValue& r, ExprValue* const* a) {
    setstrv(r, a[0]->text);
    for (char* p = r.text; *p; p++)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
}
void f_toupper(ExprValue& r, ExprValue* const* a) {
    setstrv(r, a[0]->text);
    for (char* p = r.text; *p; p++)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
}
void f_trim(ExprValue& r, ExprValue* const* a) {
    size_t n = strlen(a[0]->text);
    while (n && a[0]->text[n - 1] == ' ')
        n--;
    setstrv(r, a[0]->text, n);
}

// Each run of # becomes the file-name counter (a lone # one digit), counting up until a name
// that does not exist yet is created. The file is created exclusively, so an existing file is
// never truncated; a pattern without # names one file, which must not exist yet.
void f_uniq(ExprValue& r, ExprValue* const* a) {
    if (scriptsandbox) return setstrv(r, "");
    std::string name;
    int numbered = macsub(a[0]->text, name, 1, 1);
    for (int tries = 0; tries < 100000 && name.size() <= STRMAX; tries++) {
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            close(fd);
            return setstrv(r, name.c_str());
        }
        struct stat st;
        if (errno != EEXIST || !numbered || (stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
            break;
        macsub(a[0]->text, name, 1, 0);
    }
    setstrv(r, "");
}
void f_val(ExprValue& r, ExprValue* const* a) {
    const char* p = a[0]->text;
    while (*p == ' ' || *p == '\t')
        p++;
    bool neg = false;
    if (*p == '-' || *p == '+') neg = *p++ == '-';
    uint32_t v = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        v = v * 10 + static_cast<uint32_t>(*p - '0');
    setnum(r, static_cast<int32_t>(neg ? 0u - v : v));
}
void f_vornbits(ExprValue& r, ExprValue* const*) {
    setnum(r, vornsetbits());
}

} // namespace

struct FuncRow {
    const char* name;
    uint8_t result;
    uint8_t args[3];
    FuncImpl fn;
};

namespace {

constexpr uint8_t N = V_NUM, S = V_STR, L = V_LOG, X = V_NONE;

// Kept in ascending order of name: the lookup stops at the first name sorting after the one
// sought.
// clang-format off
const FuncRow funclist[] = {
    {"asc",        N, {S, X, X}, f_asc},
    {"atod",       N, {S, X, X}, f_atod},
    {"cdate",      S, {N, X, X}, f_cdate},
    {"chr",        S, {N, X, X}, f_chr},
    {"chrdy",      S, {X, X, X}, f_chrdy},
    {"chrin",      S, {X, X, X}, f_chrin},
    {"comin",      S, {X, X, X}, f_comin},
    {"comst",      L, {X, X, X}, f_comst},
    {"ctime",      S, {N, X, X}, f_ctime},
    {"eval",       N, {S, X, X}, f_eval},
    {"exists",     L, {S, X, X}, f_exists},
    {"feof",       L, {N, X, X}, f_feof},
    {"filedate",   N, {S, X, X}, f_filedate},
    {"filemode",   N, {S, X, X}, f_filemode},
    {"filesize",   N, {S, X, X}, f_filesize},
    {"ftell",      N, {N, X, X}, f_ftell},
    {"getenv",     S, {S, X, X}, f_getenv},
    {"gethomedir", S, {X, X, X}, f_gethomedir},
    {"hascolor",   L, {X, X, X}, f_hascolor},
    {"isdir",      L, {S, X, X}, f_isdir},
    {"left",       S, {S, N, X}, f_left},
    {"len",        N, {S, X, X}, f_len},
    {"mdmstat",    N, {X, X, X}, f_mdmstat},
    {"menu",       N, {N, N, X}, f_menu},
    {"midstr",     S, {S, N, N}, f_midstr},
    {"opsys",      N, {X, X, X}, f_opsys},
    {"pos",        N, {S, S, N}, f_pos},
    {"right",      S, {S, N, X}, f_right},
    {"str",        S, {N, X, X}, f_str},
    {"sum",        N, {S, N, N}, f_sum},
    {"time",       N, {X, X, X}, f_time},
    {"tolower",    S, {S, X, X}, f_tolower},
    {"toupper",    S, {S, X, X}, f_toupper},
    {"trim",       S, {S, X, X}, f_trim},
    {"uniq",       S, {S, X, X}, f_uniq},
    {"val",        N, {S, X, X}, f_val},
    {"vornbits",   N, {X, X, X}, f_vornbits},
    {"",           X, {X, X, X}, nullptr},
};
// clang-format on

// ---- the grammar ---------------------------------------------------------------------------

void e_or(ExprValue& v);
void e_index(ExprValue& v);

// call -> name ( [expr {, expr}] )   (exactly as many arguments as the row declares)
void e_call(ExprValue& v, const FuncRow* f) {
    etoken();
    if (op != '(') fail("Missing left paren");
    etoken();
    std::optional<Slot> slot[3];
    ExprValue* args[3] = {};
    for (int i = 0; i < 3 && f->args[i] != V_NONE; i++) {
        if (i > 0) {
            if (op != ',') fail("Comma expected");
            etoken();
        }
        slot[i].emplace();
        args[i] = &slot[i]->v();
        e_or(*args[i]);
        rval(*args[i]);
        if (args[i]->type != f->args[i]) fail("Type mismatch in expression");
    }
    if (op != ')') fail("Too many arguments or Missing right paren");
    etoken();
    f->fn(v, args);
    v.type = f->result;
}

// factor -> (+|-) index | not index | literal | call | variable | ( expr )
void e_factor(ExprValue& v) {
    switch (op) {
    case T_ADD: {
        int sign = ival;
        etoken();
        e_index(v);
        chknum(v);
        if (sign == '-') v.number = wrap(-static_cast<int64_t>(v.number));
        return;
    }
    case T_NOT:
        etoken();
        e_index(v);
        chkbool(v);
        v.number = ~v.number;
        return;
    case T_NUM:
        setnum(v, ival);
        etoken();
        return;
    case T_LOG:
        setnum(v, ival, V_LOG);
        etoken();
        return;
    case T_STR:
        setstrv(v, sval);
        etoken();
        return;
    case T_IDENT: {
        if (const FuncRow* f = isfunc(sval)) return e_call(v, f);
        Variable* var = getvar(sval, inlexpr != 0);
        if (!var) fail("Unknown variable: %s", sval);
        v.type = V_VAR;
        v.var = var;
        v.number = 0;
        etoken();
        return;
    }
    case '(':
        etoken();
        e_or(v);
        if (op != ')') fail("Missing right paren");
        etoken();
        return;
    case T_END:
        fail("More input expected");
    case ')':
        fail("Missing expression inside parens");
    default:
        fail("Invalid expression");
    }
}

// index -> factor { [ expr ] }
void e_index(ExprValue& v) {
    e_factor(v);
    while (op == '[') {
        if (v.type != V_VAR) fail("Simple variable required");
        etoken();
        int outer = inlexpr;
        inlexpr = 0;
        ExprValue ix;
        e_or(ix);
        chknum(ix);
        inlexpr = outer;
        if (op != ']') fail("Missing right bracket");
        etoken();
        v.type = V_ELEM;
        v.number = ix.number;
    }
}

// mul -> index { (* | / | % | mod) index }
void e_mul(ExprValue& v) {
    e_index(v);
    while (op == T_MUL) {
        chknum(v);
        int o = ival;
        etoken();
        Slot s;
        ExprValue& r = s.v();
        e_index(r);
        chknum(r);
        int32_t a = v.number, b = r.number;
        if (o == '*') {
            v.number = wrap(static_cast<int64_t>(a) * b);
        } else if (o == '/') {
            if (!b) fail("Divide by zero error");
            v.number = wrap(static_cast<int64_t>(a) / b);
        } else {
            if (!b) fail("Modulo by zero error");
            v.number = static_cast<int32_t>(static_cast<int64_t>(a) % b);
        }
    }
}

// add -> mul { (+ | -) mul }
void e_add(ExprValue& v) {
    e_mul(v);
    while (op == T_ADD) {
        chknstr(v);
        int o = ival;
        etoken();
        Slot s;
        ExprValue& r = s.v();
        e_mul(r);
        chknstr(r);
        if (r.type != v.type) fail("Type mismatch in expression");
        if (v.type == V_STR) {
            if (o == '-') fail("Invalid string operator");
            size_t n = strlen(v.text);
            snprintf(v.text + n, sizeof v.text - n, "%s", r.text);
        } else {
            int64_t b = r.number;
            v.number = wrap(v.number + (o == '+' ? b : -b));
        }
    }
}

// shift -> add { (<< | shl | >> | shr) add }
void e_shift(ExprValue& v) {
    e_add(v);
    while (op == T_SHIFT) {
        chknum(v);
        int left = ival;
        etoken();
        Slot s;
        ExprValue& r = s.v();
        e_add(r);
        chknum(r);
        auto u = static_cast<uint32_t>(v.number);
        int32_t cnt = r.number;
        if (left)
            v.number = cnt > 31 ? 0 : static_cast<int32_t>(u << (cnt & 31));
        else
            v.number = static_cast<int32_t>(u >> (cnt & 31));
    }
}

// rel -> shift [ relop shift ]   (at most one comparison)
void e_rel(ExprValue& v) {
    e_shift(v);
    if (op != T_REL) return;
    rval(v);
    int rel = ival;
    etoken();
    Slot s;
    ExprValue& r = s.v();
    e_shift(r);
    rval(r);
    if (r.type != v.type) fail("Type mismatch in expression");
    int32_t t = v.type == V_STR ? strtrue(rel, v.text, r.text) : istrue(rel, v.number, r.number);
    setnum(v, t, V_LOG);
}

// and -> rel { (& | and) rel }
void e_and(ExprValue& v) {
    e_rel(v);
    while (op == T_AND) {
        chkbool(v);
        etoken();
        Slot s;
        ExprValue& r = s.v();
        e_rel(r);
        chkbool(r);
        if (r.type != v.type) fail("Type mismatch in expression");
        v.number &= r.number;
    }
}

// expr -> and { (| | or | ^ | xor) and }
void e_or(ExprValue& v) {
    e_and(v);
    while (op == T_OR) {
        chkbool(v);
        int x = ival;
        etoken();
        Slot s;
        ExprValue& r = s.v();
        e_and(r);
        chkbool(r);
        if (r.type != v.type) fail("Type mismatch in expression");
        v.number = x ? v.number ^ r.number : v.number | r.number;
    }
}

// Runs one parse step with the unwind point set; the previous evaluation state comes back on
// every way out.
template <class F> int guarded(ExprValue& v, F&& step) {
    int outer = inexpr, outerl = inlexpr;
    inexpr = 1;
    try {
        step();
    } catch (const ExprError&) {
        v.type = V_NONE;
    }
    inexpr = outer;
    inlexpr = outerl;
    return v.type;
}

} // namespace

int expr(ExprValue& v, const char* text) {
    v = ExprValue{};
    return guarded(v, [&] {
        if (text) lexstart(text);
        e_or(v);
        rval(v);
    });
}

int lexpr(ExprValue& v, const char* text) {
    v = ExprValue{};
    return guarded(v, [&] {
        inlexpr = 1;
        if (text) lexstart(text);
        e_index(v);
        inlexpr = 0;
        if (v.type != V_VAR && v.type != V_ELEM) fail("Simple or indexed variable required");
    });
}

int strexpr(ExprValue& v, const char* text) {
    int t = expr(v, text);
    if (!t) return 0;
    if (t != V_STR) return aberr("String expression required\r\n"), 0;
    return t;
}

int numexpr(ExprValue& v, const char* text) {
    int t = expr(v, text);
    if (!t) return 0;
    if (t != V_NUM) return aberr("Numeric expression required\r\n"), 0;
    return t;
}

void rval(ExprValue& v) {
    if (v.type != V_VAR && v.type != V_ELEM) return;
    Variable* p = v.var;
    int t = p->type & ~VT_SYS;
    if (v.type == V_VAR) {
        if (t & VT_ARRAY) fail("Variable requires indexing value");
        if (t == V_NUM || t == V_LOG) return setnum(v, p->num, static_cast<uint8_t>(t));
        if (t == V_STR) return setstrv(v, p->str.data(), p->str.size());
        fail("Variable value not set");
    }
    int32_t i = v.number;
    if (t & VT_ARRAY) {
        if (i < 0 || i >= p->dim) fail("Subscript out of bounds");
        t &= ~VT_ARRAY;
        if (t == V_NUM || t == V_LOG) return setnum(v, p->cells[i], static_cast<uint8_t>(t));
        if (t == V_STR) return setstrv(v, p->strs[i].data(), p->strs[i].size());
        fail("Indexed variable value not set");
    }
    if (t != V_STR) fail("Variable not array or string type");
    if (i < 0 || static_cast<size_t>(i) >= p->str.size()) fail("String subscript out of bounds");
    setnum(v, static_cast<unsigned char>(p->str[i]));
}

void chknum(ExprValue& v) {
    rval(v);
    if (v.type != V_NUM) fail("Number expected");
}

void chkbool(ExprValue& v) {
    rval(v);
    if (v.type != V_NUM && v.type != V_LOG) fail("Number or logical expected");
}

void chknstr(ExprValue& v) {
    rval(v);
    if (v.type != V_NUM && v.type != V_STR) fail("Number or string expected");
}

void vtext(const ExprValue& v, char* out) {
    if (v.type == V_STR)
        snprintf(out, 256, "%s", v.text);
    else if (v.type == V_LOG)
        snprintf(out, 256, "%s", v.number ? "true" : "false");
    else
        snprintf(out, 256, "%d", v.number);
}

void pval(const ExprValue& v) {
    char buf[256];
    vtext(v, buf);
    outs(buf);
}

int istrue(int relop, int32_t a, int32_t b) {
    bool r = false;
    switch (relop) {
    case R_EQ:
        r = a == b;
        break;
    case R_LT:
        r = a < b;
        break;
    case R_GT:
        r = a > b;
        break;
    case R_NE:
        r = a != b;
        break;
    case R_LE:
        r = a <= b;
        break;
    case R_GE:
        r = a >= b;
        break;
    }
    return r ? -1 : 0;
}

int strtrue(int relop, const char* a, const char* b) {
    int c = strcmp(a, b);
    return istrue(relop, c < 0 ? -1 : c > 0, 0);
}

const FuncRow* isfunc(const char* name) {
    // The first row of each initial letter, found once; the scan stops at the first name
    // sorting after the one sought.
    static int first[27];
    static bool indexed = false;
    if (!indexed) {
        for (int& i : first)
            i = -1;
        for (int i = 0; funclist[i].name[0]; i++) {
            int c = funclist[i].name[0] - 'a';
            if (c >= 0 && c < 26 && first[c] < 0) first[c] = i;
        }
        indexed = true;
    }
    int c = static_cast<unsigned char>(name[0]) - 'a';
    if (c < 0 || c >= 26 || first[c] < 0) return nullptr;
    for (const FuncRow* f = funclist + first[c]; f->name[0]; f++) {
        int d = strcmp(f->name, name);
        if (d > 0) break;
        if (d == 0) return f;
    }
    return nullptr;
}

int32_t vornsetbits() {
    // The settings' own bits, plus the display's parity masking and the command-line mode flag.
    int32_t m = (vmaskpar ? 0x1 : 0) | (fflag ? 0x2000000 : 0);
    for (const Setting& s : settingstable())
        if (s.bit && settingvalue(s)) m |= s.bit;
    return m;
}

int poolused() {
    int n = 0;
    for (bool u : inuse)
        n += u;
    return n;
}
