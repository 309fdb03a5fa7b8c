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
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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
    {EM_TV950, "tvi950"},
};
// clang-format on
constexpr const char* fallback[] = {"vt102", "vt100", "ansi", "dumb"};

// The slave's settings: a System V style cooked terminal at 9600 bits per second, whose editing
// characters are the user's own when the program was started from a terminal.
termios slavesettings() {
    termios t{};
    t.c_iflag = ICRNL | IXON;
    t.c_oflag = OPOST | ONLCR | TAB3;
    t.c_cflag = CS8 | PARENB | CREAD | HUPCL;
    t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cc[VINTR] = 127;
    t.c_cc[VQUIT] = 28;
    t.c_cc[VERASE] = '#';
    t.c_cc[VKILL] = '@';
    t.c_cc[VEOF] = 4;
    // The rest of this system's control characters, so job control and flow control work.
    t.c_cc[VSTART] = 021;
    t.c_cc[VSTOP] = 023;
    t.c_cc[VSUSP] = 032;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    for (int fd = 0; fd <= 2; fd++) {
        termios cons{};
        if (!isatty(fd) || tcgetattr(fd, &cons) < 0) continue;
        for (int i : {VINTR, VQUIT, VERASE, VKILL, VEOF})
            t.c_cc[i] = cons.c_cc[i];
        break;
    }
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
    for (int sig : {SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGTSTP})
        signal(sig, SIG_DFL);
    signal(SIGHUP, SIG_IGN);
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
    if (slave > 2) close(slave);

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

// Hangs the program's process group up and waits for the program. The program was started with
// SIGHUP ignored, so the group is also asked to terminate; a shell that ignores that too meets
// end of file on its terminal now that the master is closed. One that lingers past two seconds
// is killed, so no zombie is left behind.
void hangup() {
    if (ptypid <= 0) return;
    kill(-ptypid, SIGHUP);
    kill(-ptypid, SIGTERM);
    kill(-ptypid, SIGCONT);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int st = 0;
        pid_t r = waitpid(ptypid, &st, WNOHANG);
        if (r == ptypid || (r < 0 && errno == ECHILD)) {
            ptystatus = r == ptypid ? st : ptystatus;
            break;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec >= 2) {
            kill(-ptypid, SIGKILL);
            kill(ptypid, SIGKILL);
            if (waitpid(ptypid, &st, 0) == ptypid) ptystatus = st;
            break;
        }
        timespec tick{0, 10'000'000};
        nanosleep(&tick, nullptr);
    }
    ptypid = -1;
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
    int fl = fcntl(master, F_GETFL);
    if (fl < 0 || fcntl(master, F_SETFL, fl | O_NONBLOCK) < 0) {
        std::fprintf(stderr, "%s: Error %d\n", progname(), errno);
        close(master);
        hangup();
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
    // Whatever the program left running in its group goes with it, so the slave closes and the
    // master reads end of file once its last output has been taken.
    kill(-ptypid, SIGHUP);
    kill(-ptypid, SIGCONT);
    ptypid = -1;
    return 1;
}

int ptyexit() {
    if (ptypid > 0) kill(-ptypid, SIGHUP);
    closecom();
    hangup();
    restorechld();
    return 0;
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
