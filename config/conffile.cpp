#include "config/conffile.h"

#include "core/fmt.h"
#include "core/os.h"
#include "script/cmd.h"
#include "script/settab.h"

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

int wrconfig(const char* path) {
    // Write through a symbolic link to the file it names, so the link stays.
    std::string target = path;
    struct stat st {};
    bool exists = lstat(path, &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (!realpath(path, real)) return -1;
        target = real;
        exists = stat(real, &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode)) return errno = EINVAL, -1;
    if (exists && static_cast<size_t>(st.st_size) > CONFMAX) return errno = EFBIG, -1;

    // The old lines, byte for byte.
    std::vector<std::string> old;
    if (exists) {
        FILE* fp = fopen(target.c_str(), "rb");
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
            old.push_back(data.substr(a, e - a));
            a = e + 1;
        }
    }

    // Setting lines are replaced where they stand (a repeat of one is dropped: it would undo
    // the first when the file runs); the others stay. Settings the file lacked go before its
    // first `call`, so they are in effect when it dials.
    std::span<const Setting> rows = settingstable();
    std::vector<bool> done(rows.size());
    std::vector<std::string> out;
    size_t callat = std::string::npos;
    auto emit = [&](const Setting& s) {
        done[static_cast<size_t>(&s - rows.data())] = true;
        bool cut;
        std::string nl = rowline(s, &cut);
        if (!nl.empty()) out.push_back(nl);
        if (cut) aberr("%s: value too long for a line, cut\r\n", s.name);
    };
    // Switching the emulation puts some display settings back to their power-on values, so
    // its line comes before every other setting line.
    const Setting* first = findsetting("emulate", false);
    for (const std::string& l : old) {
        if (const Setting* s = rowof(l, nullptr)) {
            if (first && !done[static_cast<size_t>(first - rows.data())]) emit(*first);
            if (!done[static_cast<size_t>(s - rows.data())]) emit(*s);
            continue;
        }
        const char* w = l.c_str();
        while (*w == ' ' || *w == '\t')
            w++;
        if (callat == std::string::npos && !strncasecmp(w, "call", 4) &&
            (!w[4] || w[4] == ' ' || w[4] == '\t'))
            callat = out.size();
        out.push_back(l);
    }
    std::vector<std::string> user(
        out.begin() + static_cast<long>(callat == std::string::npos ? out.size() : callat),
        out.end());
    out.resize(out.size() - user.size());
    if (first && !done[static_cast<size_t>(first - rows.data())]) emit(*first);
    for (const Setting& s : rows)
        if (!done[static_cast<size_t>(&s - rows.data())] && confrow(s)) emit(s);
    out.insert(out.end(), user.begin(), user.end());
    std::string data;
    for (const std::string& l : out)
        data += l + "\n";

    // A temporary file beside the target, then a rename: a failure at any point leaves the old
    // file as it was.
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) return -1;
    // Login strings may hold passwords: a new file is the user's alone.
    bool ok = fchmod(fd, exists ? (st.st_mode & 07777) : 0600) == 0;
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
    static const char* const words[] = {"read", "write", nullptr};
    const char* rest = nullptr;
    const int which = toklist(args ? args : "", &rest, words);
    if (which < 0) return tokexpect(words), RC_EXPECTED;
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
