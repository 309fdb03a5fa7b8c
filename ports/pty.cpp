#include "ports/pty.h"

#include "core/fmt.h"
#include "core/term.h"
#include "emulators/emulate.h"
#include "ports/com.h"
#include "screen/vscreen.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The argument vector lives in one buffer for the life of the program.
char argbuf[PTYARGBUF + 1];
char* argvec[PTYMAXARGS + 1];

struct sigaction oldchld {};
bool chldset = false;

const char* progname() {
    return program_invocation_short_name;
}

// Emulation bit -> terminal type the program is told about. VT100, VT102 and TTY have no row:
// they take the fallback list.
struct TermName {
    int mode;
    const char* name;
};
// clang-format off
constexpr TermName termnames[] = {
    {EM_ADM1, "adm1"},     {EM_TV925, "tvi925"},   {EM_WYSE60, "wyse60"}, {EM_VT52, "vt52"},
    {EM_ANSI, "ansi"},     {EM_TV912, "tvi912"},   {EM_WYSE50, "wyse50"}, {EM_VT2207, "vt220"},
    {EM_VT2208, "vt220"},  {EM_PCTERM, "wyse60"},  {EM_SCOANSI, "ansi"},  {EM_IB3101, "ibm3101"},
    {EM_TV950, "tvi950"},  {EM_XTERM, "xterm-256color"},
};
// clang-format on
constexpr const char* fallback[] = {"vt102", "vt100", "ansi", "dumb"};

// The slave's settings: those a new xterm gives its shell (38400 bits per second, cooked, the
// usual editing and job-control characters, onlcr without tab expansion, echoctl), except that
// the erase character is the byte the emulation's Backspace key sends, so line editing, read
// and password prompts erase instead of taking a literal ^H or DEL.
termios slavesettings() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IMAXBEL | IUTF8;
    t.c_oflag = OPOST | ONLCR | TAB0;
    t.c_cflag = CS8 | CREAD | HUPCL;
    t.c_lflag = ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    // clang-format off
    const std::pair<int, cc_t> chars[] = {
        {VINTR, 3},    {VQUIT, 034},  {VERASE, static_cast<cc_t>(ptyerase(vemode))},
        {VKILL, 025},  {VEOF, 4},     {VSTART, 021}, {VSTOP, 023}, {VSUSP, 032},
        {VREPRINT, 022}, {VWERASE, 027}, {VLNEXT, 026}, {VDISCARD, 017},
        {VMIN, 1},     {VTIME, 0}};
    // clang-format on
    for (auto [i, c] : chars)
        t.c_cc[i] = c;
    return t;
}

// In the child: the write end of a close-on-exec pipe to the parent, which reads it to end of
// file. An exec that works closes it unread; one that fails writes its message there too, so
// the parent can repeat it on standard error when the program ends.
int reportfd = -1;

// In the child: a start-up failure on the program's standard error (the line) and to the parent.
void childfail(const char* fmt, const char* name) {
    char msg[PTYARGBUF + 80];
    int n = std::snprintf(msg, sizeof msg, fmt, progname(), name);
    if (n <= 0) return;
    size_t len = std::min(static_cast<size_t>(n), sizeof msg - 1);
    for (int fd : {2, reportfd})
        if (fd >= 0 && write(fd, msg, len) < 0) continue;
    // The parent waits for end of file; it must not wait out the pause that follows.
    if (reportfd >= 0) close(reportfd);
    reportfd = -1;
}

// In the parent: what the child reported before its exec (nothing when the exec worked).
void readreport(int fd) {
    std::string text;
    char buf[256];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (text.size() < 512) text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    keepmsg(text);
}

void exitmsg(int code) {
    std::fprintf(stderr, "\r\n[PTY Driver Exit: %d]\r\n", code);
}

// Runs in the child: never returns.
[[noreturn]] void runprogram(int slave, const char* term) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    // As any terminal gives its shell: a hang-up of the line ends the program and its jobs.
    for (int sig : {SIGHUP, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGTSTP})
        signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    if (term) setenv("TERM", term, 1);
    char num[16];
    std::snprintf(num, sizeof num, "%d", vcols);
    setenv("COLUMNS", num, 1);
    std::snprintf(num, sizeof num, "%d", vlines);
    setenv("LINES", num, 1);

    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    // Nothing of this program (the console, the line, lock or capture files) leaks into it. The
    // report pipe stays for an exec that fails; it is close-on-exec, so the program never sees it.
    if (reportfd > 3) close_range(3, reportfd - 1, 0);
    close_range(reportfd >= 3 ? reportfd + 1 : 3, ~0U, 0);

    if (argvec[0]) {
        execvp(argvec[0], argvec);
        childfail("%s: Can't execvp %s\n", argvec[0]);
        exitmsg(PTYEXIT_EXEC);
        _exit(PTYEXIT_EXEC);
    }
    const char* shell = std::getenv("SHELL");
    if (!shell || !*shell) {
        const passwd* pw = getpwuid(getuid());
        shell = pw && pw->pw_shell && *pw->pw_shell ? pw->pw_shell : "/bin/sh";
    }
    const char* base = std::strrchr(shell, '/');
    base = base ? base + 1 : shell;
    execl(shell, base, static_cast<char*>(nullptr));
    childfail("%s: Could not exec %s!\n", shell);
    exitmsg(PTYEXIT_EXEC);
    sleep(5); // leave the message on the screen before the line drops
    _exit(PTYEXIT_EXEC);
}

void installchld() {
    if (chldset) return;
    struct sigaction sa {};
    sa.sa_handler = reapchild;
    sigemptyset(&sa.sa_mask);
    // Reads and writes under way when the program ends carry on; select still returns early,
    // which is where the flag is looked at.
    sa.sa_flags = SA_NOCLDSTOP | SA_RESTART;
    sigaction(SIGCHLD, &sa, &oldchld);
    chldset = true;
}

void restorechld() {
    if (!chldset) return;
    sigaction(SIGCHLD, &oldchld, nullptr);
    chldset = false;
}

// The processes of session `sid` that have not ended (zombies are left to their parent).
std::vector<pid_t> sessionpids(pid_t sid) {
    std::vector<pid_t> pids;
    DIR* d = opendir("/proc");
    if (!d) return pids;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end) continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        FILE* f = std::fopen(path, "r");
        if (!f) continue;
        char buf[512];
        size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        buf[n] = 0;
        // pid (comm) state ppid pgrp session: comm may hold anything, so parse from its end.
        const char* p = std::strrchr(buf, ')');
        char state = 0;
        long ppid = 0, pgrp = 0, session = 0;
        if (p && std::sscanf(p + 1, " %c %ld %ld %ld", &state, &ppid, &pgrp, &session) == 4 &&
            session == sid && state != 'Z')
            pids.push_back(static_cast<pid_t>(pid));
    }
    closedir(d);
    return pids;
}

// Hangs the line's session up: SIGHUP (and SIGCONT, for stopped jobs) to the terminal's
// foreground group `fg` (-1 when unknown), the program's group and every process of the session, as
// a terminal does when its line drops. Whatever is left after the grace period is killed, and the
// program is reaped, so nothing started on the line outlives it or is left a zombie.
void hangup(pid_t fg) {
    if (ptysid <= 0) return;
    auto signalall = [&](int sig) {
        if (fg > 0) kill(-fg, sig);
        kill(-ptysid, sig);
        for (pid_t p : sessionpids(ptysid))
            kill(p, sig);
    };
    signalall(SIGHUP);
    signalall(SIGCONT);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int st = 0;
        if (ptypid > 0) {
            pid_t r = waitpid(ptypid, &st, WNOHANG);
            if (r == ptypid || (r < 0 && errno == ECHILD)) {
                if (r == ptypid) ptystatus = st;
                ptypid = -1;
            }
        }
        if (ptypid <= 0 && sessionpids(ptysid).empty()) break;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= 2) {
            signalall(SIGKILL);
            if (ptypid > 0 && waitpid(ptypid, &st, 0) == ptypid) ptystatus = st;
            ptypid = -1;
            break;
        }
        timespec tick{0, 10'000'000};
        nanosleep(&tick, nullptr);
    }
    ptysid = -1;
    ptychld = 0;
}
} // namespace

void reapchild(int) {
    ptychld = 1;
}

int ptysplit(const char* command) {
    std::memset(argbuf, 0, sizeof argbuf);
    for (char*& a : argvec)
        a = nullptr;
    if (!command) return 0;
    std::strncpy(argbuf, command, PTYARGBUF);
    int n = 0;
    char* p = argbuf;
    while (n < PTYMAXARGS) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p) break;
        argvec[n++] = p;
        while (*p && *p != ' ' && *p != '\t')
            p++;
        if (*p) *p++ = '\0';
    }
    return n;
}

char* const* ptyargv() {
    return argvec;
}

bool termexists(const char* name) {
    if (!name || !*name || std::strchr(name, '/') || std::strstr(name, "..")) return false;
    std::string dirs[8];
    int nd = 0;
    if (const char* t = std::getenv("TERMINFO"); t && *t) dirs[nd++] = t;
    if (const char* h = std::getenv("HOME"); h && *h) dirs[nd++] = std::string(h) + "/.terminfo";
    for (const char* d : {"/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo",
                          "/usr/lib/terminfo", "/usr/local/share/terminfo"})
        dirs[nd++] = d;
    std::string extra;
    if (const char* t = std::getenv("TERMINFO_DIRS")) extra = t;
    auto present = [&](const std::string& dir) {
        if (dir.empty()) return false;
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(name[0]));
        struct stat st {};
        for (const std::string& sub : {std::string(1, name[0]), std::string(hex)})
            if (stat((dir + "/" + sub + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                return true;
        return false;
    };
    for (int i = 0; i < nd; i++)
        if (present(dirs[i])) return true;
    size_t pos = 0;
    while (pos <= extra.size() && !extra.empty()) {
        size_t end = extra.find(':', pos);
        if (end == std::string::npos) end = extra.size();
        if (present(extra.substr(pos, end - pos))) return true;
        pos = end + 1;
    }
    return false;
}

const char* ptytermname(int mode) {
    for (const TermName& t : termnames)
        if ((mode & ~1) == t.mode && termexists(t.name)) return t.name;
    for (const char* f : fallback)
        if (termexists(f)) return f;
    return nullptr;
}

int get_pty(int* master, std::string& result) {
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) return 1;
    const char* name = nullptr;
    if (grantpt(fd) < 0 || unlockpt(fd) < 0 || !(name = ptsname(fd))) {
        close(fd);
        return 1;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    result = name;
    *master = fd;
    return 0;
}

int dopty() {
    termios settings = slavesettings();
    const char* term = ptytermname(vemode);
    if (!term) std::fprintf(stderr, "%s:  unable to find usable termcap entry.\n", progname());

    int master = -1;
    std::string slavename;
    if (get_pty(&master, slavename)) {
        std::fprintf(stderr, "%s: no available ptys\n", progname());
        exitmsg(PTYEXIT_NOPTY);
        return -1;
    }
    // The slave is opened here, before the fork, so the master never sees a slave that was not
    // yet opened (which reads as end of file); the child inherits it.
    int slave = open(slavename.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        close(master);
        std::fprintf(stderr, "%s: no available ptys\n", progname());
        exitmsg(PTYEXIT_NOPTY);
        return -1;
    }
    tcsetattr(slave, TCSANOW, &settings);
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(vlines);
    ws.ws_col = static_cast<unsigned short>(vcols);
    ioctl(master, TIOCSWINSZ, &ws);

    ptychld = 0;
    ptystatus = -1;
    installchld();
    std::fflush(nullptr);
    int report[2] = {-1, -1};
    if (pipe2(report, O_CLOEXEC) < 0) report[0] = report[1] = -1;
    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : report)
            if (fd >= 0) close(fd);
        close(slave);
        close(master);
        restorechld();
        std::fprintf(stderr, "%s: Error %d\n", progname(), errno);
        exitmsg(PTYEXIT_EXEC);
        return -1;
    }
    if (pid == 0) {
        close(master);
        if (report[0] >= 0) close(report[0]);
        // Above the descriptors the slave is about to take.
        reportfd = report[1] >= 0 ? fcntl(report[1], F_DUPFD_CLOEXEC, 3) : -1;
        runprogram(slave, term);
    }
    close(slave);
    if (report[1] >= 0) close(report[1]);
    if (report[0] >= 0) readreport(report[0]);
    ptypid = pid;
    ptysid = pid; // the program leads a session of its own
    int fl = fcntl(master, F_GETFL);
    if (fl < 0 || fcntl(master, F_SETFL, fl | O_NONBLOCK) < 0) {
        std::fprintf(stderr, "%s: Error %d\n", progname(), errno);
        pid_t fg = tcgetpgrp(master);
        close(master);
        hangup(fg);
        restorechld();
        exitmsg(PTYEXIT_EXEC);
        return -1;
    }
    return master;
}

int ptysetsize(int rows, int cols) {
    if (ptypid <= 0 || comfd < 0 || COM != &ptyfuncs || rows <= 0 || cols <= 0) return 0;
    winsize ws{};
    if (ioctl(comfd, TIOCGWINSZ, &ws) == 0 && ws.ws_row == rows && ws.ws_col == cols) return 0;
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    return ioctl(comfd, TIOCSWINSZ, &ws) == 0 ? 1 : 0;
}

int ptyvt(const char* command) {
    ptysplit(command);
    consnorm();
    int master = dopty();
    consraw();
    if (master >= 0) {
        comfd = master;
        startcom(COMQSIZE);
        zzprintf("Connected\r\n");
        return 0;
    }
    comexit();
    zzprintf("PTY driver open failure\r\n");
    return -1;
}

int ptypoll() {
    if (ptypid <= 0) return 1;
    if (!ptychld) return 0;
    ptychld = 0;
    int st = 0;
    pid_t r = waitpid(ptypid, &st, WNOHANG);
    if (r != ptypid) return 0;
    ptystatus = st;
    ptypid = -1;
    // Jobs it left behind get the hang-up now; the line ends with the program (see waitread)
    // whatever still holds the slave, and the close kills what ignored the hang-up.
    pid_t fg = comfd >= 0 ? tcgetpgrp(comfd) : -1;
    if (fg > 0) kill(-fg, SIGHUP);
    for (pid_t p : sessionpids(ptysid))
        kill(p, SIGHUP), kill(p, SIGCONT);
    return 1;
}

int ptyexit() {
    // The terminal's foreground group is asked for before the master goes; a program that
    // ignores the hang-up then also meets end of file on its terminal.
    pid_t fg = comfd >= 0 ? tcgetpgrp(comfd) : -1;
    closecom();
    hangup(fg);
    restorechld();
    return 0;
}

int ptyerase(int mode) {
    return ((mode & EM_VT220) && vbsdel) || (mode & ~1) == EM_XTERM ? 0177 : 010;
}

bool ptyended() {
    if (COM != &ptyfuncs || comfd < 0) return false;
    if (ptychld) ptypoll();
    return ptypid <= 0;
}

void Cleanup(int code) {
    ptyexit();
    if (code) exitmsg(code);
    dodisconnect();
}

int ptybrk() {
    if (brkchar >= 0 && brkchar <= 255) return COM->out(brkchar);
    return 0;
}

void ptyreset() {
    ptysplit(nullptr);
    ptychld = 0;
    ptystatus = -1;
    ptysid = -1;
}

namespace {
int ptyinit(int, const char*) {
    return 0;
}
int ptyzero() {
    return 0;
}
int ptyzeroi(int) {
    return 0;
}
int ptymstat() {
    return 3;
}
// The shared line operations, with the program reaped first when SIGCHLD was seen.
int ptyst() {
    ptypoll();
    return fdst();
}
int ptystnh() {
    ptypoll();
    return fdstnh();
}
int ptyin() {
    ptypoll();
    return fdin();
}
} // namespace

ComDriver ptyfuncs = {ptyinit,  ptyvt,    ptyexit, ptyst,    ptystnh, ptyin,     fdout, fdbout,
                      ptyzeroi, ptyzeroi, ptyzero, ptymstat, ptybrk,  nullbauds, 258,   COMBUFSIZ};
