// Setting commands: line, modem, screen, keyboard and transfer settings, and `set`. The plain
// settings are rows of the settings table (script/settab.cpp); the commands here with logic of
// their own parse their arguments and call the subsystem that owns the setting.
#include "script/cmds.h"

#include "config/conffile.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/vscreen.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/lex.h"
#include "script/settab.h"
#include "script/var.h"
#include "transfer/capture.h"
#include "transfer/xfer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The commands that only set their row of the settings table.
#define SETTING_COMMAND(n)                                                                         \
    int c_##n(const char* args) {                                                                  \
        return setcmd(#n, args);                                                                   \
    }
SETTING_COMMAND(addcr)
SETTING_COMMAND(addlf)
SETTING_COMMAND(cdelay)
SETTING_COMMAND(charset)
SETTING_COMMAND(dansoff)
SETTING_COMMAND(dautoans)
SETTING_COMMAND(dconnect)
SETTING_COMMAND(descape)
SETTING_COMMAND(devprefix)
SETTING_COMMAND(dhangup)
SETTING_COMMAND(dinit)
SETTING_COMMAND(doffhook)
SETTING_COMMAND(dokstr)
SETTING_COMMAND(dprefix)
SETTING_COMMAND(dringstr)
SETTING_COMMAND(dsuffix)
SETTING_COMMAND(dtimeout)
SETTING_COMMAND(emulate)
SETTING_COMMAND(fillchar)
SETTING_COMMAND(flags)
SETTING_COMMAND(hiwait)
SETTING_COMMAND(htime)
SETTING_COMMAND(itime)
SETTING_COMMAND(lchar)
SETTING_COMMAND(lchrdy)
SETTING_COMMAND(ldelay)
SETTING_COMMAND(linecs)
SETTING_COMMAND(lockfile)
SETTING_COMMAND(locktime)
SETTING_COMMAND(lowait)
SETTING_COMMAND(mode)
SETTING_COMMAND(netdialog)
SETTING_COMMAND(netname)
SETTING_COMMAND(netport)
SETTING_COMMAND(netvtname)
SETTING_COMMAND(pages)
SETTING_COMMAND(parity)
SETTING_COMMAND(partopen)
SETTING_COMMAND(portlist)
SETTING_COMMAND(redial)
SETTING_COMMAND(remark)
SETTING_COMMAND(scrollback)
SETTING_COMMAND(sshpath)
SETTING_COMMAND(stopbits)
SETTING_COMMAND(tdelay)
SETTING_COMMAND(udkallow)
SETTING_COMMAND(wildsize)
SETTING_COMMAND(wordlen)
SETTING_COMMAND(wru)
SETTING_COMMAND(wruchar)
#undef SETTING_COMMAND

namespace {

const char* skipblanks(const char* p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

int dialresult(int r) {
    return r == 2 ? RC_ABORT : r ? RC_ERROR : RC_OK;
}

// The dialog commands: with an argument the dialog string, without it the dialog runs now.
int dialogcmd(const char* name, const char* args, int (*run)()) {
    if (*skipblanks(args)) return setcmd(name, args);
    return dialresult(run());
}

} // namespace

int c_login(const char* args) {
    return dialogcmd("login", args, dologin);
}
int c_logout(const char* args) {
    return dialogcmd("logout", args, dologout);
}
int c_startserver(const char* args) {
    return dialogcmd("startserver", args, [] { return dostserver(1); });
}
int c_stopserver(const char* args) {
    return dialogcmd("stopserver", args, [] { return dostserver(0); });
}

// modem hayes | file: a file takes over dialing, answering and hanging up, and runs at once.
int c_modem(const char* args) {
    const char* w = word(args, nullptr);
    if (!*w) return expaberr("Filename or hayes"), RC_EXPECTED;
    if (cmatch(w, "hayes") && strlen(w) == 5) {
        modemfile.clear();
        return RC_OK;
    }
    if (strchr(w, '*')) return aberr("Multiple files not allowed\r\n"), RC_ERROR;
    modemfile = w;
    std::string name = w; // dofile may reuse word's buffer
    return dofile(name.c_str(), 1);
}

// baud speed[,parity,size,stop]
int c_baud(const char* args) {
    return setparms(skipblanks(args)) < 0 ? RC_ERROR : RC_OK;
}

// xonxoff xon, xoff: two numeric expressions.
int c_xonxoff(const char* args) {
    ExprValue on, off;
    if (!numexpr(on, args)) return RC_ERROR;
    int rc = RC_OK;
    if (op == ',')
        etoken();
    else
        expaberr("Comma"), rc = RC_EXPECTED;
    if (!numexpr(off, nullptr)) return RC_ERROR;
    xonchar = on.number & 255;
    xoffchar = off.number & 255;
    return rc;
}

// break [on | off]: without a word a break goes out on the line.
int c_break(const char* args) {
    static const char* const onoff[] = {"off", "on", nullptr};
    const char* rest;
    int on = toklist(args, &rest, onoff);
    if (on == -2) return COM->brk() < 0 ? RC_ERROR : RC_OK;
    if (on < 0) return tokexpect(onoff), RC_EXPECTED;
    brkchar = on ? 2 : -1;
    return RC_OK;
}

int c_flush(const char*) {
    comflush();
    return RC_OK;
}

int c_version(const char*) {
    zzprintf("%s\r\n", versionline().c_str());
    return RC_OK;
}

// Sessions are a terminal-mode matter: a script cannot switch them.
int c_session(const char*) {
    return RC_ERROR;
}

// setdelay seconds: the alarm of `on delay`.
int c_setdelay(const char* args) {
    ExprValue v;
    if (!numexpr(v, args)) return RC_ERROR;
    setdelay(v.number < 0 ? 0 : v.number);
    return RC_OK;
}

// setcap name, value
int c_setcap(const char* args) {
    ExprValue name, value;
    if (!strexpr(name, args)) return RC_ERROR;
    if (strlen(name.text) != 2) return aberr("Termcap id must be 2 chars\r\n"), RC_ERROR;
    if (op == ',') etoken();
    if (!strexpr(value, nullptr)) return RC_ERROR;
    if (!setcap(name.text, value.text)) return aberr("Unknown capability: %s\r\n", name.text);
    return RC_OK;
}

// setcolor n, value
int c_setcolor(const char* args) {
    ExprValue n, v;
    if (!numexpr(n, args)) return RC_ERROR;
    if (n.number < 0 || n.number > 15) return expaberr("Color #0 to 15"), RC_EXPECTED;
    if (op != ',') return expaberr("Comma"), RC_EXPECTED;
    etoken();
    if (!numexpr(v, nullptr)) return RC_ERROR;
    colormap[n.number] = v.number;
    return RC_OK;
}

// setsym n, 'text' [,]: graphics symbols from slot n on; a trailing comma marks them as
// symbols of the alternate set.
int c_setsym(const char* args) {
    constexpr int LAST = GRSETSIZ - 1;
    ExprValue n, s;
    if (!numexpr(n, args)) return RC_ERROR;
    if (n.number < 0 || n.number > LAST) {
        eprintf("Symbol #0 to %d expected\r\n", LAST);
        return RC_EXPECTED;
    }
    if (op != ',') return expaberr("Comma"), RC_EXPECTED;
    etoken();
    if (!strexpr(s, nullptr)) return RC_ERROR;
    const int alt = op == ',' ? 256 : 0;
    int slot = n.number;
    for (const char* p = s.text; *p; p++, slot++) {
        if (slot > LAST) {
            eprintf("Symbols past #%d ignored\r\n", LAST);
            break;
        }
        _grset[slot] = static_cast<uint16_t>(static_cast<unsigned char>(*p) + alt);
    }
    return RC_OK;
}

namespace {

// The terminal-mode functions a key can be bound to, and the key setting of each. The session
// functions have no key of the program yet: their bindings are kept here.
int nextsesschar = -1, newsesschar = -1, gotosesschar = -1, discsesschar = -1, resetchar = -1;
const struct {
    const char* name;
    int* key;
} keyfuncs[] = {
    {"menu", &mnuchar},          {"help", &hlpchar},          {"gold", &gldchar},
    {"shell", &shechar},         {"capture", &capchar},       {"print", &prnchar},
    {"cmd", &cmdchar},           {"login", &linchar},         {"logout", &louchar},
    {"break", &brkchar},         {"abort", &abochar},         {"compose", &cpschar},
    {"reset", &resetchar},       {"nextsess", &nextsesschar}, {"newsess", &newsesschar},
    {"gotosess", &gotosesschar}, {"discsess", &discsesschar}, {"scrright", &scrchar},
    {"scrleft", &sclchar},       {"scanmode", &scachar},      {"scrlineup", &sluchar},
    {"scrlinedn", &sldchar},     {"scrpageup", &spuchar},     {"scrpagedn", &spdchar},
};

void unbind(int key) {
    for (const auto& f : keyfuncs)
        if (*f.key == key) *f.key = -1;
}

} // namespace

// setkey key, 'macro' | function
int c_setkey(const char* args) {
    int key;
    const char* p = setch2(args, "Key designator", &key);
    if (!p) return RC_EXPECTED;
    p = skipblanks(p);
    if (*p == ',') p = skipblanks(p + 1);
    if (key < 0 || key >= NKEYS) return expaberr("Key designator"), RC_EXPECTED;
    if (*p == '\'' || *p == '"') {
        char text[LINEMAX + 1];
        const char* q = p + 1;
        if (scanstr(q, *p, text, sizeof text) < 0) return expaberr("Key expansion value");
        unbind(key);
        return defkey(key, text, 0) < 0 ? RC_ERROR : RC_OK;
    }
    const char* w = word(p, nullptr);
    for (const auto& f : keyfuncs) {
        if (!cmatch(w, f.name)) continue;
        defkey(key, "", 0);
        unbind(key);
        *f.key = key;
        return RC_OK;
    }
    std::string list = "\"macro value\", ";
    for (size_t i = 0; i < std::size(keyfuncs); i++) {
        if (i) list += i + 1 == std::size(keyfuncs) ? " or " : ", ";
        list += keyfuncs[i].name;
    }
    eprintf("%s expected\r\n", list.c_str());
    return RC_EXPECTED;
}

namespace {

// A translate or ignore string: escapes of the lexer, and ranges such as a-z. A "-" first or
// last is itself; a reversed range is refused.
bool expand(const char*& p, const char* label, std::string& out) {
    p = skipblanks(p);
    char raw[LINEMAX + 1];
    if (*p != '\'' && *p != '"') return expaberr(label), false;
    const char quote = *p++;
    const int n = scanstr(p, quote, raw, sizeof raw);
    if (n < 0) return expaberr(label), false;
    out.clear();
    for (int i = 0; i < n; i++) {
        if (i + 2 < n && raw[i + 1] == '-') {
            auto a = static_cast<unsigned char>(raw[i]), b = static_cast<unsigned char>(raw[i + 2]);
            if (b < a) return expaberr(label), false;
            for (int c = a; c <= b; c++)
                out += static_cast<char>(c);
            i += 2;
            continue;
        }
        out += raw[i];
    }
    return true;
}

} // namespace

// The loop of trans and ignore: a word of `where`, then what `step` takes after it (moving
// `p` past it), until the line ends.
template <class F> int wordloop(const char* args, const char* const* where, F step) {
    for (const char* p = args;;) {
        const char* rest;
        const int w = toklist(p, &rest, where);
        if (w == -2) return RC_OK;
        if (w < 0) return tokexpect(where), RC_EXPECTED;
        p = rest;
        if (const int rc = step(w, p); rc != RC_OK) return rc;
    }
}

// trans {input | output | display} source dest ... | reset
int c_trans(const char* args) {
    static const char* const where[] = {"input", "output", "display", "reset", nullptr};
    return wordloop(args, where, [](int w, const char*& p) -> int {
        if (w == 3) return cleartrans(), RC_OK;
        std::string from, to;
        if (!expand(p, "Translate source string", from)) return RC_EXPECTED;
        if (!expand(p, "Translate destination string", to)) return RC_EXPECTED;
        if (from.size() != to.size()) return aberr("Equal length translate strings\r\n");
        unsigned char* tab = mktrtab(w == 0 ? 1 : w == 1 ? 0 : 2);
        for (size_t i = 0; i < from.size(); i++)
            tab[static_cast<unsigned char>(from[i])] = static_cast<unsigned char>(to[i]);
        if (w != 2) amode = 1;
        return RC_OK;
    });
}

// ignore {input | output} string ... | reset
int c_ignore(const char* args) {
    static const char* const where[] = {"input", "output", "reset", nullptr};
    return wordloop(args, where, [](int w, const char*& p) -> int {
        if (w == 2) {
            memset(inigtab, 0, sizeof inigtab);
            memset(ouigtab, 0, sizeof ouigtab);
            return RC_OK;
        }
        std::string bytes;
        if (!expand(p, "Ignore string", bytes)) return RC_EXPECTED;
        for (unsigned char c : bytes)
            (w == 0 ? inigtab : ouigtab)[c] = 1;
        amode = 1;
        return RC_OK;
    });
}

// protocol word...: translation mode, line handshake, carrier and quiet, or a transfer protocol.
int c_protocol(const char* args) {
    static const char* const words[] = {"ascii", "binary", "dcd", "quiet", "xon",
                                        "etx",   "none",   "rts", nullptr};
    static const char* const onoff[] = {"off", "on", nullptr};
    const char* p = skipblanks(args);
    if (!*p) {
        if (!flevel) dispprot();
        return RC_OK;
    }
    for (;;) {
        const char* rest;
        const char* w = word(p, &rest);
        if (!*w) return RC_OK;
        int i = -1;
        for (int k = 0; words[k]; k++)
            if (cmatch(w, words[k])) i = k;
        if (i < 0) {
            const int v = selvalue(xprotlist, w);
            if (v < 0) return tokexpect(words), RC_EXPECTED;
            errprot = v;
        } else if (i <= 1) {
            amode = i;
        } else if (i <= 3) {
            const int on = toklist(rest, nullptr, onoff);
            if (on < 0) return tokexpect(onoff), RC_EXPECTED;
            (i == 2 ? dcdchk : quiet) = on;
            return RC_OK;
        } else {
            static const int hand[] = {1, 2, 0, 3};
            setprot(hand[i - 4]);
        }
        p = rest;
    }
}

// The status page: the `set` options, the current configuration and the command keys.
int c_status(const char*) {
    auto opt = [](const char* name) {
        const Setting* s = findsetting(name, true);
        return s && settingvalue(*s) ? "ON " : "OFF";
    };
    const char* parname = selname(parlist, parity);
    const char* capmode = castat == 2 ? "ON" : castat ? "OFF" : "CLOSED";
    zzprintf("Set Options     Current Configuration                         Keys\r\n");
    zzprintf("-------------   ------------------------------------------    -------------\r\n");
    zzprintf("Control   %s   Remark         %-30s MENU     %kk\r\n", opt("control"),
             remarkstr.c_str(), mnuchar);
    zzprintf("Echo      %s   Node/Number    %-30s HELP     %kk\r\n", opt("echo"), cnumber.c_str(),
             hlpchar);
    zzprintf("Tabex     %s   Baud rate      %-5u%-26sGOLD     %kk\r\n", opt("tabex"),
             static_cast<unsigned>(baud), "", gldchar);
    zzprintf("View      %s   Parity         %-31sSHELL    %kk\r\n", opt("view"), parname, shechar);
    zzprintf("Addeof    %s   Wordlength     %d%-30sCAPTURE  %kk\r\n", opt("addeof"), wdlen, "",
             capchar);
    zzprintf("Toupper   %s   Stopbits       %d%-30sPRINT    %kk\r\n", opt("toupper"), stopbits, "",
             prnchar);
    zzprintf("Dtr       %s   Terminal Mode  %-31sCMD      %kk\r\n", opt("dtr"),
             selname(modelist, dupmode), cmdchar);
    zzprintf("Rts       %s   Emulation      %-31sBREAK    %kk\r\n", opt("rts"),
             selname(termlist, emode), brkchar);
    zzprintf("Ddtr      %s   Xfer Protocol  %-31sABORT    %kk\r\n", opt("ddtr"),
             selname(xprotlist, errprot), abochar);
    zzprintf("Abort     %s   Capture Mode   %-31sCOMPOSE  %kk\r\n", opt("abort"), capmode, cpschar);
    zzprintf("Error     %s   Capture File   %-30s\r\n", opt("error"), captfname.c_str());
    zzprintf("Log       %s   Auto Login     %s\r\n", opt("log"), loginstr.empty() ? "OFF" : "ON");
    zzprintf("Maskpar   %s   Auto Logout    %s\r\n", opt("maskpar"),
             logoutstr.empty() ? "OFF" : "ON");
    zzprintf("Compress  %s   WRU Answerback %-31s", opt("compress"), visible(wrustr).c_str());
    zzprintf("\r\nEsc8bit   %s   Port           %-31s", opt("esc8bit"),
             COM == &nulfunc ? "" : comline.c_str());
    zzprintf("\r\nDestbs    %s   Modem          %-31s", opt("destbs"),
             modemfile.empty() ? "HAYES" : modemfile.c_str());
    zzprintf("\r\nBlockmode %s   Printer File   %-31s\r\n", opt("blockmode"), prfname.c_str());
    return RC_OK;
}

// Their work belongs to parts of the program still to come.
int c_capture(const char*) {
    return notbuilt("CAPTURE");
}
int c_printer(const char*) {
    return notbuilt("PRINTER");
}
int c_config(const char* args) {
    return confcmd(args);
}
int c_learn(const char*) {
    return notbuilt("LEARN");
}
// stand-in until learn mode exists: nothing is recorded.
void lrncom(int) {}
void lrnkey(int) {}
void lrnend() {}
// lsend/usend file: the file goes out line by line or unformatted.
namespace {
int sendfile(const char* args, int linemode) {
    const char* p = skipblanks(args);
    if (!*p) return expaberr("Filename"), RC_EXPECTED;
    const int r = ulsend(p, linemode);
    return r == 2 ? RC_ABORT : r == 3 ? RC_EVENT : r ? RC_ERROR : RC_OK;
}
} // namespace
int c_lsend(const char* args) {
    return sendfile(args, 1);
}
int c_usend(const char* args) {
    return sendfile(args, 0);
}

// set option on|off; set control full.
int c_set(const char* args) {
    static const std::vector<const Setting*> rows = [] {
        std::vector<const Setting*> v;
        for (const Setting& s : settingstable())
            if (s.flags & SF_SET) v.push_back(&s);
        return v;
    }();
    static const std::vector<const char*> opts = [] {
        std::vector<const char*> v;
        for (const Setting* s : rows)
            v.push_back(s->name);
        v.push_back(nullptr);
        return v;
    }();
    const char* rest;
    const int which = toklist(args, &rest, opts.data());
    if (which < 0) {
        tokexpect(opts.data());
        return RC_EXPECTED;
    }
    static const char* const full[] = {"full", nullptr};
    if (!strcmp(rows[which]->name, "control") && toklist(rest, nullptr, full) == 0) {
        // Remote requests may then run any command, a local shell included. The line's own
        // requests can never come here: they are refused before they reach a command.
        cflag = 1, ctlfull = 1;
        return RC_OK;
    }
    return setsetting(*rows[which], rest);
}
