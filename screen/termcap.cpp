#include "screen/termcap.h"

#include "screen/display.h"
#include "screen/hooks.h"

#include <termcap.h>
// From ncurses' terminfo interface; its header defines macros that clash with ordinary names.
extern "C" char* tiparm(const char*, ...);
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

constexpr int MAXHOP = 32; // tc= levels followed before the entry is called a loop

// True when one of the "|"-separated names before the first ':' equals `name`.
bool namematch(const std::string& entry, const char* name) {
    size_t end = entry.find(':');
    if (end == std::string::npos) end = entry.size();
    size_t n = std::strlen(name);
    size_t p = 0;
    while (p < end) {
        size_t bar = entry.find('|', p);
        if (bar == std::string::npos || bar > end) bar = end;
        if (bar - p == n && entry.compare(p, n, name) == 0) return true;
        p = bar + 1;
    }
    return false;
}

// Cuts an entry to TBUFSIZ bytes at a field boundary, so that what remains stays well formed.
void cutentry(std::string& entry) {
    if (entry.size() <= static_cast<size_t>(TBUFSIZ)) return;
    disphooks.message("Termcap entry too long\r\n");
    size_t colon = entry.rfind(':', TBUFSIZ - 1);
    entry.resize(colon == std::string::npos ? TBUFSIZ : colon + 1);
}

// The termcap file to read, "" when there is none.
std::string termcapfile() {
    const char* tc = getenv("TERMCAP");
    if (tc && *tc == '/') return access(tc, R_OK) == 0 ? tc : "";
    std::string path;
    return disphooks.findfile("termcap.qal", path) ? path : "";
}

// One line of the file; a line longer than any entry could use is cut (the rest is skipped).
bool readline(std::istream& in, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = in.get()) != EOF) {
        any = true;
        if (c == '\n') return true;
        if (line.size() < 4u * TBUFSIZ) line += static_cast<char>(c);
    }
    return any;
}

// Scans the file for the entry named `name`. Lines ending in a backslash continue on the next
// line; entries beginning with '#' are comments. 1 found, 0 not found, -1 no file.
int fileentry(std::string& entry, const char* name) {
    std::string file = termcapfile();
    if (file.empty()) return -1;
    std::ifstream in(file, std::ios::binary);
    if (!in) return -1;
    std::string line, cur;
    bool more = true;
    while (more) {
        more = readline(in, line);
        if (more && !line.empty() && line.back() == '\r') line.pop_back();
        if (more && !line.empty() && line.back() == '\\') {
            line.pop_back();
            // A continuation line's leading blanks only indent it.
            if (cur.size() <= 4u * TBUFSIZ) cur += line;
            continue;
        }
        if (more && cur.size() <= 4u * TBUFSIZ) cur += line;
        if (!more && cur.empty()) break;
        std::string e;
        e.swap(cur);
        size_t b = e.find_first_not_of(" \t");
        if (b == std::string::npos || e[b] == '#') continue;
        e.erase(0, b);
        if (!namematch(e, name)) continue;
        // Joined continuation lines keep their indentation: drop blanks after each ':'.
        std::string tidy;
        for (size_t i = 0; i < e.size(); i++) {
            tidy += e[i];
            if (e[i] == ':' && (i == 0 || e[i - 1] != '\\'))
                while (i + 1 < e.size() && (e[i + 1] == ' ' || e[i + 1] == '\t'))
                    i++;
        }
        cutentry(tidy);
        entry = tidy;
        return 1;
    }
    return 0;
}

int getentry(std::string& entry, const char* name, int depth) {
    const char* tc = getenv("TERMCAP");
    const char* term = getenv("TERM");
    if (depth == 0 && tc && *tc && *tc != '/' && term && std::strcmp(term, name) == 0) {
        entry = tc;
        cutentry(entry);
        return tnchktc(entry, depth);
    }
    int r = fileentry(entry, name);
    if (r != 1) return r;
    return tnchktc(entry, depth) ? 1 : 0;
}

// Decodes a string value up to the next unescaped ':'.
std::string decode(const std::string& e, size_t p) {
    std::string out;
    while (p < e.size() && e[p] != ':') {
        char c = e[p++];
        if (c == '^' && p < e.size()) {
            char x = e[p++];
            out += x == '?' ? '\177' : static_cast<char>(x & 037);
        } else if (c == '\\' && p < e.size()) {
            char x = e[p++];
            switch (x) {
            case 'E':
            case 'e':
                out += '\033';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            default:
                if (x >= '0' && x <= '7') {
                    int v = x - '0';
                    for (int i = 0; i < 2 && p < e.size() && e[p] >= '0' && e[p] <= '7'; i++)
                        v = v * 8 + (e[p++] - '0');
                    // A zero byte would end the string: termcap sends 0200 instead.
                    out += static_cast<char>(v & 0xff ? v & 0xff : 0200);
                } else {
                    out += x; // \^ \\ \: and anything else stand for themselves
                }
            }
        } else {
            out += c;
        }
    }
    return out;
}

// Finds the field for `id`: the position after the two-letter name, or npos. A field "id@"
// before any value cancels the capability.
size_t findcap(const std::string& e, const char* id, char kind) {
    size_t p = 0;
    size_t n = std::strlen(id);
    while (p < e.size()) {
        // Skip to the next unescaped ':'.
        while (p < e.size() && e[p] != ':') {
            if (e[p] == '\\') p++;
            p++;
        }
        if (p >= e.size()) break;
        p++;
        if (e.compare(p, n, id) != 0) continue;
        size_t v = p + n;
        char k = v < e.size() ? e[v] : ':';
        if (k == '@') return std::string::npos;
        if (kind == ':' ? k == ':' : k == kind) return v + (kind == ':' ? 0 : 1);
    }
    return std::string::npos;
}

int tgetdigit(char c, int base) {
    if (c < '0' || c > '9') return -1;
    int d = c - '0';
    return d < base ? d : -1;
}

// One byte of cursor motion, moved off the bytes a line discipline or the console would eat.
void motionbyte(std::string& out, std::string& added, int v, bool isrow, const std::string& up,
                const std::string& bc) {
    v &= 0xff;
    while (v == 0 || v == 3 || v == '\t' || v == '\n') {
        if (isrow && up.empty()) break;
        added += isrow ? up : (bc.empty() ? std::string("\b") : bc);
        v++;
    }
    out += static_cast<char>(v);
}

} // namespace

int tnchktc(std::string& entry, int depth) {
    if (entry.size() < 2 || entry.back() != ':') {
        disphooks.message("Bad termcap entry\r\n");
        return 0;
    }
    size_t p = entry.size() - 2;
    while (p > 0 && !(entry[p] == ':' && entry[p - 1] != '\\'))
        p--;
    if (entry.compare(p, 4, ":tc=") != 0) return 1;
    if (depth + 1 > MAXHOP) {
        disphooks.message("Infinite tc= loop\r\n");
        return 0;
    }
    std::string name = entry.substr(p + 4, entry.size() - p - 5);
    std::string next;
    if (getentry(next, name.c_str(), depth + 1) != 1) return 0;
    size_t fields = next.find(':');
    entry.resize(p);
    entry += fields == std::string::npos ? std::string(":") : next.substr(fields);
    cutentry(entry);
    return 1;
}

int ctgetent(std::string& entry, const char* name) {
    if (!name) return 0;
    return getentry(entry, name, 0);
}

int zztgetent(const char* name) {
    if (!name || !*name) return 0;
    std::string e;
    int r = 0;
    if (!tcdecided || ourtermcap) r = ctgetent(e, name);
    if (r == 1) {
        tbuf = e;
        ourtermcap = 1;
        tcdecided = 1;
        return 1;
    }
    if (tcdecided && ourtermcap) return 0;
    if (tgetent(nullptr, name) == 1) {
        ourtermcap = 0;
        tcdecided = 1;
        return 1;
    }
    return 0;
}

bool ctgetstr(const std::string& entry, const char* id, std::string& out) {
    size_t v = findcap(entry, id, '=');
    if (v == std::string::npos) return false;
    out = decode(entry, v);
    return true;
}

int ctgetnum(const std::string& entry, const char* id) {
    size_t v = findcap(entry, id, '#');
    if (v == std::string::npos) return -1;
    int base = v < entry.size() && entry[v] == '0' ? 8 : 10;
    long n = 0;
    bool any = false;
    for (int d; v < entry.size() && (d = tgetdigit(entry[v], base)) >= 0; v++) {
        any = true;
        n = std::min(n * base + d, 1000000L); // huge numbers stop growing
    }
    return any ? static_cast<int>(n) : -1;
}

int ctgetflag(const std::string& entry, const char* id) {
    return findcap(entry, id, ':') != std::string::npos ? 1 : 0;
}

bool zztgetstr(const char* id, std::string& out) {
    if (ourtermcap) return ctgetstr(tbuf, id, out);
    if (!tcdecided) return false;
    char* s = tgetstr(id, nullptr);
    if (!s || s == reinterpret_cast<char*>(-1)) return false;
    out = s;
    return true;
}

int zztgetnum(const char* id) {
    if (ourtermcap) return ctgetnum(tbuf, id);
    return tcdecided ? tgetnum(id) : -1;
}

int zztgetflag(const char* id) {
    if (ourtermcap) return ctgetflag(tbuf, id);
    return tcdecided ? (tgetflag(id) > 0 ? 1 : 0) : 0;
}

std::string ctgoto(const std::string& cm, int col, int row, const std::string& up,
                   const std::string& bc) {
    static const std::string oops = "OOPS";
    int val[2] = {row, col};
    bool isrow[2] = {true, false};
    int idx = 0;
    std::string out, added;
    for (size_t i = 0; i < cm.size(); i++) {
        char c = cm[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= cm.size()) return oops;
        c = cm[i];
        if (c == '%') {
            out += '%';
            continue;
        }
        if (c == 'i') {
            val[0]++, val[1]++;
            continue;
        }
        if (c == 'n') {
            val[0] ^= 0x60, val[1] ^= 0x60;
            continue;
        }
        if (c == 'r') {
            std::swap(val[0], val[1]);
            std::swap(isrow[0], isrow[1]);
            continue;
        }
        if (idx > 1) return oops; // cursor motion has two values only
        int v = val[idx];
        bool r = isrow[idx++];
        switch (c) {
        case 'd':
            out += std::to_string(v < 0 ? 0 : v);
            break;
        case '2':
        case '3': {
            int w = c - '0';
            int u = v < 0 ? 0 : v;
            char digits[4];
            for (int k = w - 1; k >= 0; k--, u /= 10)
                digits[k] = static_cast<char>('0' + u % 10);
            out.append(digits, w);
            break;
        }
        case '.':
            motionbyte(out, added, v, r, up, bc);
            break;
        case '+':
            if (++i >= cm.size()) return oops;
            motionbyte(out, added, v + static_cast<unsigned char>(cm[i]), r, up, bc);
            break;
        case '<':
            if (i + 2 >= cm.size()) return oops;
            if (v < static_cast<unsigned char>(cm[i + 1]))
                v += static_cast<unsigned char>(cm[i + 2]);
            i += 2;
            motionbyte(out, added, v, r, up, bc);
            break;
        default:
            return oops;
        }
    }
    return out + added;
}

std::string zztgoto(const std::string& cm, int col, int row) {
    if (ourtermcap || !tcdecided) return ctgoto(cm, col, row, cap::UP, cap::BC);
    char* s = tgoto(cm.c_str(), col, row);
    return s ? s : "OOPS";
}

std::string TGOTO(const std::string& str, int p1, int p2) {
    if (ourtermcap || !tcdecided) return ctgoto(str, p1, p2);
    char* s = tgoto(str.c_str(), p1, p2);
    return s ? s : "OOPS";
}

std::string ztparm(const std::string& str, int p) {
    char* s = tiparm(str.c_str(), p);
    return s ? s : "";
}

void ztputs(const std::string& str, int (*out)(int)) {
    if (str.empty()) return;
    if (ourtermcap || !tcdecided) {
        for (unsigned char c : str)
            out(c);
        return;
    }
    tputs(str.c_str(), 1, out);
}

void termcapreset() {
    tbuf.clear();
    ourtermcap = 0;
    tcdecided = 0;
}
