// The on-line manual: finding a topic, showing its pages, and the item picker.
#include "config/help.h"

#include "config/menu.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/vscreen.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const BANNER = "Vorn Online User's Manual";
const char* const INSTRUCT = "Press [Return] to view highlighted subject, ? for more help, [Esc] "
                             "to return\r\nUse cursor keys to change highlighted subject";
constexpr int LINEMAXH = 512; // longer help lines are cut (the screen shows 79 columns)

FILE* hlpf = nullptr;
FILE* hdxf = nullptr;
int filestate = 0; // 0 not tried, 1 open, -1 missing (remembered: not tried again)
int (*keysource)() = chrin;

// One item of the picker: its text, where it is drawn, and whether it is a link in the text.
struct Item {
    std::string text;
    int row = 0, col = 0;
};
Item items[HLP_ITEMS];
int nitems = 0;
int nlinkitems = 0; // items before this index are links
int current = 0;

// Page state.
char pool[HLP_POOL];
int poolused = 0;
int poolrel = 0; // pool level after the topic's related names
bool poolfull = false;
struct Link {
    int row, col, at;
};
Link links[HLP_LINKS];
int nlinks = 0;
int related[HLP_RELATED];
int nrelated = 0;
struct Page {
    long offset;
    bool bold;
};
Page pages[HLP_PAGES];
int npages = 0;
long nextoff = 0;
bool nextbold = false;
bool more = false, backok = false, headdrawn = false, wasbackup = false;
bool bold = false;
bool alerted[3]; // NH, NT, NR shown on this page

int lower(int c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// Bold as the console can show it: not at all where attribute changes take a cell.
void setbold(bool on) {
    if (SG > 0) return;
    _vset(on ? A_BOLD : 0);
}

// Where help output goes on; an alert puts the cursor back here.
int outrow = 0, outcol = 0;

void at(int row, int col) {
    _cpos(row, col);
    outrow = row, outcol = col;
}

void put(const char* s) {
    for (; *s; s++)
        _ttyout(static_cast<unsigned char>(*s));
}

// A short alert on the bottom row; a key is awaited, then the row is cleared again.
void alert(int which, const char* text) {
    if (alerted[which]) return;
    alerted[which] = true;
    int row = outrow, col = outcol;
    at(23, 0);
    put(text);
    oflush();
    keysource();
    at(23, 0);
    _vclreol(23, 0);
    at(row, col);
}

// Copies `len` bytes of text into the pool; the pool offset, or -1 when nothing fits.
int pooladd(const char* text, size_t len) {
    if (poolused >= HLP_POOLWARN) poolfull = true;
    if (poolfull) {
        alert(0, "\aNH");
        return -1;
    }
    size_t room = static_cast<size_t>(HLP_POOL - 1 - poolused);
    if (len > room) len = room;
    int start = poolused;
    std::memcpy(pool + start, text, len);
    pool[start + static_cast<int>(len)] = 0;
    poolused += static_cast<int>(len) + 1;
    return start;
}

// Reads one line without its end of line into `buf`; a longer line is cut and the rest skipped.
bool readline(char* buf, size_t size) {
    size_t n = 0;
    int c;
    bool any = false;
    while ((c = fgetc(hlpf)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (n + 1 < size) buf[n++] = static_cast<char>(c);
    }
    if (n && buf[n - 1] == '\r') n--;
    buf[n] = 0;
    return any;
}

bool seekhelp(long offset) {
    if (!hlpf || offset < 0) return false;
    clearerr(hlpf);
    return fseek(hlpf, offset, SEEK_SET) == 0;
}

void drawitem(int i, bool highlight) {
    if (i < 0 || i >= nitems) return;
    const Item& it = items[i];
    at(it.row, it.col);
    if (highlight) _vset(A_REVERSE);
    // Non-link items share ten-column slots; a link is drawn as long as it was in the text.
    std::string t = it.text;
    size_t width = i < nlinkitems ? static_cast<size_t>(79 - it.col) : 10;
    if (t.size() > width) t.resize(width);
    put(t.c_str());
    if (highlight) _vset(0);
}

void instructions() {
    at(22, 0);
    _vclreol(22, 0);
    at(23, 0);
    _vclreol(23, 0);
    at(22, 0);
    put(INSTRUCT);
}

// Title and right-hand text of a "..m" line, as shown.
void splitheading(const char* line, std::string& title, std::string& right) {
    const char* p = line;
    while (*p && *p != ' ' && *p != '\t')
        p++;
    while (*p == ' ' || *p == '\t')
        p++;
    const char* comma = std::strchr(p, ',');
    title.assign(p, comma ? static_cast<size_t>(comma - p) : std::strlen(p));
    while (!title.empty() && title.back() == ' ')
        title.pop_back();
    right.clear();
    if (comma) {
        const char* r = comma + 1;
        while (*r == ' ')
            r++;
        if (*r != '$') right = r;
    }
    auto clean = [](std::string& s) {
        std::string o;
        for (char c : s)
            if (static_cast<unsigned char>(c) >= 32 && c != 127) o += c;
        s = o.substr(0, 79);
    };
    clean(title);
    clean(right);
}

void heading(const char* line) {
    poolused = 0;
    poolfull = false;
    headdrawn = true;
    std::string title, right;
    splitheading(line, title, right);
    if (title.size() + right.size() > 78) right.clear();
    int tl = static_cast<int>(title.size()), rl = static_cast<int>(right.size());
    at(0, 0);
    put(title.c_str());
    if (rl) {
        at(0, 79 - rl);
        put(right.c_str());
    }
    // The banner is centred in the gap between title and right-hand text, when it fits.
    int bl = static_cast<int>(std::strlen(BANNER));
    int gapfrom = tl + 1, gapto = rl ? 79 - rl - 1 : 79;
    if (gapto - gapfrom >= bl) {
        at(0, gapfrom + (gapto - gapfrom - bl) / 2);
        put(BANNER);
    }
    for (int r : {1, 18, 21}) {
        at(r, 0);
        gline(r);
    }
    at(19, 0);
    put("Related |\r\nTopics  |");
    at(22, 0);
    put(INSTRUCT);
    at(2, 0);
}

// Related topic names after the first blank, separated by commas.
void relatedline(const char* line) {
    const char* p = std::strpbrk(line, " \t");
    if (!p) return;
    while (*p) {
        while (*p == ' ' || *p == '\t' || *p == ',')
            p++;
        const char* e = p;
        while (*e && *e != ',')
            e++;
        const char* t = e;
        while (t > p && (t[-1] == ' ' || t[-1] == '\t'))
            t--;
        if (t > p) {
            if (nrelated >= HLP_RELATED) {
                alert(2, "\aNR");
                break;
            }
            int a = pooladd(p, static_cast<size_t>(t - p));
            if (a >= 0) related[nrelated++] = a;
        }
        p = e;
    }
    poolrel = poolused;
}

void addlink(int row, int col, const std::string& text) {
    if (nlinks >= HLP_LINKS) {
        alert(1, "\aNT");
        return;
    }
    int a = pooladd(text.data(), text.size());
    if (a >= 0) links[nlinks++] = {row, col, a};
}

// One text line at `row`: bold toggles, tabs, links; cut at column 79; other control bytes
// (which a planted help file could use to reprogram the terminal) are dropped.
void outl(const char* line, int row) {
    int col = 0;
    at(row, 0);
    auto emit = [&](int c) {
        if (col >= 79) return;
        _ttyout(c);
        outcol = ++col;
    };
    for (const char* p = line; *p && col < 79; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == 2) {
            if (SG > 0) continue;
            bold = !bold;
            setbold(bold);
        } else if (c == '\t') {
            int to = (col / 8 + 1) * 8;
            if (to > 79) to = 79;
            if (vtabex) {
                while (col < to)
                    emit(' ');
            } else {
                _ttyout('\t');
                col = to;
                at(row, col);
            }
        } else if (c == '$' && p[1] == '$') {
            emit('$');
            p++;
        } else if (c == '$' && p[1] && p[1] != ' ' && p[1] != '\t') {
            std::string text;
            const char* q = p + 1;
            bool blank = false; // the blank that ends a link is shown as one blank
            if (*q == '(') {
                for (q++; *q && *q != ')'; q++)
                    text += *q;
                if (*q == ')') q++;
            } else {
                for (; *q && *q != ' ' && *q != '\t' && !std::strchr(".,;:)", *q); q++)
                    text += *q;
                if (*q == ' ') q++, blank = true;
            }
            std::string shown;
            for (char t : text)
                if (static_cast<unsigned char>(t) >= 32 && t != 127 && t != 2) shown += t;
            if (!shown.empty()) {
                int startcol = col;
                for (char t : shown)
                    emit(static_cast<unsigned char>(t));
                addlink(row, startcol, shown.substr(0, static_cast<size_t>(col - startcol)));
            } else if (!blank) {
                emit('$');
            }
            if (blank) emit(' ');
            p = q - 1;
        } else if (c >= 32 && c != 127 && !(c >= 128 && c < 160)) {
            emit(c);
        }
    }
}

// Builds the picker's list from the page: links, then "(continue)", "(backup)", related topics.
void hassign() {
    nitems = 0;
    for (int i = 0; i < nlinks; i++)
        items[nitems++] = {pool + links[i].at, links[i].row, links[i].col};
    nlinkitems = nitems;
    int k = 0;
    auto other = [&](const std::string& text) {
        if (nitems >= HLP_ITEMS) return;
        items[nitems++] = {text, 19 + k % 2, 10 + 11 * (k / 2)};
        k++;
    };
    if (more) other("(continue)");
    if (backok) other("(backup)");
    for (int i = 0; i < nrelated; i++)
        other(pool + related[i]);
}

// Placing a keyword in the index without touching the page state.
bool lookup(const char* keyword, long& offset) {
    char q[HDX_KEYLEN + 1] = {0};
    int n = 0;
    for (const char* p = keyword; *p && n < HDX_KEYLEN; p++)
        if (*p != 2) q[n++] = static_cast<char>(lower(static_cast<unsigned char>(*p)));
    if (n == 0) {
        offset = 0;
        return true;
    }
    unsigned char buf[HDX_SEARCH];
    if (!hdxf) return false;
    clearerr(hdxf);
    if (fseek(hdxf, 0, SEEK_SET) != 0) return false;
    size_t got = fread(buf, 1, sizeof buf, hdxf);
    for (size_t r = 0; r + HDX_RECLEN <= got; r += HDX_RECLEN) {
        bool same = true;
        for (int i = 0; i < HDX_KEYLEN; i++) {
            if (buf[r + i] != static_cast<unsigned char>(q[i])) {
                same = false;
                break;
            }
            if (!q[i]) break;
        }
        if (same) {
            offset = buf[r + 10] | buf[r + 11] << 8 | static_cast<long>(buf[r + 12]) << 16;
            return true;
        }
    }
    if (std::strchr(keyword, '@')) {
        offset = 0;
        return true;
    }
    return false;
}

// The question prompt: the first word of the answer that the index places, or "".
std::string question() {
    at(22, 0);
    _vclreol(22, 0);
    at(23, 0);
    _vclreol(23, 0);
    at(22, 0);
    put(">\r\nEnter your question, help system keyword, or the command you need help with");
    at(22, 1);
    char buf[NGETS_MAX + 1];
    int n = 0;
    for (;;) {
        oflush();
        int k = keysource();
        if (k == 13 || k == KC_KPENTER || k < 0) break;
        if (k == 27) {
            n = 0;
            break;
        }
        if ((k == 8 || k == 127 || k == KC_LEFT || k == KC_BS) && n > 0) {
            n--;
            put("\b \b");
        } else if (k >= 32 && k < 127 && n < NGETS_MAX - 1) {
            buf[n++] = static_cast<char>(k);
            _ttyout(k);
        }
    }
    buf[n] = 0;
    std::string word;
    for (int i = 0; i <= n; i++) {
        char c = buf[i];
        if (c && c != ' ' && c != ',' && c != '\t') {
            word += static_cast<char>(lower(static_cast<unsigned char>(c)));
            continue;
        }
        long off;
        if (!word.empty() && word != "help" && lookup(word.c_str(), off)) return word;
        word.clear();
    }
    return "";
}

} // namespace

std::string menuhelpkey(const std::string& title, const std::string& choice) {
    return title.substr(0, 6) + "@" + choice.substr(0, choice.find(' '));
}

int helpfiles(const char* hlp, const char* hdx) {
    helpreset();
    hlpf = std::fopen(hlp, "rb");
    hdxf = std::fopen(hdx, "rb");
    filestate = hlpf && hdxf ? 1 : -1;
    return filestate > 0;
}

void helpkeys(int (*source)()) {
    keysource = source ? source : chrin;
}

void helpreset() {
    if (hlpf) std::fclose(hlpf);
    if (hdxf) std::fclose(hdxf);
    hlpf = hdxf = nullptr;
    filestate = 0;
    nitems = nlinkitems = current = 0;
    poolused = poolrel = 0;
    poolfull = false;
    nlinks = nrelated = npages = 0;
    nextoff = 0;
    nextbold = more = backok = headdrawn = wasbackup = bold = false;
}

int findhelp(const char* keyword, long& offset) {
    if (!std::strcmp(keyword, "(continue)")) {
        if (!more) return 0;
        offset = nextoff;
        bold = nextbold;
        wasbackup = false;
        return 1;
    }
    if (!std::strcmp(keyword, "(backup)")) {
        if (npages < 2) return 0;
        offset = pages[npages - 2].offset;
        bold = pages[npages - 2].bold;
        npages -= 2;
        wasbackup = true;
        return 1;
    }
    if (!lookup(keyword, offset)) return 0;
    // Only a keyword that was found starts a new topic: a miss keeps the page as it is.
    headdrawn = false;
    nrelated = 0;
    poolrel = 0;
    npages = 0;
    wasbackup = false;
    bold = false;
    return 1;
}

void disphelp(long offset) {
    more = backok = false;
    nlinks = 0;
    poolused = poolrel;
    poolfull = false;
    alerted[0] = alerted[1] = alerted[2] = false;
    OutBatch batch;
    setbold(false);
    int row = 2;
    if (wasbackup || npages > 0) {
        backok = !(wasbackup && npages == 0);
        for (int r = 2; r <= 17; r++) {
            at(r, 0);
            _vclreol(r, 0);
        }
        for (int r : {19, 20}) {
            at(r, 10);
            _vclreol(r, 10);
        }
    } else {
        _vclear();
    }
    if (npages == HLP_PAGES) { // the oldest page is forgotten
        std::memmove(pages, pages + 1, sizeof pages[0] * (HLP_PAGES - 1));
        npages--;
    }
    pages[npages++] = {offset, bold};
    if (bold) setbold(true);
    char line[LINEMAXH];
    int shown = 0;
    if (!seekhelp(offset)) return;
    while (readline(line, sizeof line)) {
        if (!std::strncmp(line, "..m", 3)) {
            if (wasbackup && headdrawn) continue;
            if (headdrawn) break;
            heading(line);
            if (bold) setbold(true);
            continue;
        }
        if (!std::strncmp(line, "..r", 3)) {
            if (!wasbackup) relatedline(line);
            continue;
        }
        if (line[0] == '.') continue;
        if (!headdrawn) { // text before any topic: show it under a plain heading
            heading("..m");
            if (bold) setbold(true);
        }
        outl(line, row++);
        if (++shown == HLP_ROWS) {
            // A page that ends exactly at the end of its topic offers no empty next page.
            long here = ftell(hlpf);
            char peek[LINEMAXH];
            bool ahead = false;
            while (readline(peek, sizeof peek)) {
                if (!std::strncmp(peek, "..m", 3)) break;
                if (peek[0] == '.') continue;
                ahead = true;
                break;
            }
            if (ahead) {
                nextoff = here;
                nextbold = bold;
                more = true;
            }
            break;
        }
    }
    setbold(false);
}

void hmenuclear() {
    nitems = nlinkitems = current = 0;
}

bool hmenuadd(const std::string& text, int row, int col, bool link) {
    if (nitems >= HLP_ITEMS) return false;
    if (link && nlinkitems < nitems) return false; // links come first
    items[nitems++] = {text, row, col};
    if (link) nlinkitems = nitems;
    return true;
}

bool hmenu(int mode, std::string& chosen) {
    if (mode == 1) {
        hassign();
        for (int i = nlinkitems; i < nitems; i++)
            drawitem(i, false);
    }
    current = nlinkitems < nitems ? nlinkitems : 0;
    int prev = -1;
    for (;;) {
        if (prev != current && prev >= 0) drawitem(prev, false);
        drawitem(current, true);
        prev = current;
        at(23, 0);
        oflush();
        int k = keysource();
        if (k < 0) return false; // the key source ran dry (tests, fuzzing)
        if (nitems == 0 && k != 27 && k != '?' && k != KC_F2) {
            _ttyout(7);
            continue;
        }
        switch (k) {
        case 13:
            chosen = items[current].text;
            return true;
        case 27:
            return false;
        case ' ':
        case 9:
        case KC_RIGHT:
            current = (current + 1) % nitems;
            break;
        case 8:
        case 127:
        case KC_LEFT:
        case KC_DEL:
        case KC_CBS:
        case KC_BS:
            current = (current + nitems - 1) % nitems;
            break;
        case KC_UP:
            current = mode ? 0 : (current + nitems - 1) % nitems;
            break;
        case KC_DOWN:
            current = mode ? (nlinkitems < nitems ? nlinkitems : 0) : (current + 1) % nitems;
            break;
        case 17:
        case 19:
            break;
        case '?':
        case KC_F2:
            if (mode == 1) {
                std::string w = question();
                if (!w.empty()) {
                    chosen = w;
                    return true;
                }
                instructions();
                at(23, 0);
                put("I can't find any help for that subject, sorry");
                break;
            }
            _ttyout(7);
            break;
        default:
            if (mode == 0 && k > 32 && k < 127) {
                int key = k >= 'a' && k <= 'z' ? k - 32 : k;
                for (int step = 1; step <= nitems; step++) {
                    int i = (current + step) % nitems;
                    const std::string& t = items[i].text;
                    for (char c : t) {
                        if (c == ' ') break;
                        if (c >= 'A' && c <= 'Z') {
                            if (c == key) {
                                drawitem(current, false);
                                current = i;
                                drawitem(current, true);
                                chosen = t;
                                return true;
                            }
                            break;
                        }
                    }
                }
            }
            _ttyout(7);
            break;
        }
    }
}

int dohelp(long offset) {
    bold = false;
    for (;;) {
        disphelp(offset);
        std::string kw;
        if (!hmenu(1, kw)) break;
        long o;
        if (findhelp(kw.c_str(), o)) {
            offset = o;
            continue;
        }
        // Not found: the same page again, as it began (its stack entry is pushed anew).
        if (npages > 0) bold = pages[--npages].bold;
        if (npages == 0 && !wasbackup) {
            headdrawn = false;
            nrelated = 0;
            poolrel = 0;
        }
    }
    setbold(false);
    _vclear();
    oflush();
    return 0;
}

namespace {
long startoff = 0;
int helpproc(int) {
    return dohelp(startoff);
}
} // namespace

int help(const char* keyword) {
    if (filestate == 0) {
        char hlp[PATHMAX + 1], hdx[PATHMAX + 1];
        if (getpath(hlp, "vorn.hlp") && getpath(hdx, "vorn.hdx"))
            helpfiles(hlp, hdx);
        else
            filestate = -1;
    }
    if (filestate < 0) return aberr("VORN system helpfiles not present\r\n");
    std::string kw = keyword ? keyword : "";
    while (!kw.empty() && (kw.back() == ' ' || kw.back() == '\t'))
        kw.pop_back();
    long off;
    if (!findhelp(kw.c_str(), off)) return aberr("Sorry, there's no help for that keyword\r\n");
    startoff = off;
    return enterproc(helpproc, 0);
}

int helpargs(int argc, char** argv) {
    if (argc < 2) return -1;
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("%s\n", versionline().c_str());
        return 0;
    }
    if (std::strcmp(argv[1], "--help")) return -1;
    std::printf(
        "Usage: vorn [-%s] [script [arguments]]\n"
        "Interactive data communications: terminal emulation, file transfer and scripts.\n\n"
        "  -l ports   open these ports (serial device, pty:program, telnet:host, service name)\n"
        "  -z         no line (the null driver)           -s parms  line parameters for -x\n"
        "  -v         VT100 emulation, full duplex         -f        TTY emulation\n"
        "  -h         half duplex                          -c        remote command mode\n"
        "  -t         talk mode                            -x        server mode on standard "
        "input\n"
        "  -q         quiet: no console                    -u        no banner or hint line\n"
        "  -m         invert the start-up menu decision    -e        view dialing and login\n"
        "  -a         bare BS and CR as arrow keys          -i        lock manager flag\n"
        "  -d         debug trace (repeat for more)\n"
        "  -k -5 -7 -1 -2 -o  protocol Kermit, vorn5, modem7, wvorncrc, ZMODEM, older vorncrc\n"
        "  -b size    buffer size                          -p size   printer buffer size\n\n"
        "Environment: VORNFLAGS VORNDIR VORNCWD VORNRC VORNSYS VORNEX TERM TERMCAP SHELL.\n"
        "In the program, the command key (^E) and ? or F2 open the on-line manual;\n"
        "the same manual is the man page vorn(1).\n",
        VORN_OPTIONS);
    return 0;
}
