#include "script/lex.h"

#include "core/fmt.h"

#include <cstring>

namespace {

struct ResWord {
    const char* name;
    int cls;
    int value;
};

// Kept in ascending order: the lookup stops at the first name sorting after the word.
// clang-format off
const ResWord resword[] = {
    {"and", T_AND, 0},   {"eq", T_REL, R_EQ}, {"f", T_LOG, 0},     {"false", T_LOG, 0},
    {"ge", T_REL, R_GE}, {"gt", T_REL, R_GT}, {"le", T_REL, R_LE}, {"lt", T_REL, R_LT},
    {"mod", T_MUL, '%'}, {"ne", T_REL, R_NE}, {"not", T_NOT, 0},   {"or", T_OR, 0},
    {"shl", T_SHIFT, 1}, {"shr", T_SHIFT, 0}, {"t", T_LOG, -1},    {"true", T_LOG, -1},
    {"xor", T_OR, 1},    {"", 0, 0},
};
// clang-format on

int hexval(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void pushback(int c) {
    if (c >= 0) gnextc = c;
}

// number: digits, optionally switching to hexadecimal at an x; 32-bit, wrapping.
void number(int c) {
    uint32_t v = static_cast<uint32_t>(c - '0');
    bool hex = false;
    for (;;) {
        c = lnextc();
        if (!hex && c >= '0' && c <= '9') {
            v = v * 10 + static_cast<uint32_t>(c - '0');
        } else if (!hex && (c == 'x' || c == 'X')) {
            hex = true;
        } else if (hex && hexval(c) >= 0) {
            v = v * 16 + static_cast<uint32_t>(hexval(c));
        } else if (!hex && hexval(c) >= 0) {
            numaberr("Bad number", "");
            return;
        } else {
            pushback(c);
            break;
        }
    }
    op = T_NUM;
    ival = static_cast<int32_t>(v);
}

// word: a name of up to NAMELEN characters, lower case, then the reserved-word lookup.
void word(int c) {
    int n = 0;
    while (c >= 0 && isvarchar(c)) {
        if (n == NAMELEN) {
            numaberr("Variable name too long", "");
            return;
        }
        sval[n++] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        c = lnextc();
    }
    sval[n] = 0;
    pushback(c);
    // Reserved words are at most five letters; most identifiers are not looked up at all.
    if (n > 5 || !strchr("aefglmnostx", sval[0])) {
        op = T_IDENT;
        ival = 0;
        return;
    }
    // The first row of each initial letter, found once.
    static int first[26];
    static bool indexed = false;
    if (!indexed) {
        for (int& i : first)
            i = -1;
        for (int i = 0; resword[i].name[0]; i++)
            if (first[resword[i].name[0] - 'a'] < 0) first[resword[i].name[0] - 'a'] = i;
        indexed = true;
    }
    if (first[sval[0] - 'a'] < 0) {
        op = T_IDENT;
        ival = 0;
        return;
    }
    for (const ResWord* r = resword + first[sval[0] - 'a']; r->name[0]; r++) {
        int cmp = strcmp(r->name, sval);
        if (cmp > 0) break;
        if (cmp == 0) {
            op = r->cls;
            ival = r->value;
            return;
        }
    }
    op = T_IDENT;
    ival = 0;
}

// One escape after a backslash or caret; p is on the character after it. Returns the byte, or
// -1 for a bad escape (a caret with nothing after it, an unknown letter, \x without a digit).
int escape(const char*& p, int lead, int quote) {
    auto at = [&](int i) { return static_cast<unsigned char>(p[i]); };
    if (lead == '^') {
        if (!at(0) || at(0) == quote) return -1;
        return *p++ & 31;
    }
    int c = at(0);
    if (c >= '0' && c <= '7') {
        int v = 0;
        for (int i = 0; i < 3 && at(0) >= '0' && at(0) <= '7'; i++)
            v = v * 8 + (*p++ - '0');
        return v & 255;
    }
    if (c == 'x' || c == 'X') {
        p++;
        if (hexval(at(0)) < 0) return -1;
        int v = hexval(*p++);
        if (hexval(at(0)) >= 0) v = v * 16 + hexval(*p++);
        return v;
    }
    int lc = c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
    static const char names[] = "befnrtv";
    static const char codes[] = {8, 27, 12, 10, 13, 9, 11};
    if (lc && strchr(names, lc)) {
        p++;
        return codes[strchr(names, lc) - names];
    }
    if (c == '"' || c == '\'' || c == '-' || c == '\\' || c == '^') {
        p++;
        return c;
    }
    if (c && c != quote) p++; // the caret goes just past the bad letter
    return -1;
}

int decode(const char*& p, int quote, char* out, int cap) {
    int n = 0;
    for (;;) {
        int c = static_cast<unsigned char>(*p);
        if (!c) return quote ? -1 : n;
        p++;
        if (quote && c == quote) break;
        if (c == '^' || c == '\\') {
            c = escape(p, c, quote);
            if (c < 0) return -1;
        }
        if (n < cap - 1) out[n++] = static_cast<char>(c);
    }
    if (cap > 0) out[n < cap ? n : cap - 1] = 0;
    return n;
}

} // namespace

int scanstr(const char*& p, int quote, char* out, int cap) {
    int n = decode(p, quote, out, cap);
    if (n >= 0 && n < cap) out[n] = 0;
    return n;
}

int cvtstr(const char* text, char* out, int cap) {
    const char* p = text;
    int n = decode(p, 0, out, cap);
    if (n >= 0 && n < cap) out[n] = 0;
    return n;
}

bool isvarchar(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int lnextc() {
    if (gnextc) {
        int c = gnextc;
        gnextc = 0;
        return c;
    }
    if (!*linep) return -1;
    return static_cast<unsigned char>(*linep++);
}

void lexstart(const char* text) {
    linep = text ? text : "";
    gnextc = 0;
    etoken();
}

void etoken() {
    int c;
    do
        c = lnextc();
    while (c == ' ' || c == '\t');
    sval[0] = 0;
    ival = 0;
    if (c < 0) {
        op = T_END;
        return;
    }
    if (c >= '0' && c <= '9') return number(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') return word(c);
    switch (c) {
    case '"':
    case '\'': {
        // The quote was just read through lnextc, so the push-back is empty and the rest of
        // the literal is read straight from linep.
        if (scanstr(linep, c, sval, sizeof sval) < 0) {
            numaberr("Badly formed string", "");
            return;
        }
        op = T_STR;
        return;
    }
    case '+':
    case '-':
        op = T_ADD;
        ival = c;
        return;
    case '*':
    case '/':
    case '%':
        op = T_MUL;
        ival = c;
        return;
    case '&':
        op = T_AND;
        return;
    case '|':
        op = T_OR;
        return;
    case '^':
        op = T_OR;
        ival = 1;
        return;
    case '=':
        op = T_REL;
        ival = R_EQ;
        return;
    case '!':
        c = lnextc();
        if (c == '=') {
            op = T_REL;
            ival = R_NE;
        } else {
            pushback(c);
            op = T_NOT;
        }
        return;
    case '<':
        c = lnextc();
        if (c == '=') {
            op = T_REL, ival = R_LE;
        } else if (c == '>') {
            op = T_REL, ival = R_NE;
        } else if (c == '<') {
            op = T_SHIFT, ival = 1;
        } else {
            pushback(c);
            op = T_REL, ival = R_LT;
        }
        return;
    case '>':
        c = lnextc();
        if (c == '=') {
            op = T_REL, ival = R_GE;
        } else if (c == '>') {
            op = T_SHIFT, ival = 0;
        } else {
            pushback(c);
            op = T_REL, ival = R_GT;
        }
        return;
    case '(':
    case ')':
    case ',':
    case ';':
    case '[':
    case ']':
        op = c;
        return;
    default:
        numaberr("Invalid expression", "");
    }
}

void exprunwind() {
    op = T_END;
    gnextc = 0;
    if (inexpr) throw ExprError{};
}

int errcolumn() {
    if (!glinep || !linep) return 0;
    auto start = reinterpret_cast<uintptr_t>(glinep);
    auto at = reinterpret_cast<uintptr_t>(linep);
    if (at < start || at > start + strlen(glinep)) return 0;
    return static_cast<int>(at - start);
}
