#include "script/settab.h"

#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/lock.h"
#include "ports/modem.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "ports/telnet.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/scrollback.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/var.h"
#include "transfer/xfer.h"
#include "transfer/zmodem.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

namespace {

// National character sets, by the value the VT220 emulation loads.
const SelEntry charsetlist[] = {
    {"american", 0, 0},  {"british", 1, 0},  {"dutch", 2, 0},      {"finnish", 3, 0},
    {"french", 4, 0},    {"canadian", 5, 0}, {"german", 6, 0},     {"italian", 7, 0},
    {"norwegian", 8, 0}, {"danish", 8, 0},   {"portuguese", 9, 0}, {"spanish", 10, 0},
    {"swedish", 11, 0},  {"swiss", 12, 0},   {"", 0, 0},
};

// Character sets of the line for the emulations that read bytes.
const SelEntry linecslist[] = {{"8BIT", 0, '8'}, {"UTF8", 1, 'U'}, {"", 0, 0}};

// Row builders: each reads the variable's power-on value as the row's default.
Setting flag(const char* name, int* v, int32_t bit, const char* help,
             int (*apply)(long) = nullptr) {
    return {name,    ST_FLAG, SF_SET, v,       nullptr, nullptr, 0,       1,
            nullptr, nullptr, apply,  nullptr, bit,     *v,      nullptr, help};
}
Setting count(const char* name, int* v, const char* label, const char* help) {
    return {name,  ST_COUNT, 0,       v,       nullptr, nullptr, 0,       INT_MAX,
            label, nullptr,  nullptr, nullptr, 0,       *v,      nullptr, help};
}
Setting lcount(const char* name, long* v, const char* label, const char* help) {
    return {name,  ST_COUNT, 0,       nullptr, v, nullptr, 0,       INT_MAX,
            label, nullptr,  nullptr, nullptr, 0, *v,      nullptr, help};
}
Setting number(const char* name, int* v, long lo, long hi, const char* label, const char* help,
               int (*apply)(long) = nullptr, const char* sysvar = nullptr, uint8_t flags = 0) {
    return {name,  ST_NUMBER, flags, v,      nullptr, nullptr, lo,      hi,
            label, nullptr,   apply, sysvar, 0,       *v,      nullptr, help};
}
// A number only a system variable sets.
Setting sysnum(const char* sysvar, int* v, long lo, long hi, const char* help,
               int (*apply)(long) = nullptr) {
    return number(sysvar + 1, v, lo, hi, nullptr, help, apply, sysvar, SF_NOCMD);
}
Setting chr(const char* name, int* v, const char* label, const char* help) {
    return {name,  ST_CHAR, 0,       v,       nullptr, nullptr, -1,      255,
            label, nullptr, nullptr, nullptr, 0,       *v,      nullptr, help};
}
Setting text(const char* name, TextRef v, const char* label, const char* sdef, const char* help,
             uint8_t flags = 0, const char* sysvar = nullptr) {
    return {name,  ST_TEXT, flags,   nullptr, nullptr, v, 0,    0,
            label, nullptr, nullptr, sysvar,  0,       0, sdef, help};
}
Setting choice(const char* name, int* v, const SelEntry* words, const char* help,
               int (*apply)(long) = nullptr) {
    return {name,    ST_WORD, 0,     v,       nullptr, nullptr, 0,       0,
            nullptr, words,   apply, nullptr, 0,       *v,      nullptr, help};
}

int okor(int r) {
    return r < 0 ? -1 : 0;
}

// clang-format off
const std::vector<Setting> rows = {
    // The options of `set`, in the order its "expected" list names them.
    flag("abort", &canabort, 0x4, "The abort key stops waits, pauses, reads and listings"),
    flag("addeof", &addeof, 0x8, "A ^Z ends received files written in the translated mode"),
    flag("bsdel", &vbsdel, 0x8000000, "The backspace key sends DEL in the VT220 emulations"),
    flag("compress", &compon, 0x10, "Compression in native and ZMODEM transfers"),
    flag("control", &cflag, 0x20, "Remote command mode: the line may start transfers",
         [](long on) { cflag = static_cast<int>(on), ctlfull = 0; return 0; }),
    flag("destbs", &vdestbs, 0x40, "Backspace erases in the TTY and VT100 emulations"),
    flag("ddtr", &ddtr, 0x80, "Hanging up drops DTR"),
    {"dtr", ST_FLAG, SF_SET | SF_NOSAVE, &dtr, nullptr, nullptr, 0, 1, nullptr, nullptr,
     [](long on) { return okor(setdtr(static_cast<int>(on))); }, nullptr, 0, dtr, nullptr,
     "Sets the DTR signal of the line now"},
    flag("echo", &echoflag, 0x100, "Script lines are shown as they run"),
    flag("error", &canerror, 0x200, "An error ends the running command file"),
    flag("maskpar", &maskpar, 0x2, "Received characters lose their parity bit",
         [](long on) { setmaskpar(static_cast<int>(on)); return 0; }),
    flag("noscroll", &noscroll, 0x400, "A line feed on the last row goes to the top row"),
    flag("tabex", &vtabex, 0x800, "Tabs are expanded into spaces on the display"),
    flag("toupper", &upflag, 0x1000, "File names of native transfers in upper case"),
    flag("rts", &rts, 0, "The RTS signal of the line",
         [](long on) { rts = static_cast<int>(on); return okor(setstat()); }),
    flag("view", &viewflag, 0x2000, "Show what xmit, line sending and dialling send"),
    flag("revdim", &revdim, 0x4000, "Dim text is shown reversed"),
    flag("log", &logflag, 0x8000, "The log file is written"),
    flag("xferstat", &statflag, 0x10000, "Transfer statistics are shown"),
    flag("exitdtr", &exitdtr, 0x20000, "DTR stays up when the line is closed"),
    flag("eofopen", &preoflag, 0x40000, "Lines are not re-opened before dialling"),
    flag("consxon", &cfloflag, 0x80000, "XON/XOFF stays on at the console"),
    flag("kermecho", &kermecho, 0x100000, "Kermit echoes its packets"),
    flag("altchk", &altchk, 0x200000, "Kermit uses the alternative check type"),
    flag("escctl", &escctl, 0x400000, "ZMODEM escapes every control character"),
    flag("esc8bit", &esc8bit, 0x800000, "Transfers escape 8-bit bytes for a 7-bit line"),
    flag("zmauto", &zmauto, 0, "A ZMODEM sender on the line starts a receive"),
    flag("zmshell", &zmshell, 0, "A ZMODEM peer's allowed commands may run a shell"),
    flag("wrap", &vtwrap, 0x1000000, "Automatic margins in the emulators"),
    flag("blockmode", &sblockmode, 0x4000000, "TeleVideo emulations start in block mode"),
    flag("exitdisc", &exitdisc, 0x10000000, "The program ends when the line disconnects"),

    // Setting commands.
    {"addcr", ST_FLAG, 0, &addcr, nullptr, nullptr, 0, 1, nullptr, nullptr,
     [](long on) { addcr = static_cast<int>(on), amode = 1; return 0; }, nullptr, 0, addcr,
     nullptr, "A carriage return goes before each line feed sent"},
    {"addlf", ST_FLAG, 0, &addlf, nullptr, nullptr, 0, 1, nullptr, nullptr,
     [](long on) { addlf = static_cast<int>(on), amode = 1; return 0; }, nullptr, 0, addlf,
     nullptr, "A line feed goes after each carriage return sent"},
    count("cdelay", &cdelay, "Char delay", "Delay after each character sent"),
    choice("charset", &defcset, charsetlist, "Default national character set",
           [](long v) {
               defcset = static_cast<int>(v);
               if (nrcsmode) vics200(defcset); // national replacement mode takes it at once
               return 0;
           }),
    text("dansoff", &ansoff, "Dialer answer off", "ATS0=0\r", "Modem string: auto-answer off"),
    text("dautoans", &autoans, "Dialer autoanswer", "ATS0=1\r", "Modem string: auto-answer on"),
    text("dconnect", &dconnect, "Dialer connect reply", "CONNECT", "Modem reply on connection"),
    text("descape", &estr, "Dialer escape", "+++", "Modem string: escape to command state"),
    text("devprefix", &devprefix, "Net device prefix", nullptr, "Node prefix of device paths"),
    text("dhangup", &hstr, "Dialer hangup", "ATHZ\r\r", "Modem string: hang up"),
    text("dinit", &istr, "Dialer init", "ATV1E0M1Q0S7=60\r", "Modem string: initialisation"),
    text("doffhook", &offhook, "Dialer offhook", "ATA\r", "Modem string: answer a call"),
    text("dokstr", &okstr, "Dialer ok string", "OK\r\n", "Modem reply: OK"),
    text("dprefix", &dprefix, "Dialer prefix", "ATDT", "Modem string before the number"),
    text("dringstr", &ringstr, "Dialer ring string", "RING\r\n", "Modem reply: ring"),
    text("dsuffix", &dsuffix, "Dialer suffix", "\r", "Modem string after the number"),
    count("dtimeout", &dtimout, "Dialer timeout", "Seconds to wait for a connection"),
    text("editor", &editor, "Editor pathname", nullptr, "Editor of vi and edit", SF_WORDARG),
    choice("emulate", &emode, termlist, "Terminal emulation",
           [](long v) {
               emode = static_cast<int>(v);
               if (!insysfile) emulate(emode, 1);
               return 0;
           }),
    chr("fillchar", &fillchar, "New fill char", "Fill character"),
    text("flags", &vornflags, "VORN flags", nullptr, "The program's flag string"),
    count("hiwait", &hiwait, "XON high ring count", "Ring level that sends XON"),
    count("htime", &htime, "Handshake timeout", "Seconds of transfer handshake"),
    count("itime", &itime, "Idle timeout", "Idle time-out of line sending, 0 none"),
    chr("lchar", &lchar, "New line protocol char", "End-of-line character of line sending"),
    count("lchrdy", &lchrdy, "Char ready counter", "Character-ready counter of the port layer"),
    count("ldelay", &ldelay, "Line delay", "Delay after each line sent"),
    choice("linecs", &linecs, linecslist, "Character set of the line: UTF8 or 8BIT",
           [](long v) {
               setlinecs(static_cast<int>(v));
               return 0;
           }),
    text("lockfile", &lockpre, "Lockfile format", "/var/lock/LCK..%s", "Lock-file name pattern",
         0, "_lockfile"),
    lcount("locktime", &locktime, "Lockfile timeout", "Seconds after which a lock is stale"),
    text("login", &loginstr, "LOGIN string", nullptr, "Login dialog"),
    text("logout", &logoutstr, "LOGOUT string", nullptr, "Logout dialog"),
    count("lowait", &lowait, "XOFF low ring count", "Ring level that sends XOFF"),
    choice("mode", &dupmode, modelist, "Duplex mode",
           [](long v) {
               if (!fflag) dupmode = static_cast<int>(v);
               return 0;
           }),
    text("modem", &modemfile, "Filename or hayes", nullptr,
         "Modem command file, or hayes for the built-in modem handling", SF_WORDARG),
    text("netdialog", &netdialog, "Net VT dialog", nullptr, "Network dialog string"),
    text("netname", &netname, "Net nodename", nullptr, "Network node name"),
    count("netport", &netport, "Net portnumber", "Network port, -1 for the service's own"),
    text("netvtname", &netvtname, "Net VT hostname", nullptr, "Network VT host name"),
    number("pages", &npages, 1, 6, "# RAM Pages 1-6", "Number of screen pages",
           [](long v) {
               npages = static_cast<int>(v);
               if (!insysfile) crpages(npages);
               return 0;
           }),
    choice("parity", &parity, parlist, "Line parity",
           [](long v) { return okor(setparity(static_cast<int>(v))); }),
    text("partopen", &partopen, "Partial open port prefix", nullptr,
         "Device paths opened blocking"),
    text("portlist", &portlist, "VORN port list", nullptr, "The ports to try"),
    count("redial", &dredial, "Redial count", "Redialling passes over the numbers"),
    text("remark", &remarkstr, nullptr, nullptr, "Remark of the configuration", SF_RAW),
    count("restart", &restart, "Transfer restart count", "Automatic re-transfers"),
    count("retries", &retries, "Packet retry count", "Retransmissions before giving up"),
    count("rtime", &rtime, "Receive packet timeout", "Seconds a receiver waits"),
    number("scrollback", &vscrollback, 0, INT_MAX, "Scrollback size", "Rows of scrollback",
           [](long v) {
               // the scrollback bounds the rows it keeps
               if (insysfile) vscrollback = static_cast<int>(std::min<long>(v, INT_MAX));
               else setscrollback(static_cast<int>(std::min<long>(v, INT_MAX)));
               return 0;
           }),
    text("sshpath", &sshpath, "Ssh pathname", "/usr/local/bin/ssh", "The ssh program", SF_WORDARG),
    text("startserver", &startstr, "Start server string", nullptr, "Server start dialog"),
    count("stime", &stim, "Send packet timeout", "Seconds a sender waits"),
    number("stopbits", &stopbits, -1, 2, nullptr, "Stop bits",
           [](long v) { return okor(setstbits(static_cast<int>(v))); }),
    text("stopserver", &stopstr, "Stop server string", nullptr, "Server stop dialog"),
    count("tdelay", &tdelay, "Tab delay", "Delay after each tab sent"),
    number("udkallow", &udkallow, 0, 1, "Key definitions 0 or 1",
           "Whether the host may program the user-defined keys"),
    count("wildsize", &wbufsiz, "Wildcard buffer size", "Bytes of the wildcard buffer"),
    number("wordlen", &wdlen, -1, 8, nullptr, "Character size",
           [](long v) { return okor(setwdlen(static_cast<int>(v))); }),
    text("wru", wrustr, "WRU answerback", nullptr, "Answer-back string"),
    chr("wruchar", &wruchar, "New WRU char", "Who-are-you character"),
    choice("xprot", &errprot, xprotlist, "Transfer protocol"),

    // Settings set together by one command (xonxoff), or only through a system variable.
    {"xonchar", ST_CHAR, SF_NOCMD, &xonchar, nullptr, nullptr, 0, 255, nullptr, nullptr, nullptr,
     nullptr, 0, xonchar, nullptr, "XON character of the line protocol"},
    {"xoffchar", ST_CHAR, SF_NOCMD, &xoffchar, nullptr, nullptr, 0, 255, nullptr, nullptr, nullptr,
     nullptr, 0, xoffchar, nullptr, "XOFF character of the line protocol"},
    sysnum("_obufsiz", &obufsiz, INT_MIN, 512, "Console output buffer size"),
    sysnum("_escloop", &escloop, INT_MIN, INT_MAX, "Polls for the byte after an ESC"),
    sysnum("_txwindow", &txwindow, INT_MIN, INT_MAX, "ZMODEM transmit window"),
    sysnum("_txblksiz", &txblksiz, INT_MIN, INT_MAX, "ZMODEM transmit block size"),
    sysnum("_debug", &vtdebug, INT_MIN, INT_MAX, "Debug level"),
    sysnum("_vmin", &vmin, INT_MIN, INT_MAX, "Serial read minimum count",
           [](long v) { vmin = static_cast<int>(v); return okor(setstat()); }),
    sysnum("_vtime", &vtime, INT_MIN, INT_MAX, "Serial read timer, tenths of a second",
           [](long v) { vtime = static_cast<int>(v); return okor(setstat()); }),
    sysnum("_rcvsync", &rcvsync, INT_MIN, INT_MAX, "Receive synchronisation option"),
};
// clang-format on

long current(const Setting& s) {
    return s.ip ? *s.ip : s.lp ? *s.lp : 0;
}

void store(const Setting& s, long v) {
    if (s.ip) *s.ip = static_cast<int>(v);
    if (s.lp) *s.lp = v;
}

const char* skipblanks(const char* p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

} // namespace

void TextRef::put(const std::string& t) const {
    if (str) {
        setstr(*str, t.c_str());
    } else if (buf && size) {
        const size_t n = std::min(t.size(), size - 1);
        memcpy(buf, t.data(), n);
        buf[n] = 0;
    }
}

std::span<const Setting> settingstable() {
    return {rows.data(), rows.size()};
}

const Setting* findsetting(const char* name, bool setopt) {
    for (const Setting& s : rows) {
        if (((s.flags & SF_SET) != 0) != setopt || (s.flags & SF_NOCMD)) continue;
        if (!strcmp(s.name, name)) return &s;
    }
    return nullptr;
}

long settingvalue(const Setting& s) {
    return current(s);
}

std::string settingtext(const Setting& s) {
    switch (s.type) {
    case ST_TEXT:
        return s.sp.get();
    case ST_FLAG:
        return current(s) ? "on" : "off";
    case ST_CHAR:
        return current(s) < 0 ? std::string("none") : std::string(1, static_cast<char>(current(s)));
    case ST_WORD:
        for (const SelEntry* e = s.words; e->name[0]; e++)
            if (e->value == current(s)) return e->name;
        return "?";
    default:
        return std::to_string(current(s));
    }
}

int putsetting(const Setting& s, long v) {
    if (s.type == ST_NUMBER && !s.apply && (v < s.lo || v > s.hi)) v = v < s.lo ? s.lo : s.hi;
    if (s.apply) return s.apply(v);
    store(s, v);
    return 0;
}

int setsetting(const Setting& s, const char* args) {
    args = skipblanks(args ? args : "");
    switch (s.type) {
    case ST_FLAG: {
        static const char* const onoff[] = {"off", "on", nullptr};
        int on = toklist(args, nullptr, onoff);
        if (on < 0) return tokexpect(onoff), RC_EXPECTED;
        return putsetting(s, on) < 0 ? RC_ERROR : RC_OK;
    }
    case ST_COUNT: {
        // Digits only; a value past what an int holds stays at the largest.
        const char* w = word(args, nullptr);
        if (!isdigit(static_cast<unsigned char>(*w))) return expaberr(s.label), RC_EXPECTED;
        long v = 0;
        for (const char* p = w; *p; p++) {
            if (!isdigit(static_cast<unsigned char>(*p))) return expaberr(s.label), RC_EXPECTED;
            v = v * 10 + (*p - '0');
            if (v > s.hi) v = s.hi;
        }
        return putsetting(s, v) < 0 ? RC_ERROR : RC_OK;
    }
    case ST_NUMBER: {
        long v = -1; // a missing argument: the row's own check reports it
        if (*args) {
            ExprValue e;
            if (!numexpr(e, args)) return RC_ERROR;
            v = e.number;
        }
        if (!s.apply || s.label) {
            if (v < s.lo || v > s.hi) return expaberr(s.label ? s.label : s.name), RC_EXPECTED;
        }
        return putsetting(s, v) < 0 ? RC_ERROR : RC_OK;
    }
    case ST_CHAR: {
        int c;
        if (!setch2(args, s.label, &c)) return RC_EXPECTED;
        // A function key is no byte: the line, a file or a configuration cannot carry it.
        if (c > s.hi) return expaberr(s.label ? s.label : s.name), RC_EXPECTED;
        return putsetting(s, c) < 0 ? RC_ERROR : RC_OK;
    }
    case ST_WORD: {
        const char* w = word(args, nullptr);
        int v = selvalue(s.words, w);
        if (v < 0) return selexpect(s.words), RC_EXPECTED;
        return putsetting(s, v) < 0 ? RC_ERROR : RC_OK;
    }
    case ST_TEXT: {
        if (s.flags & SF_RAW) {
            std::string t = args;
            while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
                t.pop_back();
            s.sp.put(t);
            return RC_OK;
        }
        if (s.flags & SF_WORDARG) {
            const char* w = word(args, nullptr);
            if (!*w) return expaberr(s.label), RC_EXPECTED;
            s.sp.put(w);
            return RC_OK;
        }
        ExprValue e;
        if (!strexpr(e, args)) {
            if (s.label) expaberr(s.label);
            return RC_ERROR;
        }
        s.sp.put(e.text);
        return RC_OK;
    }
    }
    return RC_ERROR;
}

int setcmd(const char* name, const char* args) {
    const Setting* s = findsetting(name, false);
    return s ? setsetting(*s, args) : RC_ERROR;
}

void settingsdefaults() {
    for (const Setting& s : rows) {
        if (s.type == ST_TEXT) {
            s.sp.put(s.sdef ? s.sdef : "");
        } else {
            store(s, s.def);
        }
    }
    ctlfull = 0;
}
