#include "config/conffile.h"

#include "core/fmt.h"
#include "core/os.h"
#include "ports/modem.h"
#include "ports/settings.h"
#include "script/cmd.h"
#include "script/cmds.h"
#include "script/lex.h"
#include "script/settab.h"
#include "script/var.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A configuration larger than this is not a configuration: it is refused rather than read
// into memory or rewritten.
constexpr size_t CONFMAX = 1 << 20;

// A row a configuration holds: one with a command of its own that does not act on the line
// at once.
bool confrow(const Setting& s) {
    return !(s.flags & (SF_NOSAVE | SF_NOCMD));
}

// A piece of a line as the readers see it (carriage returns dropped, cut at LINEMAX bytes), or
// "" for one they skip for a NUL byte.
std::string readerview(const std::string& piece) {
    std::string v;
    for (char c : piece) {
        if (c == 0) return "";
        if (c != '\r' && v.size() < static_cast<size_t>(LINEMAX)) v += c;
    }
    return v;
}

// The readers end a line at a ^Z as at a line feed, so a rewrite judges each piece of a line
// between ^Z bytes on its own. `piece` gets a piece as the readers see it and returns false to
// keep it as it stands, or true after putting the lines that replace it (none, to drop it) into
// its second argument. Kept pieces keep their bytes and their ^Z; what is left of the line goes
// to `out`. False when no piece was replaced: the line is then for the caller to keep.
template <class F>
bool rewriteline(const std::string& line, std::vector<std::string>& out, F&& piece) {
    std::vector<std::string> lines;
    bool replaced = false;
    for (size_t a = 0;;) {
        const size_t e = std::min(line.find('\x1a', a), line.size());
        std::vector<std::string> parts;
        if (piece(readerview(line.substr(a, e - a)), parts))
            replaced = true;
        else
            parts.push_back(line.substr(a, e - a));
        for (size_t i = 0; i < parts.size(); i++) {
            if (lines.empty() || i > 0)
                lines.emplace_back();
            else
                lines.back() += '\x1a';
            lines.back() += parts[i];
        }
        if (e == line.size()) break;
        a = e + 1;
    }
    if (replaced) out.insert(out.end(), lines.begin(), lines.end());
    return replaced;
}

// The row a line sets: its first word is a setting command, or `set` with an option.
// `rest` gets the argument text.
const Setting* rowof(const std::string& line, const char** rest) {
    const char* p = line.c_str();
    auto nextword = [&p]() {
        while (*p == ' ' || *p == '\t')
            p++;
        std::string w;
        while (*p && *p != ' ' && *p != '\t' && w.size() < 32)
            w += static_cast<char>(tolower(static_cast<unsigned char>(*p++)));
        return w;
    };
    std::string w = nextword();
    bool setopt = w == "set";
    if (setopt) w = nextword();
    if (w.empty() || (*p && *p != ' ' && *p != '\t')) return nullptr;
    const Setting* s = findsetting(w.c_str(), setopt);
    if (!s || !confrow(*s)) return nullptr;
    if (rest) *rest = p;
    return s;
}

// One byte in the string escape form.
std::string escbyte(unsigned char c) {
    if (c < 32) return {'^', static_cast<char>(c + '@')};
    if (c == '"' || c == '\\' || c == '^') return {'\\', static_cast<char>(c)};
    if (c < 127) return std::string(1, static_cast<char>(c));
    static const char hex[] = "0123456789ABCDEF";
    return {'\\', 'x', hex[c >> 4], hex[c & 15]};
}

// The line for a row, cut so it fits LINEMAX; `cut` tells whether the value lost its tail.
// Empty when the value is not written (it could not be read back, or is the missing value).
std::string rowline(const Setting& s, bool* cut) {
    *cut = false;
    if (!confrow(s)) return "";
    std::string head = std::string(s.flags & SF_SET ? "set " : "") + s.name + " ";
    auto fit = [&](const std::string& v) {
        if (head.size() + v.size() <= static_cast<size_t>(LINEMAX)) return head + v;
        *cut = true;
        return head + v.substr(0, LINEMAX - head.size());
    };
    const long v = settingvalue(s);
    switch (s.type) {
    case ST_FLAG:
        return head + (v ? "on" : "off");
    case ST_COUNT:
        // A count's command takes digits only: a negative power-on value (none) is left out.
        return v < 0 ? "" : head + std::to_string(v);
    case ST_NUMBER:
        return head + std::to_string(v);
    case ST_CHAR:
        return head + (v < 0 || v > 255 ? "none" : quoted(std::string(1, static_cast<char>(v))));
    case ST_WORD:
        return head + settingtext(s);
    case ST_TEXT:
        break;
    }
    std::string t = settingtext(s);
    if (s.flags & SF_RAW) {
        // Taken as the rest of the line: a line end inside would split it, and leading or
        // trailing blanks are not kept by the reader anyway.
        for (char& c : t)
            if (static_cast<unsigned char>(c) < 32) c = ' ';
        size_t a = t.find_first_not_of(' '), b = t.find_last_not_of(' ');
        return fit(a == std::string::npos ? "" : t.substr(a, b - a + 1));
    }
    if (s.flags & SF_WORDARG) {
        // A word: an empty one is not written (it reads as a missing value).
        if (t.empty()) return "";
        return fit(t);
    }
    // Quoted, cut at a whole escape so the closing quote still fits.
    std::string q = "\"";
    for (unsigned char c : t) {
        std::string e = escbyte(c);
        if (head.size() + q.size() + e.size() + 1 > static_cast<size_t>(LINEMAX)) {
            *cut = true;
            break;
        }
        q += e;
    }
    return head + q + "\"";
}

// Reads one line: a line feed or ^Z ends it, carriage returns are dropped, at most LINEMAX
// bytes are kept. False at the end of the file.
bool confgetl(FILE* fp, std::string& line, bool* toolong, bool* binary, size_t* total) {
    line.clear();
    *toolong = *binary = false;
    int c = EOF;
    bool any = false;
    while (*total < CONFMAX && (c = getc(fp)) != EOF) {
        ++*total, any = true;
        if (c == '\n' || c == 26) break;
        if (c == '\r') continue;
        if (c == 0) *binary = true;
        if (line.size() < static_cast<size_t>(LINEMAX))
            line += static_cast<char>(c);
        else
            *toolong = true;
    }
    return any;
}

} // namespace

std::string quoted(const std::string& text) {
    std::string q = "\"";
    for (unsigned char c : text)
        q += escbyte(c);
    return q + "\"";
}

std::string confline(const Setting& s) {
    bool cut;
    return rowline(s, &cut);
}

int rdconfig(const char* path) {
    FILE* fp = fopen(path, "rb");
    if (!fp) return -1;
    struct stat st {};
    if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) { // a directory or a device
        fclose(fp);
        return -1;
    }
    int errors = 0, lineno = 0;
    size_t total = 0;
    std::string line;
    bool toolong, binary;
    while (confgetl(fp, line, &toolong, &binary, &total)) {
        ++lineno;
        if (binary) {
            aberr("%s line %d: binary bytes, line ignored\r\n", visible(path).c_str(), lineno);
            continue;
        }
        if (toolong)
            aberr("%s line %d: longer than %d characters, the rest is ignored\r\n",
                  visible(path).c_str(), lineno, LINEMAX);
        const char* rest = nullptr;
        const Setting* s = rowof(line, &rest);
        if (s && setsetting(*s, rest) != RC_OK) errors++;
    }
    if (total >= CONFMAX)
        aberr("%s: larger than %zu bytes, the rest is ignored\r\n", visible(path).c_str(), CONFMAX);
    fclose(fp);
    if (errors) aberr("Config set error\r\n");
    return errors;
}

namespace {

// The file a rewrite replaces (a symbolic link's target, so the link stays), whether it
// exists, its status, and its lines byte for byte. -1 with errno when it cannot be used.
struct OldFile {
    std::string target;
    bool exists = false;
    struct stat st {};
    std::vector<std::string> lines;
};
int loadold(const char* path, OldFile& f) {
    f.target = path;
    f.exists = lstat(path, &f.st) == 0;
    if (f.exists && S_ISLNK(f.st.st_mode)) {
        char real[PATH_MAX];
        if (!realpath(path, real)) return -1;
        f.target = real;
        f.exists = stat(real, &f.st) == 0;
    }
    if (f.exists && !S_ISREG(f.st.st_mode)) return errno = EINVAL, -1;
    if (f.exists && static_cast<size_t>(f.st.st_size) > CONFMAX) return errno = EFBIG, -1;
    if (!f.exists) return 0;
    FILE* fp = fopen(f.target.c_str(), "rb");
    if (!fp) return -1;
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, fp)) > 0 && data.size() <= CONFMAX)
        data.append(buf, n);
    const bool bad = ferror(fp);
    fclose(fp);
    if (bad) return -1;
    if (data.size() > CONFMAX) return errno = EFBIG, -1;
    for (size_t a = 0; a < data.size();) {
        size_t e = data.find('\n', a);
        if (e == std::string::npos) e = data.size();
        f.lines.push_back(data.substr(a, e - a));
        a = e + 1;
    }
    return 0;
}

// A temporary file beside the target, then a rename: a failure at any point leaves the old
// file as it was.
int replacefile(const OldFile& f, const std::vector<std::string>& out) {
    std::string data;
    for (const std::string& l : out)
        data += l + "\n";
    const std::string& target = f.target;
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return -1;
    // Login strings may hold passwords: a new file is the user's alone.
    bool ok = fchmod(fd, f.exists ? (f.st.st_mode & 07777) : 0600) == 0;
    for (size_t off = 0; ok && off < data.size();) {
        const ssize_t n = write(fd, data.data() + off, data.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            off += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    const int saverr = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), target.c_str()) != 0) {
        const int e = ok ? errno : saverr;
        unlink(tmp.c_str());
        return errno = e, -1;
    }
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        fsync(dfd); // the rename itself reaches the disk
        close(dfd);
    }
    return 0;
}

// The first word of a line, lower case, and where its argument starts.
std::string firstword(const char* p, const char** rest) {
    while (*p == ' ' || *p == '\t')
        p++;
    std::string w;
    while (*p && *p != ' ' && *p != '\t' && w.size() < 16)
        w += static_cast<char>(tolower(static_cast<unsigned char>(*p++)));
    if (*p && *p != ' ' && *p != '\t') w.clear();
    while (*p == ' ' || *p == '\t')
        p++;
    *rest = p;
    return w;
}

// Whether a piece of the line dials.
bool hascall(const std::string& line) {
    std::vector<std::string> none;
    bool call = false;
    rewriteline(line, none, [&](const std::string& view, std::vector<std::string>&) {
        const char* rest;
        call = call || firstword(view.c_str(), &rest) == "call";
        return false;
    });
    return call;
}

} // namespace

int wrconfig(const char* path) {
    OldFile f;
    if (loadold(path, f) < 0) return -1;
    // Setting lines are replaced where they stand (a repeat of one is dropped: it would undo
    // the first when the file runs); the others stay. Settings the file lacked go before its
    // first `call`, so they are in effect when it dials.
    std::span<const Setting> rows = settingstable();
    std::vector<bool> done(rows.size());
    std::vector<std::string> out;
    size_t callat = std::string::npos;
    auto emit = [&](const Setting& s, std::vector<std::string>& to) {
        done[static_cast<size_t>(&s - rows.data())] = true;
        bool cut;
        std::string nl = rowline(s, &cut);
        if (!nl.empty()) to.push_back(nl);
        if (cut) aberr("%s: value too long for a line, cut\r\n", s.name);
    };
    // Switching the emulation puts some display settings back to their power-on values, so
    // its line comes before every other setting line.
    const Setting* first = findsetting("emulate", false);
    for (const std::string& l : f.lines) {
        if (callat == std::string::npos && hascall(l)) callat = out.size();
        if (!rewriteline(l, out, [&](const std::string& view, std::vector<std::string>& to) {
                const Setting* s = rowof(view, nullptr);
                if (!s) return false;
                if (first && !done[static_cast<size_t>(first - rows.data())]) emit(*first, to);
                if (!done[static_cast<size_t>(s - rows.data())]) emit(*s, to);
                return true;
            }))
            out.push_back(l);
    }
    std::vector<std::string> user(
        out.begin() + static_cast<long>(callat == std::string::npos ? out.size() : callat),
        out.end());
    out.resize(out.size() - user.size());
    if (first && !done[static_cast<size_t>(first - rows.data())]) emit(*first, out);
    for (const Setting& s : rows)
        if (!done[static_cast<size_t>(&s - rows.data())] && confrow(s)) emit(s, out);
    out.insert(out.end(), user.begin(), user.end());
    return replacefile(f, out);
}

// ---- the working copy ----

namespace {

// The keyword of each field in a file; fields that are rows of the settings table are
// applied through them.
const char* const fieldword[C_COUNT] = {"remark",   "call",  "baud",    "parity",      "wordlen",
                                        "stopbits", "mode",  "emulate", "xprot",       "protocol",
                                        "capture",  "login", "logout",  "startserver", "stopserver",
                                        "do",       "wru"};

int fieldof(const std::string& w) {
    for (int i = 0; i < C_COUNT; i++)
        if (w == fieldword[i]) return i;
    return -1;
}

const Setting* fieldrow(int f) {
    return f == C_NUMBER || f == C_BAUD || f == C_PROTOCOL || f == C_CAPTFILE || f == C_CMDFILE
               ? nullptr
               : findsetting(fieldword[f], false);
}

bool blank(const std::string& t) {
    return t.find_first_not_of(' ') == std::string::npos;
}

// Whether a field's value is a string expression, written and read in the escape form. The
// others are words or the rest of the line, taken as they stand, quotes and all, as the
// commands themselves take them when the file runs.
bool escaped(int f) {
    const Setting* s = fieldrow(f);
    return s && s->type == ST_TEXT && !(s->flags & (SF_RAW | SF_WORDARG));
}

// The line a field is written as, "" for none. Texts the reader decodes are in the escape
// form; a value that would not fit a line is cut.
std::string fieldline(int f, const std::string& v) {
    std::string head = std::string(fieldword[f]) + " ";
    std::string val = v;
    const bool always = f <= C_PROTOCOL && f != C_NUMBER;
    if (!always && blank(v)) return "";
    if (f == C_NUMBER && v == "NONE") return ""; // nothing to call: no line that dials
    if (f == C_CAPTFILE) head += "disk ";
    if (escaped(f)) {
        std::string q = "\"";
        for (unsigned char c : v) {
            std::string e = escbyte(c);
            if (head.size() + q.size() + e.size() + 1 > static_cast<size_t>(LINEMAX)) break;
            q += e;
        }
        return head + q + "\"";
    }
    // Taken as the rest of the line: a line end inside would split it.
    for (char& c : val)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    const size_t a = val.find_first_not_of(' '), b = val.find_last_not_of(' ');
    val = a == std::string::npos ? "" : val.substr(a, b - a + 1);
    // A cut must not leave a blank at the end: the reader drops it, and the next rewrite
    // would then differ.
    std::string line = (head + val).substr(0, LINEMAX);
    line.erase(std::max(line.find_last_not_of(' ') + 1, head.size()));
    return line;
}

} // namespace

void newconfig(ConfVars& v) {
    static const char* const defs[C_COUNT] = {"",  "NONE", "1200",  "NONE",    "8",
                                              "1", "FULL", "VT100", "VORNCRC", "ASCII"};
    for (int i = 0; i < C_COUNT; i++)
        v[i] = defs[i] ? defs[i] : "";
}

void getconfig(ConfVars& v) {
    for (int i = 0; i < C_COUNT; i++)
        if (const Setting* s = fieldrow(i)) v[i] = settingtext(*s);
    v[C_NUMBER] = cnumber;
    v[C_BAUD] = std::to_string(baud);
    v[C_PROTOCOL] = amode ? "BINARY" : "ASCII";
    v[C_CAPTFILE] = captfname;
    v[C_CMDFILE] = confdo;
}

int setconfig(const ConfVars& v) {
    int errors = 0;
    cnumber = v[C_NUMBER] == "NONE" ? "" : v[C_NUMBER];
    if (!blank(v[C_BAUD]) && c_baud(v[C_BAUD].c_str()) != RC_OK) errors++;
    for (int i = 0; i < C_COUNT; i++) {
        const Setting* s = fieldrow(i);
        if (!s) continue;
        if (s->type == ST_TEXT)
            s->sp.put(v[i]);
        else if (setsetting(*s, v[i].c_str()) != RC_OK)
            errors++;
    }
    static const char* const plain[] = {"ascii", "binary", nullptr};
    const int p = toklist(v[C_PROTOCOL].c_str(), nullptr, plain);
    if (p >= 0)
        amode = p;
    else
        errors++;
    captfname = v[C_CAPTFILE];
    confdo = v[C_CMDFILE];
    if (errors) aberr("Config set error\r\n");
    return errors ? 1 : 0;
}

bool rdconfvars(const char* path, ConfVars& v) {
    FILE* fp = fopen(path, "rb");
    if (!fp) return false;
    struct stat st {};
    if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(fp);
        return false;
    }
    // Cleared only once the file is open: a name that cannot be read leaves the copy whole.
    for (std::string& s : v)
        s.clear();
    size_t total = 0;
    std::string line;
    bool toolong, binary;
    while (confgetl(fp, line, &toolong, &binary, &total)) {
        const char* rest;
        const int f = binary ? -1 : fieldof(firstword(line.c_str(), &rest));
        if (f < 0) continue;
        if (f == C_CAPTFILE) firstword(rest, &rest); // the capture kind
        std::string val = rest;
        if (escaped(f) && (*rest == '"' || *rest == '\'')) {
            // Quoted: decoded as a script string, so both readers give the same value.
            const char* p = rest + 1;
            char buf[LINEMAX + 1];
            const int n = scanstr(p, *rest, buf, sizeof buf);
            if (n >= 0) val.assign(buf, static_cast<size_t>(n));
        } else {
            val.erase(val.find_last_not_of(" \t") + 1);
        }
        v[f] = val;
    }
    fclose(fp);
    return true;
}

int wrconfvars(const char* path, const ConfVars& v) {
    OldFile f;
    if (loadold(path, f) < 0) return -1;
    bool done[C_COUNT] = {};
    std::vector<std::string> out;
    size_t callat = std::string::npos;
    for (const std::string& l : f.lines) {
        const size_t at = out.size();
        bool call = false;
        if (!rewriteline(l, out, [&](const std::string& view, std::vector<std::string>& to) {
                const char* rest;
                const int k = fieldof(firstword(view.c_str(), &rest));
                if (k < 0) return false;
                if (done[k]) return true; // a repeat would undo the first when the file runs
                done[k] = true;
                call = call || k == C_NUMBER;
                if (std::string nl = fieldline(k, v[k]); !nl.empty()) to.push_back(nl);
                return true;
            }))
            out.push_back(l);
        if (call) callat = at;
    }
    // Missing settings go before the call, so they are in effect when it dials; a missing
    // call and command file go last.
    std::vector<std::string> add;
    for (int k = 0; k < C_COUNT; k++)
        if (!done[k] && k != C_NUMBER && k != C_CMDFILE)
            if (std::string nl = fieldline(k, v[k]); !nl.empty()) add.push_back(nl);
    out.insert(out.begin() + static_cast<long>(callat == std::string::npos ? out.size() : callat),
               add.begin(), add.end());
    for (int k : {C_NUMBER, C_CMDFILE})
        if (!done[k])
            if (std::string nl = fieldline(k, v[k]); !nl.empty()) out.push_back(nl);
    return replacefile(f, out);
}

std::string findconf(const char* name) {
    const std::string file = std::string(name) + ".con";
    std::vector<std::string> dirs;
    if (file.find('/') == std::string::npos) {
        if (const char* h = gethomedir(); h && *h) dirs.push_back(h);
        const char* vd = getenv("VORNDIR");
        dirs.push_back(vd && *vd ? vd : "/usr/vorn");
    } else {
        dirs.push_back("");
    }
    for (const std::string& d : dirs) {
        const std::string p = d.empty() ? file : d + "/" + file;
        struct stat st {};
        if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if ((st.st_uid != getuid() && st.st_uid != 0) || (st.st_mode & 022)) {
            aberr("%s is not yours or others may change it: not run\r\n",
                  visible(p.c_str()).c_str());
            return "";
        }
        return p;
    }
    std::string looked;
    for (const std::string& d : dirs)
        if (!d.empty()) looked += (looked.empty() ? " (looked in " : ", ") + visible(d.c_str());
    aberr("Can't find command file %s%s\r\n", visible(file.c_str()).c_str(),
          looked.empty() ? "" : (looked + ")").c_str());
    return "";
}

int confcmd(const char* args) {
    static const char* const words[] = {"read", "write", "get", "set", "new", nullptr};
    const char* rest = nullptr;
    const int which = toklist(args ? args : "", &rest, words);
    if (which < 0) return tokexpect(words), RC_EXPECTED;
    if (which >= 2) {
        if (which == 2) getconfig(cfg);
        if (which == 4) newconfig(cfg);
        return which == 3 && setconfig(cfg) ? RC_ERROR : RC_OK;
    }
    std::string name = word(rest ? rest : "", nullptr);
    if (name.empty()) return expaberr("Filename"), RC_EXPECTED;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".con")) name += ".con";
    if (which == 0) {
        const int r = rdconfig(name.c_str());
        if (r < 0) return aberr("File I/O Error\r\n"), RC_ERROR;
        return r ? RC_ERROR : RC_OK;
    }
    if (wrconfig(name.c_str()) < 0) return aberr("File I/O Error\r\n"), RC_ERROR;
    return RC_OK;
}
