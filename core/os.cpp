#include "core/os.h"

#include "core/fmt.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "ports/trans.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/vscreen.h"
#include "script/cmd.h"
#include "transfer/xfer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

std::vector<const char*> wsortbuf;

namespace {

int macsubcnt = 0; // the "#" counter shared by every caller of macsub

void pipecatch(int) {
    pipesig = 1;
}

void delaycatch(int) {
    ev_delay = 1;
}

// SIGCHLD at its default handling while a child of system() or fork runs, so the wait inside
// sees the child's status even when the pseudo-terminal driver has its own handler installed.
struct ChildDefault {
    struct sigaction old {};
    ChildDefault() {
        struct sigaction sa {};
        sa.sa_handler = SIG_DFL;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGCHLD, &sa, &old);
    }
    ~ChildDefault() { sigaction(SIGCHLD, &old, nullptr); }
    ChildDefault(const ChildDefault&) = delete;
    ChildDefault& operator=(const ChildDefault&) = delete;
};

// Runs `prog` with one argument and no shell, so a name with blanks or shell characters is
// only ever a name. A wait status like system's; -1 when the child cannot be started.
int runprog(const char* prog, const char* arg) {
    ChildDefault guard;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const char* base = strrchr(prog, '/');
        base = base ? base + 1 : prog;
        execl(prog, base, "--", arg, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return status;
}

// The matcher after the dot rule: pattern and name walked together.
int match(const char* p, const char* n) {
    for (;; p++, n++) {
        switch (*p) {
        case 0:
            return *n == 0;
        case '?':
            if (!*n) return 0;
            break;
        case '*':
            if (!p[1]) return 1;
            if (!*n) return 0;
            for (; *n; n++)
                if (match(p + 1, n)) return 1;
            return 0;
        case '{': {
            const char* q = p + 1;
            bool hit = false;
            for (; *q && *q != '}'; q++) {
                if (q[1] == '-' && q[2] && q[2] != '}') {
                    unsigned char lo = static_cast<unsigned char>(q[0]);
                    unsigned char hi = static_cast<unsigned char>(q[2]);
                    unsigned char c = static_cast<unsigned char>(*n);
                    if (*n && c >= lo && c <= hi) hit = true;
                    q += 2;
                } else if (*n && *q == *n) {
                    hit = true;
                }
            }
            if (!*q || !hit) return 0; // a set without "}" never matches
            p = q;
            break;
        }
        default:
            if (*p != *n) return 0;
            break;
        }
    }
}

// Where a pattern's directory part ends (the last "/"), or nullptr.
const char* lastslash(const char* s) {
    return strrchr(s, '/');
}

} // namespace

// ---- process and console -----------------------------------------------------------------

void osinit() {
    struct sigaction sa {};
    sa.sa_handler = donecatch;
    sigemptyset(&sa.sa_mask);
    struct sigaction old {};
    // SIGINT and SIGQUIT from outside (the console is raw, so no key sends them) end the
    // program as SIGTERM does. A signal ignored by whoever started the program stays ignored.
    for (int sig : {SIGHUP, SIGINT, SIGQUIT}) {
        sigaction(sig, nullptr, &old);
        if (old.sa_handler != SIG_IGN) sigaction(sig, &sa, nullptr);
    }
    sigaction(SIGTERM, &sa, nullptr);
    struct sigaction pipe {};
    pipe.sa_handler = pipecatch;
    sigemptyset(&pipe.sa_mask);
    sigaction(SIGPIPE, &pipe, nullptr);
    for (int fd = 3; fd < 20; fd++)
        close(fd);
    if (tinit(getenv("TERM")) < 0) {
        oflush();
        exit(1);
    }
    tzset();
    // A UTF-8 locale gets UTF-8 on the console and, by default, on the line.
    consutf8 = localeutf8() ? 1 : 0;
    const char* ct = getenv("COLORTERM");
    construecolor = ct && (std::strcmp(ct, "truecolor") == 0 || std::strcmp(ct, "24bit") == 0);
    if (consutf8) {
        setlinecs(1);
        setmaskpar(0);
    }
    _vinit();
    setupkeys();
}

void setupkeys() {
    trinit(itrans, iqueue);
    addkeystrings();
}

void vinit() {
    if (xflag || qflag) return;
    if (!echoflag) outcap(cap::TI);
    outcap(cap::EA);
    outcap(cap::KS);
    oflush();
}

void vexit() {
    if (xflag || qflag) return;
    outcap(cap::KE);
    outcap(cap::OrigPair);
    if (!echoflag) outcap(cap::TE);
    setcursor(-1);
    oflush();
}

void bell() {
    _ttyout(7);
    oflush();
}

int hascolor() {
    bool canset = !cap::Setf.empty() || !cap::Setb.empty() || !cap::Setc.empty();
    return Ncolors >= 1 && BCE && canset ? 1 : 0;
}

void shell(int redraw) {
    // Straight to the console: the screen model keeps what the session showed, so the redraw
    // afterwards brings the screen back exactly as it was.
    _cpos(Lines - 1, 0);
    AttrSave save;
    attroff(save);
    _outs("\r\nUNIX Gateway.  Type exit to return to VORN.\r\n");
    const char* sh = getenv("SHELL");
    osescape(sh && *sh ? sh : "sh", 0);
    attron(save);
    if (!echoflag) {
        if (redraw) {
            vredraw();
            _cpos(vdestline, vdestcol);
            oflush();
        }
    } else {
        zzprintf("Returning to terminal mode\r\n");
    }
}

int osescape(const char* command, int want) {
    oflush();
    if (!command || !*command) return 0;
    AttrSave save;
    attroff(save);
    oflush();
    consnorm();
    int rc;
    {
        ChildDefault guard;
        rc = system(command);
    }
    consraw();
    attron(save);
    if (vemode == 1) consxon(1); // a procedure owns the screen and wants flow control
    if (Lines > vlines && !echoflag) {
        _ttyout('\n');
        cpos(vlines - 1, 0);
    }
    oflush();
    return want ? (rc >> 8) : 0;
}

int dosystem(const char* command) {
    ChildDefault guard;
    return system(command);
}

int domkdir(const char* name) {
    return runprog("/bin/mkdir", name);
}

int dormdir(const char* name) {
    return runprog("/bin/rmdir", name);
}

// ---- files -------------------------------------------------------------------------------

int isdir(const char* name) {
    struct stat st {};
    return name && stat(name, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

int filexists(const char* name) {
    struct stat st {};
    return name && stat(name, &st) == 0 && !S_ISDIR(st.st_mode) ? 1 : 0;
}

long filsiz(const char* name) {
    struct stat st {};
    return name && stat(name, &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

long fildate(const char* name) {
    struct stat st {};
    if (!name || stat(name, &st) != 0) return -1;
    // The program's time value counts seconds in local time.
    struct tm tm {};
    time_t t = st.st_mtime;
    localtime_r(&t, &tm);
    return static_cast<long>(t + tm.tm_gmtoff);
}

int filmode(const char* name) {
    struct stat st {};
    return name && stat(name, &st) == 0 ? static_cast<int>(st.st_mode & 07777) : 0666;
}

int okfname(const char* name) {
    const char* base = lastslash(name);
    base = base ? base + 1 : name;
    return strchr(base, '.') ? 0 : 1;
}

void fscan(const char* name, uint8_t entry[12]) {
    memset(entry, ' ', 12);
    entry[0] = 0;
    const char* dot = strrchr(name, '.');
    size_t baselen = dot ? static_cast<size_t>(dot - name) : strlen(name);
    for (size_t i = 0; i < baselen && i < 8; i++)
        entry[1 + i] = static_cast<uint8_t>(toupper(static_cast<unsigned char>(name[i])));
    if (dot)
        for (size_t i = 0; dot[1 + i] && i < 3; i++)
            entry[9 + i] = static_cast<uint8_t>(toupper(static_cast<unsigned char>(dot[1 + i])));
}

int dorename(const char* from, const char* to) {
    if (link(from, to) < 0) return -1;
    return unlink(from) < 0 ? -1 : 0;
}

int dochdir(const char* path) {
    return chdir(path);
}

const char* gethomedir() {
    if (const char* h = getenv("HOME")) return h;
    struct passwd* pw = nullptr;
    if (const char* login = getlogin()) pw = getpwnam(login);
    if (!pw) pw = getpwuid(getuid());
    return pw ? pw->pw_dir : nullptr;
}

const char* tempfile() {
    static char name[32];
    strcpy(name, "/tmp/vornXXXXXX");
    int fd = mkstemp(name);
    if (fd < 0) return nullptr;
    close(fd);
    return name;
}

std::string funiq(const std::string& name) {
    std::string cand;
    int replaced = macsub(name.c_str(), cand, 1, 1);
    // A bound on the search, so a directory full of numbered files cannot loop for ever.
    for (int tries = 0; replaced && tries < 100000; tries++) {
        if (access(cand.c_str(), F_OK) != 0 || isdir(cand.c_str())) break;
        macsub(name.c_str(), cand, 1, 0);
    }
    int fd = creat(cand.c_str(), 0666);
    if (fd < 0) return "";
    close(fd);
    return cand;
}

// ---- wildcard expansion ------------------------------------------------------------------

int smatch(const char* pattern, const char* name) {
    if (!pattern || !name) return 0;
    if (name[0] == '.') {
        if (pattern[0] != '.') return 0;
        if (!name[1] || (name[1] == '.' && !name[2])) return 0;
    }
    return match(pattern, name);
}

int expand(const char* pattern, std::string& directory, std::vector<char>& buffer, int exclude) {
    if (exclude < 0) exclude = (flags & 4) ? 1 : 0;
    wsortbuf.clear();
    const char* slash = lastslash(pattern);
    const char* namepat = pattern;
    std::string opendir_name = ".";
    directory.clear();
    if (slash) {
        namepat = slash + 1;
        directory.assign(pattern, static_cast<size_t>(slash - pattern));
        if (directory.empty()) directory = "/";
        opendir_name = directory;
    }
    DIR* d = opendir(opendir_name.c_str());
    if (!d) return 0;
    size_t used = 0, cap = buffer.size();
    std::vector<size_t> offsets;
    while (struct dirent* e = readdir(d)) {
        if (e->d_ino == 0) continue;
        const char* n = e->d_name;
        bool hit = smatch(namepat, n);
        if (exclude) hit = !hit && n[0] != '.';
        if (!hit) continue;
        size_t len = std::min<size_t>(strlen(n), 255);
        // Fewer than 14 bytes left ends the expansion; a longer name must also fit whole.
        size_t left = cap - used;
        if (left < 14 || left < len + 1) {
            aberr("\a*** Wildcard expansion buffer overflow\r\n");
            break;
        }
        memcpy(buffer.data() + used, n, len);
        buffer[used + len] = 0;
        offsets.push_back(used);
        used += len + 1;
    }
    closedir(d);
    try {
        wsortbuf.reserve(offsets.size());
    } catch (const std::bad_alloc&) {
        nomemory(4);
        return 0;
    }
    for (size_t off : offsets)
        wsortbuf.push_back(buffer.data() + off);
    exsort(wsortbuf.data(), static_cast<int>(wsortbuf.size()));
    return static_cast<int>(wsortbuf.size());
}

void exsort(const char** names, int count) {
    for (int gap = count / 2; gap > 0; gap /= 2)
        for (int i = gap; i < count; i++)
            for (int j = i - gap; j >= 0 && strcmp(names[j], names[j + gap]) > 0; j -= gap)
                std::swap(names[j], names[j + gap]);
}

char* getl(char* buf, FILE* stream) {
    int n = 0;
    int c = 0;
    while (n < 255) {
        c = getc(stream);
        if (c == EOF || c == 26 || c == '\n') break;
        if (c == '\r') continue;
        buf[n++] = static_cast<char>(c);
    }
    buf[n] = 0;
    if (n == 0 && (c == EOF || c == 26)) return nullptr;
    return buf;
}

// ---- timers and events -------------------------------------------------------------------

int setdelay(int seconds) {
    ev_delay = 0;
    struct sigaction sa {};
    sa.sa_handler = delaycatch;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    return static_cast<int>(alarm(seconds < 0 ? 0 : static_cast<unsigned>(seconds)));
}

int statchk(int mask) {
    if (ev_delay && (mask & 1)) return 1;
    if (ev_key && (mask & 8)) return 8;
    return 0;
}

// ---- byte order --------------------------------------------------------------------------

int get16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}

void put16(uint8_t* p, int v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

long get32(const uint8_t* p) {
    return static_cast<long>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

long get32fix(const uint8_t* p) {
    return get32(p);
}

void put32(uint8_t* p, long v) {
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(static_cast<unsigned long>(v) >> (8 * i));
}

void ldir(const uint8_t* from, uint8_t* to, int count) {
    for (int i = 0; i < count; i++)
        to[i] = from[i];
}

// ---- characters and strings --------------------------------------------------------------

int ishex(int c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexval(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') c -= 32;
    return c - 55;
}

void convup(char* text, char* out) {
    if (!out) out = text;
    for (; *text; text++, out++)
        *out = (*text >= 'a' && *text <= 'z') ? static_cast<char>(*text - 32) : *text;
    *out = 0;
}

void convdn(char* text, char* out) {
    if (!out) out = text;
    for (; *text; text++, out++)
        *out = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text + 32) : *text;
    *out = 0;
}

int prefix(const char* a, const char* b) {
    while (*a)
        if (*a++ != *b++) return 0;
    return 1;
}

const char* right(const char* text, int c) {
    if (!text || !*text) return nullptr;
    return strrchr(text, c);
}

int any(int c, const char* set) {
    for (; *set; set++)
        if (static_cast<unsigned char>(*set) == c) return 1;
    return 0;
}

void clrbuf(void* p, int n) {
    if (n > 0) memset(p, 0, static_cast<size_t>(n));
}

void moveright(const void* from, void* to, int n) {
    const uint8_t* f = static_cast<const uint8_t*>(from);
    uint8_t* t = static_cast<uint8_t*>(to);
    for (int i = n - 1; i >= 0; i--)
        t[i] = f[i];
}

const char* nxtarg(const char* text) {
    const char* c = strchr(text, ',');
    if (!c || !c[1]) return nullptr;
    return c + 1;
}

// ---- escape notation ---------------------------------------------------------------------

int expch(const char** pp) {
    const char* p = *pp;
    int c = static_cast<unsigned char>(*p++);
    if (c == '^') {
        if (!*p) return -1;
        c = static_cast<unsigned char>(*p++) & 31;
    } else if (c == '\\') {
        int e = static_cast<unsigned char>(*p++);
        if (e >= '0' && e <= '7') {
            c = e - '0';
            for (int i = 1; i < 3 && *p >= '0' && *p <= '7'; i++)
                c = c * 8 + (*p++ - '0');
            c &= 0xff;
        } else if (e == '"' || e == '\'' || e == '-' || e == '\\' || e == '^') {
            c = e;
        } else if (e == 'x' || e == 'X') {
            if (!ishex(static_cast<unsigned char>(*p))) return -1;
            c = hexval(static_cast<unsigned char>(*p++));
            if (ishex(static_cast<unsigned char>(*p)))
                c = c * 16 + hexval(static_cast<unsigned char>(*p++));
        } else {
            switch (e | 32) {
            case 'b':
                c = 8;
                break;
            case 'e':
                c = 27;
                break;
            case 'f':
                c = 12;
                break;
            case 'n':
                c = 10;
                break;
            case 'r':
                c = 13;
                break;
            case 't':
                c = 9;
                break;
            case 'v':
                c = 11;
                break;
            default:
                return -1; // also a "\" at the end of the text
            }
        }
    }
    *pp = p;
    return c;
}

const char* expstr(const char* text, uint8_t* out, int mode) {
    const char* p = text;
    int delim = 0;
    if (mode != 2 && (*p == '"' || *p == '\'')) delim = *p++;
    int n = 0;
    int limit = mode == 1 ? EXPSTRMAX + 1 : EXPSTRMAX;
    int last = -1; // the character just stored, for a range after it
    for (;;) {
        if (!*p) {
            if (delim) return nullptr; // unclosed quote
            break;
        }
        if (delim && *p == delim) {
            p++;
            break;
        }
        if (!delim && mode != 2 && *p == ' ') break;
        if (mode == 1 && *p == '-' && last >= 0 && p[1] && !(delim && p[1] == delim) &&
            !(!delim && p[1] == ' ')) {
            const char* q = p + 1;
            int end = expch(&q);
            if (end < 0 || end <= last) return nullptr;
            for (int c = last + 1; c <= end; c++) {
                if (n >= limit) return nullptr;
                out[1 + n++] = static_cast<uint8_t>(c);
            }
            p = q;
            last = -1;
            continue;
        }
        int c = expch(&p);
        if (c < 0) return nullptr;
        if (n >= limit) return nullptr;
        out[1 + n++] = static_cast<uint8_t>(c);
        last = c;
    }
    if (mode == 1) {
        if (n == 0) return nullptr;
        out[0] = static_cast<uint8_t>(n - 1);
    } else {
        out[0] = static_cast<uint8_t>(n);
    }
    return p;
}

bool hashnumbers(const char* text, int width, const std::function<int()>& next, std::string& out) {
    out.clear();
    bool replaced = false;
    for (const char* p = text; *p;) {
        if (*p != '#') {
            out += *p++;
            continue;
        }
        int run = 0;
        while (p[run] == '#')
            run++;
        p += run;
        int pad = std::clamp(run == 1 ? width : run, 1, 32);
        char num[48];
        snprintf(num, sizeof num, "%0*d", pad, next());
        out += num;
        replaced = true;
    }
    return replaced;
}

int macsub(const char* text, std::string& out, int width, int reset) {
    if (reset) macsubcnt = 0;
    return hashnumbers(
               text, width, [] { return macsubcnt++; }, out)
               ? 1
               : 0;
}

void osreset() {
    macsubcnt = 0;
    ev_delay = 0;
    ev_key = 0;
    pipesig = 0;
    wbufsiz = 3584;
    wsortbuf.clear();
}
