// Setting commands: line, modem, screen, keyboard and transfer settings, and `set`.
#include "script/cmds.h"

#include "core/fmt.h"
#include "core/start.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "ports/settings.h"
#include "screen/scrollback.h"
#include "script/cmd.h"
#include "script/expr.h"

#include <cstdio>

// stand-in until setting commands exist
int c_addcr(const char*) {
    return notbuilt("ADDCR");
}
// stand-in until setting commands exist
int c_addlf(const char*) {
    return notbuilt("ADDLF");
}
// stand-in until setting commands exist
int c_baud(const char*) {
    return notbuilt("BAUD");
}
// stand-in until setting commands exist
int c_break(const char*) {
    return notbuilt("BREAK");
}
// stand-in until setting commands exist
int c_capture(const char*) {
    return notbuilt("CAPTURE");
}
// stand-in until setting commands exist
int c_cdelay(const char*) {
    return notbuilt("CDELAY");
}
// stand-in until setting commands exist
int c_charset(const char*) {
    return notbuilt("CHARSET");
}
// stand-in until setting commands exist
int c_config(const char*) {
    return notbuilt("CONFIG");
}
// stand-in until setting commands exist
int c_dansoff(const char*) {
    return notbuilt("DANSOFF");
}
// stand-in until setting commands exist
int c_dautoans(const char*) {
    return notbuilt("DAUTOANS");
}
// stand-in until setting commands exist
int c_dconnect(const char*) {
    return notbuilt("DCONNECT");
}
// stand-in until setting commands exist
int c_descape(const char*) {
    return notbuilt("DESCAPE");
}
// stand-in until setting commands exist
int c_devprefix(const char*) {
    return notbuilt("DEVPREFIX");
}
// stand-in until setting commands exist
int c_dhangup(const char*) {
    return notbuilt("DHANGUP");
}
// stand-in until setting commands exist
int c_dinit(const char*) {
    return notbuilt("DINIT");
}
// stand-in until setting commands exist
int c_doffhook(const char*) {
    return notbuilt("DOFFHOOK");
}
// stand-in until setting commands exist
int c_dokstr(const char*) {
    return notbuilt("DOKSTR");
}
// stand-in until setting commands exist
int c_dprefix(const char*) {
    return notbuilt("DPREFIX");
}
// stand-in until setting commands exist
int c_dringstr(const char*) {
    return notbuilt("DRINGSTR");
}
// stand-in until setting commands exist
int c_dsuffix(const char*) {
    return notbuilt("DSUFFIX");
}
// stand-in until setting commands exist
int c_dtimeout(const char*) {
    return notbuilt("DTIMEOUT");
}
// stand-in until setting commands exist
int c_emulate(const char*) {
    return notbuilt("EMULATE");
}
// stand-in until setting commands exist
int c_fillchar(const char*) {
    return notbuilt("FILLCHAR");
}
// stand-in until setting commands exist
int c_flags(const char*) {
    return notbuilt("FLAGS");
}
// stand-in until setting commands exist
int c_flush(const char*) {
    return notbuilt("FLUSH");
}
// stand-in until setting commands exist
int c_hiwait(const char*) {
    return notbuilt("HIWAIT");
}
// stand-in until setting commands exist
int c_htime(const char*) {
    return notbuilt("HTIME");
}
// stand-in until setting commands exist
int c_ignore(const char*) {
    return notbuilt("IGNORE");
}
// stand-in until setting commands exist
int c_itime(const char*) {
    return notbuilt("ITIME");
}
// stand-in until setting commands exist
int c_lchar(const char*) {
    return notbuilt("LCHAR");
}
// stand-in until setting commands exist
int c_lchrdy(const char*) {
    return notbuilt("LCHRDY");
}
// stand-in until setting commands exist
int c_ldelay(const char*) {
    return notbuilt("LDELAY");
}
// stand-in until setting commands exist
int c_learn(const char*) {
    return notbuilt("LEARN");
}
// stand-in until learn mode exists: nothing is recorded.
void lrncom(int) {}
void lrnkey(int) {}
void lrnend() {}
// stand-in until setting commands exist
int c_lockfile(const char*) {
    return notbuilt("LOCKFILE");
}
// stand-in until setting commands exist
int c_locktime(const char*) {
    return notbuilt("LOCKTIME");
}
// stand-in until setting commands exist
int c_login(const char*) {
    return notbuilt("LOGIN");
}
// stand-in until setting commands exist
int c_logout(const char*) {
    return notbuilt("LOGOUT");
}
// stand-in until setting commands exist
int c_lowait(const char*) {
    return notbuilt("LOWAIT");
}
// stand-in until setting commands exist
int c_lsend(const char*) {
    return notbuilt("LSEND");
}
// stand-in until setting commands exist
int c_mode(const char*) {
    return notbuilt("MODE");
}
// stand-in until setting commands exist
int c_modem(const char*) {
    return notbuilt("MODEM");
}
// stand-in until setting commands exist
int c_netdialog(const char*) {
    return notbuilt("NETDIALOG");
}
// stand-in until setting commands exist
int c_netname(const char*) {
    return notbuilt("NETNAME");
}
// stand-in until setting commands exist
int c_netport(const char*) {
    return notbuilt("NETPORT");
}
// stand-in until setting commands exist
int c_netvtname(const char*) {
    return notbuilt("NETVTNAME");
}
// pages n: screen pages 1..6 (the scrollback's set hook does the work).
int c_pages(const char* args) {
    ExprValue v;
    if (!numexpr(v, args)) return 1;
    if (setpages(v.number)) return aberr("Pages must be 1 to 6\r\n");
    return 0;
}
// stand-in until setting commands exist
int c_parity(const char*) {
    return notbuilt("PARITY");
}
// stand-in until setting commands exist
int c_partopen(const char*) {
    return notbuilt("PARTOPEN");
}
// stand-in until setting commands exist
int c_portlist(const char*) {
    return notbuilt("PORTLIST");
}
// stand-in until setting commands exist
int c_printer(const char*) {
    return notbuilt("PRINTER");
}
// stand-in until setting commands exist
int c_protocol(const char*) {
    return notbuilt("PROTOCOL");
}
// stand-in until setting commands exist
int c_redial(const char*) {
    return notbuilt("REDIAL");
}
// stand-in until setting commands exist
int c_remark(const char*) {
    return notbuilt("REMARK");
}
// scrollback n: rows of scrollback (the scrollback's set hook bounds and creates it).
int c_scrollback(const char* args) {
    ExprValue v;
    if (!numexpr(v, args)) return 1;
    return setscrollback(v.number);
}
// stand-in until setting commands exist
int c_session(const char*) {
    return notbuilt("SESSION");
}
// stand-in until setting commands exist
int c_setcap(const char*) {
    return notbuilt("SETCAP");
}
// stand-in until setting commands exist
int c_setcolor(const char*) {
    return notbuilt("SETCOLOR");
}
// stand-in until setting commands exist
int c_setdelay(const char*) {
    return notbuilt("SETDELAY");
}
// stand-in until setting commands exist
int c_setkey(const char*) {
    return notbuilt("SETKEY");
}
// stand-in until setting commands exist
int c_setsym(const char*) {
    return notbuilt("SETSYM");
}
// stand-in until setting commands exist
int c_sshpath(const char*) {
    return notbuilt("SSHPATH");
}
// stand-in until setting commands exist
int c_startserver(const char*) {
    return notbuilt("STARTSERVER");
}
// stand-in until setting commands exist
int c_status(const char*) {
    return notbuilt("STATUS");
}
// stand-in until setting commands exist
int c_stopbits(const char*) {
    return notbuilt("STOPBITS");
}
// stand-in until setting commands exist
int c_stopserver(const char*) {
    return notbuilt("STOPSERVER");
}
// stand-in until setting commands exist
int c_tdelay(const char*) {
    return notbuilt("TDELAY");
}
// stand-in until setting commands exist
int c_trans(const char*) {
    return notbuilt("TRANS");
}
// stand-in until setting commands exist
int c_usend(const char*) {
    return notbuilt("USEND");
}
// stand-in until setting commands exist
int c_version(const char*) {
    return notbuilt("VERSION");
}
// stand-in until setting commands exist
int c_wildsize(const char*) {
    return notbuilt("WILDSIZE");
}
// stand-in until setting commands exist
int c_wordlen(const char*) {
    return notbuilt("WORDLEN");
}
// stand-in until setting commands exist
int c_wru(const char*) {
    return notbuilt("WRU");
}
// stand-in until setting commands exist
int c_wruchar(const char*) {
    return notbuilt("WRUCHAR");
}
// stand-in until setting commands exist
int c_xonxoff(const char*) {
    return notbuilt("XONXOFF");
}

// set option on|off. The options whose settings are in the program are stored; the others are
// stand-ins until their subsystems exist.
int c_set(const char* args) {
    static const char* const opts[] = {
        "abort",  "addeof",  "bsdel",    "compress",  "control",  "destbs",  "ddtr",     "dtr",
        "echo",   "error",   "maskpar",  "noscroll",  "tabex",    "toupper", "rts",      "view",
        "revdim", "log",     "xferstat", "exitdtr",   "eofopen",  "consxon", "kermecho", "altchk",
        "escctl", "esc8bit", "wrap",     "blockmode", "exitdisc", nullptr};
    static const char* const onoff[] = {"off", "on", nullptr};
    const char* rest;
    int which = toklist(args, &rest, opts);
    if (which < 0) {
        tokexpect(opts);
        return RC_EXPECTED;
    }
    static const char* const full[] = {"full", nullptr};
    if (which == 4 && toklist(rest, nullptr, full) == 0) {
        // Remote requests may then run any command, a local shell included. The line's own
        // requests can never come here: they are refused before they reach a command.
        cflag = 1, ctlfull = 1;
        return RC_OK;
    }
    int on = toklist(rest, nullptr, onoff);
    if (on < 0) {
        tokexpect(onoff);
        return RC_EXPECTED;
    }
    // The options whose settings are in the program, by their place in the list.
    // clang-format off
    static int* const flags[] = {
        &canabort, nullptr,   &vbsdel,   nullptr,  &cflag,    &vdestbs,  nullptr, nullptr,
        &echoflag, &canerror, &maskpar,  &noscroll, &vtabex,  nullptr,   nullptr, &viewflag,
        &revdim,   nullptr,   nullptr,   &exitdtr, &preoflag, &cfloflag, nullptr, nullptr,
        nullptr,   nullptr,   &vtwrap,   &sblockmode, &exitdisc,
    };
    // clang-format on
    static_assert(sizeof flags / sizeof flags[0] + 1 == sizeof opts / sizeof opts[0]);
    int* flag = flags[which];
    switch (which) {
    case 4: // set control: the remote command mode never carries the local-only full mode
        ctlfull = 0;
        break;
    case 10:
        setmaskpar(on);
        return RC_OK;
    case 7:
        return setdtr(on) < 0 ? RC_ERROR : RC_OK;
    case 14:
        rts = on;
        return setstat() < 0 ? RC_ERROR : RC_OK;
    default: {
        if (flag) break;
        char what[32];
        snprintf(what, sizeof what, "SET %s", opts[which]);
        for (char* c = what; *c; c++)
            if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 32);
        return notbuilt(what);
    }
    }
    *flag = on;
    return RC_OK;
}
