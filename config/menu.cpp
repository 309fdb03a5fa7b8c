#include "config/menu.h"

#include "config/conffile.h"
#include "config/help.h"
#include "core/escape.h"
#include "core/fmt.h"
#include "core/os.h"
#include "core/start.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "ports/modem.h"
#include "screen/display.h"
#include "screen/keyboard.h"
#include "screen/vscreen.h"
#include "script/cmd.h"
#include "script/cmds.h"
#include "script/var.h"
#include "script/window.h"
#include "transfer/capture.h"
#include "transfer/xfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <glob.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Actions: 0 and up a submenu, -1 back, -3 terminal mode, -4 and below a handler.
enum : int { A_BACK = -1, A_TERM = -3 };

const char* const mainhelp[] = {"Enter terminal mode",
                                "Show or change current communications settings",
                                "Call a number or connect using a preset configuration",
                                "Transfer files to a remote system",
                                "Receive files or capture data from a remote system",
                                "Hangup and logout",
                                "Execute a script file or command",
                                "Directory, Chdir, Erase, Time, BufferFlush",
                                "Quit and return to operating system"};
const int mainact[] = {A_TERM, 1, 2, 3, 4, 5, 6, 7, 8};
const char* const setuphelp[] = {
    "Show current communications settings", "Change current communications settings",
    "Read and edit configuration", "Save current communications settings"};
const int setupact[] = {-44, -45, -46, -47};
const char* const connhelp[] = {"Connect to Node/Phone Number",
                                "Connect using a configuration file", "Auto-answer modem control"};
const int connact[] = {-21, -22, 17};
const char* const xferhelp[] = {"Error-checked & Data compressed file transfer to remote system",
                                "Error-checked Sliding Windows VornCRC file transfer",
                                "Error-checked VORN V5.0 protocol file transfer",
                                "Error-checked Xmodem-CRC protocol file transfer",
                                "Error-checked Xmodem-NAK protocol file transfer",
                                "Error-checked Ymodem protocol file transfer",
                                "Error-checked Zmodem protocol file transfer",
                                "Error-checked Kermit protocol file transfer",
                                "Non-error-checked file transfer",
                                "Line-by-line file transfer"};
const int xferact[] = {-12, -12, -12, -12, -12, -12, -12, -12, -12, -12};
const char* const gethelp[] = {"Error-checked & Data compressed file receive from remote system",
                               "Error-checked Sliding Windows VornCRC file receive",
                               "Error-checked VORN V5.0 protocol file receive",
                               "Error-checked Xmodem-CRC protocol file receive",
                               "Error-checked Xmodem-NAK protocol file receive",
                               "Error-checked Ymodem batch protocol file receive",
                               "Error-checked Zmodem protocol file receive",
                               "Error-checked Kermit protocol file receive",
                               "Non-error-checked data capture"};
const int getact[] = {-13, -13, -13, -13, -13, -13, -13, -13, 16};
const char* const hanghelp[] = {"Disconnect phone line", "Don't disconnect phone line"};
const int hangact[] = {-15, A_BACK};
const char* const exechelp[] = {"Execute script file", "Execute a single script command",
                                "Run another program"};
const int execact[] = {-16, -20, -19};
const char* const mischelp[] = {
    "Disk file directory",   "Change working directory",
    "Erase a disk file",     "Estimate file transfer times",
    "Start/Stop Learn mode", "Discard characters received but not yet displayed"};
const int miscact[] = {-39, -40, -41, -18, 18, -17};
const char* const quithelp[] = {"Exit VORN program", "Don't exit VORN program"};
const int quitact[] = {-4, A_BACK};
const char* const capthelp[] = {"Open file for data capture", "Close and write capture file",
                                "Turn data capture temporarily on/off"};
const int captact[] = {-14, -14, -14};
const char* const answhelp[] = {"Set modem auto-answer mode", "Force modem off-hook now",
                                "Wait for phone ring", "Reset modem auto-answer mode"};
const int answact[] = {-23, -23, -23, -23};
const char* const learnhelp[] = {"Start Learn mode", "Stop Learn mode"};
const int learnact[] = {-48, -48};

const MenuDef menus[NMENUS] = {
    {"MENU", "Terminal  Setup  Connect  Xfer  Get  Hangup  Execute  Misc  Quit", mainhelp, mainact},
    {"SETUP", "Status  Edit  LoadConfig  WriteConfig", setuphelp, setupact},
    {"CONNECT", "Node/number  Configuration  Answer", connhelp, connact},
    {"XFER", "VornCRC  WVornCRC Vorn5  Modem7  Xmodem  Ymodem  Zmodem  Kermit  Unfmt  Line",
     xferhelp, xferact},
    {"GET", "VornCRC  WVornCRC Vorn5  Modem7  Xmodem  Ymodem  Zmodem  Kermit  DataCapture", gethelp,
     getact},
    {"HANGUP", "Yes  No", hanghelp, hangact},
    {"EXECUTE", "Cmdfile  ScriptCmd  Program", exechelp, execact},
    {"MISC", "Directory  Chdir  Erase  Time  Learnmode  BufferFlush", mischelp, miscact},
    {"QUIT", "Yes  No", quithelp, quitact},
    {},
    {},
    {},
    {},
    {},
    {},
    {},
    {"DATACAPTURE", "File  Close  On/Off", capthelp, captact},
    {"ANSWER", "Auto  Now  Wait  Off", answhelp, answact},
    {"LEARNMODE", "Start  Stop", learnhelp, learnact},
};

constexpr int MAXCHOICES = 12;
int (*keysource)() = chrin;
bool remenu = false;
int inproc = 0;       // a procedure is running
std::string menuname; // title of the menu shown

// The row handlers print on: above the emulation's status line where it has one.
int msgrow() {
    const int em = vemode == 1 ? ovemode : vemode;
    return em == EM_TTY || em == EM_PCTERM ? Lines - 1 : Lines - 2;
}

// The display driver clears from where its cursor is: go there first.
void clreol(int row, int col) {
    _cpos(row, col);
    _vclreol(row, col);
}

void put(const char* s) {
    for (; *s; s++)
        _ttyout(static_cast<unsigned char>(*s));
}

// Both cursors: the console's, for what the menu draws, and the emulator's, for what the
// operations it calls print.
void moveto(int row, int col) {
    vdestline = row, vdestcol = col;
    _cpos(row, col);
}

void frame() {
    clreol(0, 0);
    moveto(3, 0);
    gline(3);
    _cpos(0, 79 - static_cast<int>(menuname.size()));
    put(menuname.c_str());
}

// The choice line as written, with the current choice reversed. Where attribute changes take
// a cell, the line is printed plain after one blank, and the marks go in the cells around the
// word.
void hiprompt(const char* line, const int* starts, const std::string* words, int current) {
    const int lead = SG > 0 ? 1 : 0;
    const int start = starts[current] + lead;
    const int end = start + static_cast<int>(words[current].size());
    clreol(1, 0);
    _cpos(1, 0);
    if (lead) put(" ");
    for (int col = lead; *line; line++, col++) {
        if (col == start && !lead) _vset(A_REVERSE);
        _ttyout(static_cast<unsigned char>(*line));
        if (col + 1 == end && !lead) _vset(0);
    }
    if (lead) {
        put(" ");
        _cpos(1, end);
        _vset(0);
        _cpos(1, start - 1);
        _vset(A_REVERSE);
    }
}

void showhelp(const char* text) {
    clreol(2, 0);
    _cpos(2, 0);
    if (SG > 0) put(" ");
    put(text);
}

// A prompt on rows 1 and 2: the hint, then "prompt:" and the answer. 1 when Esc was pressed.
int prompt(const char* hint, const char* text, std::string& answer) {
    showhelp(hint ? hint : "");
    clreol(1, 0);
    put(text);
    put(":");
    moveto(1, static_cast<int>(strlen(text)) + 1); // where the answer echoes
    oflush();
    char buf[NGETS_MAX + 1] = {};
    if (ngets(buf, NG_ECHO | NG_ESC)) return 1;
    answer = buf;
    while (!answer.empty() && answer.back() == ' ')
        answer.pop_back();
    size_t a = answer.find_first_not_of(' ');
    answer = a == std::string::npos ? "" : answer.substr(a);
    return 0;
}

int menuerr(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string msg = vsfmt(fmt, ap);
    va_end(ap);
    clreol(0, 65);
    _cpos(0, 74);
    put("ERROR");
    clreol(1, 0);
    _cpos(1, 0);
    put(msg.c_str());
    showhelp("[Enter] to continue");
    oflush();
    keysource();
    clreol(0, 65);
    _cpos(0, 79 - static_cast<int>(menuname.size()));
    put(menuname.c_str());
    return -2;
}

// What the menus reach that the program does not do yet says so, and stays in the menu.
int notyet(const char* what) {
    return menuerr("%s is not built yet", what);
}

// Before an operation that prints: its output goes to the message row, and the frame is
// drawn again afterwards.
void tomsgrow() {
    remenu = true;
    clreol(msgrow(), 0);
    moveto(msgrow(), 0);
    oflush();
}

// After an operation that printed: the output stays readable until a key.
void waitkey() {
    moveto(Lines - 1, 0);
    clreol(Lines - 1, 0);
    put("[any key to continue]");
    oflush();
    keysource();
}

// The work area cleared from `row` down.
void clearfrom(int row) {
    remenu = true;
    _cpos(row, 0);
    _vclres(row, 0);
    moveto(row, 0);
}

// The directories a configuration or command file is looked for in, in order, with their
// kinds: the current directory only for command files (they run from there too), never for
// configurations, which connect looks for in the home directory and VORNDIR only.
std::vector<std::pair<std::string, const char*>> searchdirs(bool cwd) {
    std::vector<std::pair<std::string, const char*>> d;
    if (cwd) d.push_back({".", "Cwd "});
    if (const char* h = gethomedir(); h && *h) d.push_back({h, "User"});
    const char* vd = getenv("VORNDIR");
    d.push_back({vd && *vd ? vd : "/usr/vorn", "Sys "});
    return d;
}

// Lists the files matching `pattern` under the two heading lines at row 5, one line each by
// `show`, a page at a time; ^C (or the abort key) at the page prompt or while it lists stops.
void srchdir(const char* pattern, const char* head1, const char* head2, bool cwd,
             void (*show)(const std::string& path, const char* kind)) {
    clearfrom(5);
    zzprintf("%s", head1);
    zzprintf("%s", head2);
    int row = 7, found = 0;
    for (const auto& [dir, kind] : searchdirs(cwd)) {
        glob_t g{};
        std::string literal; // the directory's own name, whatever characters it holds
        for (char c : dir)
            literal += std::string(strchr("*?[\\", c) ? "\\" : "") + c;
        if (glob((literal + "/" + pattern).c_str(), 0, nullptr, &g) == 0) {
            for (size_t k = 0; k < g.gl_pathc; k++) {
                if (row >= Lines - 1) {
                    moveto(Lines - 1, 0);
                    zzprintf("[any key to continue, ^C to stop]");
                    oflush();
                    const int key = keysource();
                    if (key == 3 || key == abochar || key < 0) {
                        globfree(&g);
                        return;
                    }
                    clearfrom(7);
                    row = 7;
                }
                moveto(row++, 0);
                show(g.gl_pathv[k], kind);
                found++;
                if (wchkstop()) {
                    globfree(&g);
                    return;
                }
            }
        }
        globfree(&g);
    }
    if (!found) zzprintf("No files found: %s\r\n", pattern);
}

// The name of a listed file without its directory and extension.
std::string listname(const std::string& path) {
    std::string n = path.substr(path.rfind('/') + 1);
    return n.substr(0, n.rfind('.'));
}

// A listed value as it shows, cut to its column.
std::string col(const std::string& v, size_t width) {
    return visible(v.c_str()).substr(0, width);
}

// A line of a listing, read into a scratch copy so the working copy stays as it is.
void dirline(const std::string& path, const char* kind, bool number) {
    ConfVars v;
    if (!rdconfvars(path.c_str(), v)) {
        zzprintf("%s -- Can't read\r\n", visible(path.c_str()).c_str());
        return;
    }
    const std::string name = col(listname(path), 64);
    if (number)
        zzprintf("%-12s%-5s%-6s%-12s %s\r\n", name.c_str(), kind, col(v[C_BAUD], 5).c_str(),
                 col(v[C_NUMBER], 12).c_str(), col(v[C_REMARK], 39).c_str());
    else
        zzprintf("%-12s%-5s%-6s%s\r\n", name.c_str(), kind, col(v[C_BAUD], 5).c_str(),
                 col(v[C_REMARK], 45).c_str());
}
void dircon(const std::string& path, const char* kind) {
    dirline(path, kind, true);
}
void dircmd(const std::string& path, const char* kind) {
    dirline(path, kind, false);
}

// Asks for a configuration name; an empty answer lists them and asks again. 1 for Esc.
int getconfname(std::string& name, bool create) {
    if (prompt("[Enter] for directory, [Esc] to cancel", "Enter configuration name", name))
        return 1;
    if (!name.empty()) return 0;
    showhelp("[^C to cancel]");
    srchdir("*.con", "Name        Type Baud  Number       Remark\r\n",
            "----------- ---- ----- ------------ ------------------------------------------\r\n",
            false, dircon);
    return prompt(create ? "To create a new configuration, type in a new name" : "",
                  "Enter configuration name", name);
}

// Runs a procedure of the system command file, vorn.cmd in VORNDIR, in the work area; its
// status (0 when it accepted).
int sysproc(const char* proc, const std::string* arg) {
    const char* vd = getenv("VORNDIR");
    std::string target = std::string(vd && *vd ? vd : "/usr/vorn") + "/vorn.cmd@" + proc;
    std::string a = arg ? *arg : "";
    // The path is one argument, whatever blanks it holds.
    char* words[] = {target.data(), a.data(), nullptr};
    clreol(1, 0);
    showhelp(arg ? visible(arg->c_str()).c_str() : "");
    clearfrom(4);
    return cmdfile(arg ? 2 : 1, words, 0);
}

// ls -C on the names the user gave, expanded here and passed as arguments, never through a
// shell.
void listdir(const std::string& pattern) {
    std::vector<std::string> names;
    for (size_t i = 0; i < pattern.size();) {
        size_t j = pattern.find(' ', i);
        if (j != i) names.push_back(pattern.substr(i, j == std::string::npos ? j : j - i));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    std::vector<std::string> args = {"ls", "-C", "--"};
    for (const std::string& n : names) {
        glob_t g{};
        if (glob(n.c_str(), GLOB_NOCHECK, nullptr, &g) == 0)
            for (size_t k = 0; k < g.gl_pathc; k++)
                args.push_back(g.gl_pathv[k]);
        globfree(&g);
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    oflush();
    consnorm();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp("ls", argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid > 0)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    consraw();
}

// ---- handlers ----

int m_flush(int) {
    comflush();
    return -1;
}
int m_hangup(int) {
    tomsgrow();
    hangup(1);
    return -1;
}
int m_answer(int i) {
    static const int modes[] = {1, 2, 0, 3};
    tomsgrow();
    answer(modes[i & 3]);
    return -1;
}
int m_call(int) {
    std::string n;
    if (prompt("Only digits need be entered, use ',' to delay 2 seconds", "Enter Node/Phone number",
               n))
        return -2;
    if (n.empty()) return -1;
    tomsgrow();
    return dialrec(n.c_str(), 3) == 0 ? -3 : -1;
}
int m_config(int) {
    std::string n;
    if (getconfname(n, false)) return -2;
    if (n.empty()) return -1;
    tomsgrow();
    return c_connect(n.c_str()) == 0 ? -3 : -1;
}
int m_cmdfile(int) {
    std::string n;
    const char* const hint = "[Enter] for directory, [Esc] to cancel";
    if (prompt(hint, "Enter script filename", n)) return -2;
    if (n.empty()) {
        showhelp("[^C to cancel]");
        srchdir("*.cmd", "Name        Type Baud  Remark\r\n",
                "----------- ---- ----- ----------------------------------------------\r\n", true,
                dircmd);
        if (prompt("", "Enter script filename", n)) return -2;
    }
    if (n.empty()) return -1;
    tomsgrow();
    const int keep = vsave;
    vsave = 1;
    dofile(n.c_str(), 1);
    vsave = keep;
    return -1;
}
int m_colon(int) {
    std::string n;
    if (prompt(nullptr, "Enter script command", n)) return -2;
    tomsgrow();
    const int keep = vsave;
    vsave = 1;
    gerrno = docmd(n.c_str());
    vsave = keep;
    return -1;
}
int m_run(int) {
    std::string n;
    if (prompt(nullptr, "Enter command line", n)) return -2;
    if (n.empty()) return -1;
    tomsgrow();
    c_run(n.c_str());
    return -1;
}
int m_dir(int) {
    std::string n;
    if (prompt("[Enter] for all files, [Esc] to cancel",
               "Enter directory or file spec, use '*' for multiple files", n))
        return -2;
    clearfrom(4);
    listdir(n);
    waitkey();
    return -1;
}
int m_chdir(int) {
    std::string n;
    if (prompt(nullptr, "Enter new directory", n)) return -2;
    if (n.empty()) return -1;
    if (c_cd(quoted(n).c_str()) != RC_OK) return menuerr("Can't change directory to %s", n.c_str());
    return -1;
}
int m_erase(int) {
    std::string n;
    if (prompt(nullptr, "Enter file to be erased", n)) return -2;
    if (n.empty()) return -1;
    if (n.find('*') != std::string::npos) return menuerr("*'s not allowed in filename");
    tomsgrow();
    c_erase(quoted(n).c_str());
    return -1;
}
int m_time(int) {
    std::string n;
    if (prompt(nullptr, "Enter file spec, use '*' for multiple files", n)) return -2;
    if (n.empty()) return -1;
    clearfrom(4);
    timefile(n.c_str());
    waitkey();
    return -1;
}
// The protocol numbers of the XFER and GET choices, in menu order.
const int menuprot[] = {0, 6, 1, 2, 4, 5, 7, 3};
// The native protocols and ZMODEM name the file at the other end; the others do not.
bool namesremote(int prot) {
    return prot == 0 || prot == 1 || prot == 6 || prot == 7;
}
const char* const desthint = "Type '.' for the current directory, [c] for textfile conversion";

int m_xfer(int i) {
    std::string local, remote;
    if (i >= 8) {
        if (prompt(nullptr, "Filename", local)) return -2;
        if (local.empty()) return -1;
        tomsgrow();
        ulsend(local.c_str(), i == 9);
        return -1;
    }
    errprot = menuprot[i];
    if (!namesremote(errprot)) {
        if (prompt(nullptr, "Filename", local)) return -2;
        if (local.empty()) return -1;
        tomsgrow();
        doxferfile(local.c_str(), nullptr, 1);
        return -1;
    }
    if (prompt(nullptr, "From local file", local)) return -2;
    if (local.empty()) return -1;
    if (prompt(desthint, "To remote file/directory", remote)) return -2;
    if (remote.empty()) return -1;
    tomsgrow();
    doxferfile(local.c_str(), remote.c_str(), 0);
    return -1;
}
int m_get(int i) {
    std::string local, remote;
    errprot = menuprot[i & 7];
    if (!namesremote(errprot)) {
        const bool dir = errprot == 3 || errprot == 5; // batch protocols name a directory
        if (prompt(nullptr, dir ? "To local directory" : "Filename", local)) return -2;
        if (local.empty()) return -1;
        tomsgrow();
        doxferfile(nullptr, local.c_str(), 3);
        return -1;
    }
    if (prompt("Use '*' for multiple files", "From remote file", remote)) return -2;
    if (remote.empty()) return -1;
    if (prompt(desthint, "To local file/directory", local)) return -2;
    if (local.empty()) return -1;
    tomsgrow();
    doxferfile(remote.c_str(), local.c_str(), 2);
    return -1;
}
int m_capt(int i) {
    tomsgrow();
    if (i == 0) {
        std::string n;
        if (prompt(nullptr, "Enter capture file name", n)) return -2;
        if (n.empty()) return -1;
        tomsgrow();
        captfile(n.c_str(), 1);
    } else if (i == 1) {
        wrcapt();
    } else {
        setcapt(castat == 2 ? 1 : 2);
        captstatus(0);
    }
    return -1;
}
int m_learn(int) {
    return notyet("Learn mode");
}
int m_sconfig(int) {
    getconfig(cfg);
    sysproc("statconf", nullptr);
    waitkey();
    return -1;
}
int m_econfig(int) {
    getconfig(cfg);
    if (sysproc("editconf", nullptr) == 0 && setconfig(cfg)) waitkey();
    return -1;
}
// Edits a configuration file through the working copy: found in the home directory or
// VORNDIR (a name with a slash as given), or created in the home directory.
int m_lconfig(int) {
    std::string n;
    if (getconfname(n, true)) return -2;
    if (n.empty()) return -1;
    if (!okfname(n.c_str()) ||
        std::any_of(n.begin(), n.end(), [](char c) { return c > 0 && c < 32; }))
        return menuerr("Illegal character in filename");
    const std::string file = n + ".con";
    std::string path;
    if (file.find('/') != std::string::npos) {
        if (rdconfvars(file.c_str(), cfg)) path = file;
    } else {
        for (const auto& d : searchdirs(false))
            if (rdconfvars((d.first + "/" + file).c_str(), cfg)) {
                path = d.first + "/" + file;
                break;
            }
    }
    if (path.empty()) {
        const std::string ask = visible(file.c_str()) + " not found.  [Enter] to create";
        for (std::string a;;) {
            if (prompt("[Esc] to cancel", ask.c_str(), a)) return -2;
            if (a.empty()) break;
        }
        const char* home = gethomedir();
        path = file.find('/') == std::string::npos && home && *home ? std::string(home) + "/" + file
                                                                    : file;
        newconfig(cfg);
    }
    if (sysproc("editconf", &path) != 0) return -1;
    if (wrconfvars(path.c_str(), cfg) != 0) return menuerr("Error writing configuration file");
    return -1;
}
int m_wconfig(int) {
    std::string n;
    if (prompt("[Esc] to cancel", "Enter configuration name", n)) return -2;
    if (n.empty()) return -1;
    // Saved where connect looks first, so the name alone connects it again.
    const char* home = gethomedir();
    if (n.find('/') == std::string::npos && home && *home) n = std::string(home) + "/" + n;
    n += ".con";
    struct stat st {};
    if (stat(n.c_str(), &st) == 0) {
        std::string yes;
        if (prompt("Y to replace it, anything else to keep it", (n + " exists. Replace").c_str(),
                   yes) ||
            (yes != "y" && yes != "Y"))
            return -2;
    }
    if (wrconfig(n.c_str()) != 0) return menuerr("Error writing current configuration");
    return -1;
}

struct Handler {
    int action;
    int (*fn)(int);
};
const Handler plist[] = {
    {-4, m_quit},     {-12, m_xfer},    {-13, m_get},     {-14, m_capt},    {-15, m_hangup},
    {-16, m_cmdfile}, {-17, m_flush},   {-18, m_time},    {-19, m_run},     {-20, m_colon},
    {-21, m_call},    {-22, m_config},  {-23, m_answer},  {-39, m_dir},     {-40, m_chdir},
    {-41, m_erase},   {-44, m_sconfig}, {-45, m_econfig}, {-46, m_lconfig}, {-47, m_wconfig},
    {-48, m_learn},
};

int domenu(int index) {
    const MenuDef& m = menus[index];
    std::string words[MAXCHOICES];
    int keys[MAXCHOICES], starts[MAXCHOICES], n = 0;
    menuwords(m.choices, words, keys, n, MAXCHOICES, starts);
    int cur = 0;
    const std::string title = m.title;
    bool draw = true;
    for (;;) {
        menuname = title;
        if (draw || remenu) {
            if (remenu) clearfrom(4);
            remenu = false;
            frame();
            draw = false;
        }
        hiprompt(m.choices, starts, words, cur);
        showhelp(m.helps[cur]);
        oflush();
        int k = keysource();
        if (k >= 'a' && k <= 'z') k -= 32;
        int chosen = -1;
        if (k == 13 || k == 294 || k == 315)
            chosen = cur;
        else if (k == ' ' || k == 9 || k == KC_RIGHT)
            cur = (cur + 1) % n;
        else if (k == 8 || k == 127 || k == KC_LEFT || k == 301 || k == 319 || k == 308)
            cur = (cur + n - 1) % n;
        else if (k == KC_UP)
            cur = 0;
        else if (k == KC_DOWN)
            cur = n - 1;
        else if (k == 17 || k == 19)
            continue;
        else if (k == 27 || k < 0)
            return -2;
        else if (k == '?' || k == hlpchar) {
            help(menuhelpkey(title, words[cur]).c_str());
            draw = true;
        } else if (k == shechar) {
            shell(1);
            draw = true;
        } else {
            for (int i = 0; i < n; i++)
                if (keys[i] && keys[i] == k) chosen = i;
            if (chosen < 0) {
                _ttyout(7);
                continue;
            }
        }
        if (chosen < 0) continue;
        cur = chosen;
        const int act = m.actions[cur];
        if (act == A_BACK) return -1;
        if (act == A_TERM) return -3;
        int r;
        if (act >= 0) {
            remenu = true; // a submenu starts on a clear work area
            r = domenu(act);
            draw = true;
        } else {
            hiprompt(m.choices, starts, words, cur);
            r = -2;
            for (const Handler& h : plist)
                if (h.action == act) r = h.fn(cur);
        }
        if (r == -3 || r == -1) return r;
        draw = true;
    }
}

} // namespace

const MenuDef* menudef(int index) {
    if (index < 0 || index >= NMENUS || !menus[index].title) return nullptr;
    return &menus[index];
}

void menuwords(const char* choices, std::string* words, int* keys, int& count, int max,
               int* starts) {
    count = 0;
    for (const char* p = choices; *p && count < max;) {
        while (*p == ' ')
            p++;
        if (!*p) break;
        if (starts) starts[count] = static_cast<int>(p - choices);
        std::string w;
        while (*p && *p != ' ')
            w += *p++;
        int key = 0;
        for (char c : w)
            if (c < 'a' || c > 'z') {
                key = static_cast<unsigned char>(c);
                break;
            }
        for (int i = 0; i < count; i++)
            if (keys[i] == key) key = 0; // the first choice keeps a shared key
        words[count] = w;
        keys[count++] = key;
    }
}

void menukeys(int (*source)()) {
    keysource = source ? source : chrin;
}

int runmenus(int) {
    int r;
    while ((r = domenu(0)) == -1) {
    }
    return r + 1;
}

int startmenu(int argument) {
    // The first view of a plain start: a few lines under the bar on how it works, so a
    // newcomer is not left with an empty screen; the first redraw of the work area clears them.
    static const char* const guide[] = {
        "The bar above is the command menu. Space or the arrow keys move along it;",
        "Enter or the capital letter of a choice opens it; Esc goes back one level.",
        "",
    };
    int row = 5;
    for (const char* line : guide) {
        _cpos(row++, 0);
        put(line);
    }
    _cpos(row++, 0);
    put(sfmt("Terminal (or Esc here) talks to the line; %kk brings the menu back.", mnuchar)
            .c_str());
    _cpos(row, 0);
    put(sfmt("%kk or ? gives help on the highlighted choice.", hlpchar).c_str());
    return runmenus(argument);
}

// The procedure draws on the console, and what the operations it calls print goes through
// the emulator into a blank screen memory; the session's screen memory, line attributes,
// cursor and attribute are kept aside and put back, then redrawn.
int enterproc(int (*procedure)(int), int argument) {
    if (wactive) {
        _ttyout(7);
        oflush();
        return 0;
    }
    if (inproc) return procedure(argument);
    inproc = 1;
    const std::vector<vcell> cells(vbegscr, vendscr);
    uint8_t lattr[MAXROWS];
    memcpy(lattr, vlattr, sizeof lattr);
    const int row = vdestline, col = vdestcol, keepvsave = vsave;
    AttrSave save;
    attroff(save);
    std::fill(vbegscr, vendscr, static_cast<vcell>(' '));
    memset(vlattr, 0, sizeof vlattr);
    vsave = 1;
    _vclear();
    const int r = procedure(argument);
    attron(save);
    if (vendscr - vbegscr == static_cast<long>(cells.size()))
        std::copy(cells.begin(), cells.end(), vbegscr);
    memcpy(vlattr, lattr, sizeof lattr);
    vsave = keepvsave;
    vdestline = row, vdestcol = col;
    _vclear();
    vredraw();
    _cpos(vdestline, vdestcol);
    oflush();
    inproc = 0;
    return r;
}
int m_quit(int) {
    clreol(Lines - 1, 0);
    _cpos(Lines - 2, 0);
    doneterm(0);
}
