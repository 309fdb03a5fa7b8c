#include "core/escape.h"

#include "config/menu.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "ports/serial.h"
#include "ports/service.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "script/cmd.h"
#include "script/cmds.h"
#include "transfer/capture.h"
#include "transfer/xfer.h"

#include <cctype>
#include <cstring>
#include <strings.h>

// clang-format off
const SelEntry modelist[] = {
    {"FULL", 1, 'F'}, {"HALF", 2, 'H'}, {"TALK", 0, 'T'}, {"DUMP", 3, 'D'},
    {"MNEMONIC", 4, 'M'}, {"CONTROL", 5, 'C'}, {"", 0, 0},
};
const SelEntry answlist[] = {
    {"AUTO", 1, 'A'}, {"NOW", 2, 'N'}, {"WAIT", 0, 'W'}, {"OFF", 3, 'O'}, {"", 0, 0},
};
const SelEntry termlist[] = {
    {"TTY", 4, 'T'},        {"VT100", 8, 'V'},       {"VT52", 16, '5'},     {"ANSI", 256, 'A'},
    {"TV950", 2048, 'L'},   {"TV925", 32, '9'},      {"TV912", 64, '1'},    {"WYSE50", 128, 'W'},
    {"ADM1", 512, 'D'},     {"IB3101", 1024, '3'},   {"VT220-8", 8192, '8'},
    {"VT220-7", 4096, '2'}, {"SCOANSI", 32768, 'S'}, {"VT102", 8, '0'},     {"WYSE60", 2, '6'},
    {"PCTERM", 16384, 'P'}, {"XTERM", 65536, 'X'},  {"", 0, 0},
};
const SelEntry xprotlist[] = {
    {"VORNCRC", 0, 'T'}, {"WVORNCRC", 6, 'W'}, {"VORN5", 1, '5'}, {"MODEM7", 2, 'M'},
    {"XMODEM", 4, 'C'},  {"YMODEM", 5, 'Y'},   {"ZMODEM", 7, 'Z'}, {"KERMIT", 3, 'K'},
    {"", 0, 0},
};
// Parity values as the line settings keep them (0 none, 1 odd, 2 even, 3 mark, 4 space).
const SelEntry parlist[] = {
    {"NONE", 0, 'N'}, {"EVEN", 2, 'E'}, {"ODD", 1, 'O'}, {"MARK", 3, 'M'}, {"SPACE", 4, 'S'},
    {"", 0, 0},
};
// clang-format on

int selkey(const SelEntry* list, int letter) {
    for (; list->name[0]; list++)
        if (list->key == letter) return list->value;
    return -1;
}

const char* selname(const SelEntry* list, int value) {
    for (; list->name[0]; list++)
        if (list->value == value) return list->name;
    return "?";
}

// A word names an entry when it equals the name, or abbreviates it with at least four
// characters (case ignored); the first entry in table order wins.
int selvalue(const SelEntry* list, const char* word) {
    size_t n = word ? std::strlen(word) : 0;
    if (n == 0) return -1;
    for (; list->name[0]; list++) {
        size_t len = std::strlen(list->name);
        if (n > len || strncasecmp(list->name, word, n) != 0) continue;
        if (n == len || n >= 4) return list->value;
    }
    return -1;
}

void prallow(const SelEntry* list) {
    zzprintf("?\r\nAllowable options are: ");
    for (; list->name[0]; list++) {
        char lower[32];
        size_t i = 0;
        for (const char* p = list->name; *p && i + 1 < sizeof lower; p++)
            lower[i++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        lower[i] = 0;
        const char* shown = lower;
        if (list->name[0] == list->key) shown++;
        zzprintf("%c)", list->key);
        zzprintf("%s, ", shown);
    }
    zzprintf("\r\n");
}

void dispprot() {
    zzprintf("Protocol ");
    zzprintf("%s, ", amode ? "Binary" : "Ascii");
    const char* p = prot == 0   ? "No line"
                    : prot == 1 ? "Xon/Xoff"
                    : prot == 3 ? "Rts/Cts"
                                : "Etx/Ack";
    zzprintf("%s protocol", p);
    if (quiet) zzprintf(", Quiet On");
    if (dcdchk) zzprintf(", Dcd Check On");
    zzprintf(", %s Protocol\r\n", selname(xprotlist, errprot));
}

int wrcapt() {
    if (castat == 2) {
        zzprintf(" %s\r\n", captname());
        setcapt(0);
        captstatus(0);
        return 0;
    }
    zzprintf("... No capture file\r\n");
    return 1;
}

int getch() {
    int c = chrin();
    if (c >= 'a' && c <= 'z') c -= 32;
    if (c > 31 && c < 256) zzprintf("%c", c);
    return c;
}

namespace {
// The last non-empty line entered, for ^R; shared by every prompt.
char lastline[NGETS_MAX + 1] = "";

int keypadchar(int k) {
    if (k >= KC_KP0 && k <= KC_KP0 + 9) return '0' + (k - KC_KP0);
    switch (k) {
    case KC_KPMINUS:
        return '-';
    case KC_KPCOMMA:
        return ',';
    case KC_KPPERIOD:
        return '.';
    case KC_KPSTAR:
        return ',';
    case KC_KPSLASH:
        return '/';
    default:
        return k;
    }
}
} // namespace

void ngetsreset() {
    lastline[0] = 0;
}

int ngets(char* buf, int flags) {
    bool echo = flags & NG_ECHO;
    int n = 0;
    buf[0] = 0;
    for (;;) {
        int k = chrin();
        if (n >= NGETS_MAX || k == 13 || k == KC_KPENTER) {
            buf[n] = 0;
            if (n) std::memcpy(lastline, buf, static_cast<size_t>(n) + 1);
            zzprintf("\r\n");
            return 0;
        }
        if ((flags & NG_ESC) && k == 27) return 1;
        if ((flags & NG_ABORT) && k == abochar) return 1;
        if (k == 4) {
            if (n == 0 && (flags & NG_EOF)) return 1;
            continue;
        }
        if (k == 8 || k == 127 || k == KC_LEFT || k == KC_DEL || k == KC_BS || k == KC_CBS) {
            if (n > 0) {
                n--;
                if (echo) zzprintf("\b \b");
            }
            continue;
        }
        if (k == 24 || k == KC_HOME) {
            for (; n > 0; n--)
                if (echo) zzprintf("\b \b");
            continue;
        }
        if (k == 18) {
            if (n == 0 && lastline[0]) {
                n = static_cast<int>(std::strlen(lastline));
                std::memcpy(buf, lastline, static_cast<size_t>(n) + 1);
                if (echo) zzprintf("%s", buf);
            }
            continue;
        }
        k = keypadchar(k);
        if (k < 32 || k > 255) continue;
        buf[n++] = static_cast<char>(k);
        if (echo) zzprintf("%c", k);
    }
}

namespace {
enum class After { Returning, AtOnce };

// Reads a line for a letter's prompt; false when it was aborted.
bool readline(char* buf) {
    return ngets(buf, NG_ECHO | NG_ESC) == 0;
}

// A selection prompt: one more letter picks an entry, whose full name overwrites the letter.
int select(const SelEntry* list) {
    int c = getch();
    for (const SelEntry* e = list; e->name[0]; e++) {
        if (e->key == c) {
            // The chosen entry's own name: "0" shows VT102 though VT100 has the same value.
            zzprintf("\b%s\r\n", e->name);
            return e->value;
        }
    }
    prallow(list);
    return -1;
}

void togglecapture() {
    setcapt(castat == 2 ? 1 : 2);
    captstatus(0);
}

int quitprog(int) {
    vemode = 1;
    return m_quit(0);
}

// The protocol sub-prompt: letters until a carriage return or a letter that fits nothing.
void protocol() {
    for (;;) {
        int c = getch();
        switch (c) {
        case 'A':
            zzprintf("scii "), amode = 0;
            continue;
        case 'B':
            zzprintf("inary "), amode = 1;
            continue;
        case 'X':
            zzprintf("on/Xoff "), setprot(1);
            continue;
        case 'E':
            zzprintf("tx/Ack "), setprot(2);
            continue;
        case 'R':
            zzprintf("ts/Cts "), setprot(3);
            continue;
        case 'N':
            zzprintf("one "), setprot(0);
            continue;
        case 'Q':
            quiet = !quiet;
            zzprintf("uiet %s ", quiet ? "On" : "Off");
            continue;
        case 'D':
            dcdchk = !dcdchk;
            zzprintf("CD Check %s ", dcdchk ? "On" : "Off");
            continue;
        case 13:
            zzprintf("\r\n");
            dispprot();
            return;
        default:
            break;
        }
        int v = selkey(xprotlist, c);
        if (v < 0) {
            prallow(xprotlist);
            zzprintf("A)scii B)inary X)on/Xoff E)tx/Ack R)ts/Cts N)one Q)uiet D)cd Check\r\n");
            return;
        }
        zzprintf("\b%s ", selname(xprotlist, v));
        errprot = v;
    }
}

After dispatch(int c) {
    char buf[NGETS_MAX + 1];
    switch (c) {
    case 'A': {
        zzprintf("nswer ");
        int v = select(answlist);
        if (v >= 0) answer(v);
        break;
    }
    case 'B':
        zzprintf("uffer ");
        if (getch() == 'F') {
            zzprintf("lush\r\n");
            comflush();
        } else {
            zzprintf("?\r\nAllowable options are F(lush\r\n");
        }
        break;
    case 'C':
        zzprintf("onnect to configuration:");
        if (readline(buf)) {
            if (isnumber(buf))
                dialrec(buf, 1);
            else if (buf[0])
                c_connect(buf);
        }
        break;
    case 'D':
        zzprintf("ata ");
        togglecapture();
        break;
    case 'E': {
        zzprintf("mulate ");
        int v = select(termlist);
        if (v >= 0) emode = v;
        emulate(emode, 1);
        break;
    }
    case 'F':
        zzprintf("ile for data capture:");
        if (readline(buf)) {
            captfile(buf, 1);
            captstatus(0);
        }
        break;
    case 'G':
        zzprintf("et file:");
        if (readline(buf)) parsexfer(2, buf);
        break;
    case 'H':
        zzprintf("angup");
        hangcmd();
        break;
    case 'L':
        zzprintf("ine by line send file:");
        if (readline(buf)) ulsend(buf, 1);
        break;
    case 'M': {
        zzprintf("ode ");
        int v = select(modelist);
        if (v >= 0) dupmode = v, col132 = 0;
        break;
    }
    case 'N':
        zzprintf("\bConnect to Node/Number:");
        if (readline(buf) && buf[0]) dialrec(buf, 3);
        break;
    case 'P':
        zzprintf("rotocol ");
        protocol();
        break;
    case 'Q':
        zzprintf("uit\r\n");
        quitprog(0);
        break;
    case 'R':
        zzprintf("cv file:");
        if (readline(buf)) parsexfer(3, buf);
        break;
    case 'S':
        zzprintf("end file:");
        if (readline(buf)) parsexfer(1, buf);
        break;
    case 'T':
        zzprintf("ime for file(s):");
        if (readline(buf)) timefile(buf);
        break;
    case 'U':
        zzprintf("nformatted send file:");
        if (readline(buf)) ulsend(buf, 0);
        break;
    case 'W':
        zzprintf("riting");
        wrcapt();
        break;
    case 'X':
        zzprintf("fer file(s):");
        if (readline(buf)) parsexfer(0, buf);
        break;
    case '1':
        zzprintf("\r\n");
        enterproc(runmenus, 0);
        return After::AtOnce;
    case '2':
    case '?':
        zzprintf("\r\n");
        help("");
        return After::AtOnce;
    case '3':
        zzprintf("\r\n");
        goldkey(chrin());
        return After::AtOnce;
    case '4':
        zzprintf("\r\n");
        shell(1);
        return After::AtOnce;
    case '5':
        zzprintf("\r\n");
        togglecapture();
        break;
    case '6':
        prscreen();
        zzprintf("\r\n");
        return After::AtOnce;
    case ':':
        cmdmode();
        break;
    case '!':
        if (readline(buf) && buf[0]) osescape(buf, 0);
        break;
    case 13:
        zzprintf("\r\n");
        break;
    case 26:
        quitprog(0);
        break;
    default:
        zzprintf(" ? for help\r\n");
        break;
    }
    return After::Returning;
}
} // namespace

void escape() {
    scrleft();
    emreset = 0;
    AttrSave save;
    attroff(save);
    zzprintf("\r\r\nc=>");
    After after = dispatch(getch());
    if (after == After::Returning && dupmode != 0) zzprintf("Returning to terminal mode\r\n");
    if (!emreset) attron(save);
    oflush();
}
