// Action commands: connecting, waiting for and sending text, console input and output, files and
// operating-system commands.
#include "script/cmds.h"

#include "config/menu.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/start.h"
#include "core/term.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "ports/service.h"
#include "screen/display.h"
#include "script/cmd.h"
#include "script/expr.h"
#include "script/lex.h"

#include <cstdlib>
#include <string>

// answer wait|auto|now|off
int c_answer(const char* args) {
    const int mode = selvalue(answlist, word(args, nullptr));
    if (mode < 0) return selexpect(answlist), RC_EXPECTED;
    return answer(mode) ? RC_ERROR : RC_OK;
}
// call number[;number...] | service | none
int c_call(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    if (!*args) return expaberr("Number or Service"), RC_EXPECTED;
    const int r = docall(args, 0);
    return r == 2 ? RC_ABORT : r ? RC_ERROR : RC_OK;
}
// stand-in until action commands exist
int c_cd(const char*) {
    return notbuilt("CD");
}
// stand-in until connecting to a configuration exists
// A service or an address is connected through the service directory; configuration files
// wait for the configuration reader.
int c_connect(const char* name) {
    if (servicename(name)) {
        std::string n = name;
        while (!n.empty() && (n.back() == ' ' || n.back() == '\t'))
            n.pop_back();
        size_t a = n.find_first_not_of(" \t");
        return connservice(a == std::string::npos ? "" : n.c_str() + a, 1) == 1 ? 0 : 1;
    }
    zzprintf("Connecting to a configuration is not built yet\r\n");
    return 1;
}
// stand-in until terminal-mode matching exists: nothing ever matches.
int dmatch(int, const char* const*) {
    return 0;
}
// stand-in until action commands exist
int c_copy(const char*) {
    return notbuilt("COPY");
}
// stand-in until action commands exist
int c_cread(const char*) {
    return notbuilt("CREAD");
}
// stand-in until action commands exist
int c_creadint(const char*) {
    return notbuilt("CREADINT");
}
// dialog string-expression
int c_dialog(const char* args) {
    ExprValue v;
    if (!strexpr(v, args)) return RC_ERROR;
    const int r = dialog(v.text);
    return r == 2 ? RC_ABORT : r ? RC_ERROR : RC_OK;
}
// stand-in until action commands exist
int c_dwait(const char*) {
    return notbuilt("DWAIT");
}
// stand-in until action commands exist
int c_edit(const char*) {
    return notbuilt("EDIT");
}
// stand-in until action commands exist
int c_editor(const char*) {
    return notbuilt("EDITOR");
}
// stand-in until action commands exist
int c_erase(const char*) {
    return notbuilt("ERASE");
}
// hangup: the logout dialog, then the line is hung up
int c_hangup(const char*) {
    return hangup(1) ? RC_ERROR : RC_OK;
}
// help [keyword]: the on-line manual at the keyword's topic
int c_help(const char* keyword) {
    return help(keyword) ? RC_ERROR : RC_OK;
}
// stand-in until action commands exist
int c_init(const char*) {
    return notbuilt("INIT");
}
// stand-in until action commands exist
int c_mkdir(const char*) {
    return notbuilt("MKDIR");
}
// stand-in until action commands exist
int c_read(const char*) {
    return notbuilt("READ");
}
// stand-in until action commands exist
int c_readint(const char*) {
    return notbuilt("READINT");
}
// stand-in until action commands exist
int c_readn(const char*) {
    return notbuilt("READN");
}
// stand-in until action commands exist
int c_rename(const char*) {
    return notbuilt("RENAME");
}
// stand-in until action commands exist
int c_rmdir(const char*) {
    return notbuilt("RMDIR");
}
// stand-in until action commands exist
int c_run(const char*) {
    return notbuilt("RUN");
}
// stand-in until action commands exist
int c_runx(const char*) {
    return notbuilt("RUNX");
}
// stand-in until action commands exist
int c_server(const char*) {
    return notbuilt("SERVER");
}
// stand-in until action commands exist
int c_terminal(const char*) {
    return notbuilt("TERMINAL");
}
// stand-in until action commands exist
int c_time(const char*) {
    return notbuilt("TIME");
}
// stand-in until action commands exist
int c_type(const char*) {
    return notbuilt("TYPE");
}
// stand-in until action commands exist
int c_wait(const char*) {
    return notbuilt("WAIT");
}
// stand-in until action commands exist
int c_xmit(const char*) {
    return notbuilt("XMIT");
}

// display expression {, expression} [;]
int c_display(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    if (!*args) {
        outs("\r\n");
        return RC_OK;
    }
    bool first = true;
    for (;;) {
        ExprValue v;
        if (!expr(v, first ? args : nullptr)) return RC_ERROR;
        first = false;
        pval(v);
        if (op == ',') {
            etoken();
            continue;
        }
        if (op == ';') return RC_OK;
        break;
    }
    outs("\r\n");
    return RC_OK;
}

// pause [text]: waits for a key.
int c_pause(const char* args) {
    while (*args == ' ' || *args == '\t')
        args++;
    if (*args == '"' || *args == '\'') {
        char text[LINEMAX + 1];
        const char* p = args + 1;
        if (scanstr(p, *args, text, sizeof text) >= 0)
            outs(text);
        else
            outs(args);
    } else {
        outs(*args ? args : "Strike a key when ready...");
    }
    oflush();
    int k = chrin();
    outs("\r\n");
    return k == abochar && canabort ? RC_ABORT : RC_OK;
}

// quit [code]: ends the program; during a remote ZMODEM session the end waits for the running
// line to finish.
int c_quit(const char* args) {
    const char* w = word(args, nullptr);
    int code = atoi(w);
    if (code < 0) code = 0;
    if (cflag && (errprot == 6 || errprot == 7) && flevel) {
        quitpend = 0;
        return RC_OK;
    }
    doneterm(code);
}
