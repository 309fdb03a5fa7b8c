#include "ports/lock.h"

#include "core/fmt.h"
#include "core/start.h"
#include "ports/com.h"
#include "ports/serial.h"
#include "screen/display.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

std::string lockpre = "/var/lock/LCK..%s";
long locktime = 5400;
std::string devprefix;

std::string systemidfile = "/etc/systemid";
std::string calloutprog = "/usr/bin/callout";
std::string callinprog = "/usr/bin/callin";

std::string devpre;
std::string devnam;
std::string mdevnam;
int enabled = 0;
int bnulock = 0;
int majlock = 0;

namespace {
constexpr size_t NAMEMAX = 1024;  // a port name longer than this is cut (by-id names are long)
constexpr size_t PREFIXMAX = 200; // a node prefix longer than this is refused
constexpr size_t LOCKMAX = 1024;  // longest lock file name built

std::string heldlock; // the lock file this process created, empty when none
pid_t heldpid = 0;    // the process that created it (a forked child must not remove it)
bool atexitset = false;

// Removes the lock at `name` only when it is a regular file holding this process's id: a lock
// the program did not write (taken over as stale by another, or replaced) is never removed.
bool removeown(const std::string& name) {
    struct stat st {};
    if (lstat(name.c_str(), &st) < 0 || !S_ISREG(st.st_mode)) return false;
    if (lockowner(name) != static_cast<int>(getpid())) return false;
    return unlink(name.c_str()) == 0;
}

// A lock is left behind by no way out of the program that runs exit handlers.
void lockatexit() {
    if (heldlock.empty() || getpid() != heldpid) return;
    removeown(heldlock);
    heldlock.clear();
}

std::terminate_handler prevterminate = nullptr;

// An uncaught exception ends the program through abort, which runs no exit handlers.
[[noreturn]] void lockonterminate() {
    lockatexit();
    if (prevterminate) prevterminate();
    std::abort();
}

std::string lastcomponent(const std::string& s) {
    size_t p = s.rfind('/');
    return p == std::string::npos ? s : s.substr(p + 1);
}

std::string dirof(const std::string& s) {
    size_t p = s.rfind('/');
    if (p == std::string::npos) return ".";
    if (p == 0) return "/";
    return s.substr(0, p);
}

bool startswith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The name of this node: the first line of the system-id file, else the host name.
std::string localnode() {
    std::string node;
    if (FILE* f = std::fopen(systemidfile.c_str(), "r")) {
        char line[256];
        if (std::fgets(line, sizeof line, f)) {
            line[std::strcspn(line, "\r\n")] = 0;
            node = line;
        }
        std::fclose(f);
        return node;
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) node = host;
    return node;
}

// Splits a port name into the node prefix and the device name; mdevnam takes the device name
// as its first guess.
void splitdev(const std::string& name) {
    std::string node, rest = name;
    if (startswith(name, "//")) {
        size_t p = name.find('/', 2);
        node = name.substr(0, p);
        rest = p == std::string::npos ? "" : name.substr(p);
    }
    if (startswith(rest, "/dev/")) rest.erase(0, 5);
    devnam = rest;
    mdevnam = rest;
    if (!node.empty())
        devpre = node;
    else if (!devprefix.empty())
        devpre = startswith(devprefix, "//") ? devprefix : "//" + devprefix;
    else
        devpre.clear();
    if (devpre.size() > PREFIXMAX) devpre.resize(PREFIXMAX);
    if (!devpre.empty() && localnode() == devpre.substr(2)) devpre.clear();
}

// An init-table line names the login line when the name stands on its own (the next
// character is neither a letter nor a digit) and the entry respawns.
bool respawns(const char* line, const std::string& tty) {
    if (tty.empty() || !std::strstr(line, ":respawn:")) return false;
    for (const char* p = std::strstr(line, tty.c_str()); p; p = std::strstr(p + 1, tty.c_str())) {
        unsigned char next = static_cast<unsigned char>(p[tty.size()]);
        if (!(next >= 'a' && next <= 'z') && !(next >= 'A' && next <= 'Z') &&
            !(next >= '0' && next <= '9'))
            return true;
    }
    return false;
}

void runprog(const std::string& prog, const char* argv0, const std::string& devpath,
             const char* failmsg) {
    oflush();
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        execl(prog.c_str(), argv0, devpath.c_str(), static_cast<char*>(nullptr));
        execlp(argv0, argv0, devpath.c_str(), static_cast<char*>(nullptr));
        zzprintf("%s", failmsg);
        oflush();
        _exit(1);
    }
    if (pid < 0) return;
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}
} // namespace

// ---- device names ----------------------------------------------------------------------

int findtty(unsigned long rdev, const std::string& name, const std::string& prefix,
            std::string& out) {
    if (startswith(name, "tty")) {
        out = name;
        return 1;
    }
    const std::string dir = prefix + "/dev";
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    int found = 0;
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "tty", 3) != 0) continue;
        struct stat st {};
        if (stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == rdev) {
            out = e->d_name;
            found = 1;
            break;
        }
    }
    closedir(d);
    return found;
}

int chkdev(const char* name) {
    std::string n = name ? name : "";
    if (n.size() > NAMEMAX) n.resize(NAMEMAX);
    splitdev(n);
    if (devnam == "null") return 0;
    struct stat st {};
    if (stat((devpre + "/dev/" + devnam).c_str(), &st) < 0) return 0;
    if (!findtty(st.st_rdev, devnam, devpre, mdevnam)) return 0;
    FILE* f = std::fopen((devpre + "/etc/inittab").c_str(), "r");
    if (!f) return 0;
    char line[256];
    int active = 0;
    while (!active && std::fgets(line, sizeof line, f))
        active = respawns(line, mdevnam);
    std::fclose(f);
    return active;
}

// ---- lock files ------------------------------------------------------------------------

int makelockstr(std::string& out) {
    if (lockpre.empty() || mdevnam.empty()) return -1;
    const std::string base = lastcomponent(mdevnam);
    bnulock = majlock = 0;
    std::string s = devpre;
    for (size_t i = 0; i < lockpre.size(); i++) {
        char c = lockpre[i];
        if (c != '%' || i + 1 == lockpre.size()) {
            s += c;
            continue;
        }
        char m = lockpre[++i];
        switch (m) {
        case 's':
            s += base;
            break;
        case 'B':
            bnulock = 2;
            s += base;
            break;
        case 'b':
            bnulock = 1;
            for (char ch : base)
                s += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
            break;
        case 'm': {
            majlock = 1;
            struct stat st {};
            if (stat((devpre + "/dev/" + devnam).c_str(), &st) < 0 &&
                stat((devpre + "/dev/term/" + devnam).c_str(), &st) < 0) {
                if (echoflag) zzprintf("[Can't stat %s for lockfile]\r\n", devnam.c_str());
                return -1;
            }
            char nums[48];
            std::snprintf(nums, sizeof nums, "%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev),
                          minor(st.st_rdev));
            s += nums;
            break;
        }
        case '%':
            s += '%';
            break;
        default:
            s += '%';
            s += m;
        }
        if (s.size() > LOCKMAX) return -1;
    }
    if (s.size() > LOCKMAX) return -1;
    out = s;
    return 0;
}

int onelock(int pid, const std::string& tempname, const std::string& lockname) {
    unlink(tempname.c_str());
    int fd = open(tempname.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_NOFOLLOW, 0444);
    if (fd < 0) {
        int e = errno;
        std::fprintf(stderr, "onelock [%s]\n", std::strerror(e));
        errno = e;
        return -1;
    }
    char text[16];
    int n = std::snprintf(text, sizeof text, "%10d\n", pid);
    bool ok = write(fd, text, static_cast<size_t>(n)) == n;
    close(fd);
    int r = ok ? link(tempname.c_str(), lockname.c_str()) : -1;
    int e = ok ? errno : EIO;
    unlink(tempname.c_str());
    errno = e; // why the lock was not made, for the caller
    return r == 0 ? 0 : -1;
}

int lockowner(const std::string& lockname) {
    // Never blocks on a FIFO or a device someone put at the lock path, and reads only files.
    int fd = open(lockname.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return 0;
    struct stat st {};
    if (fstat(fd, &st) < 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return 0;
    }
    unsigned char buf[64];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    if (n <= 0) return 0;
    bool text = true;
    for (ssize_t i = 0; i < n; i++)
        if (!(buf[i] == ' ' || buf[i] == '\n' || (buf[i] >= '0' && buf[i] <= '9'))) text = false;
    if (!text) {
        if (n != 4) return 0;
        int32_t pid;
        std::memcpy(&pid, buf, 4);
        return pid > 0 ? pid : 0;
    }
    long pid = 0;
    ssize_t i = 0;
    while (i < n && buf[i] == ' ')
        i++;
    for (; i < n && buf[i] >= '0' && buf[i] <= '9'; i++)
        if ((pid = pid * 10 + (buf[i] - '0')) > 0x7fffffff) return 0;
    return static_cast<int>(pid);
}

int mlock() {
    heldlock.clear();
    if (iflag || lockpre.empty() || devnam == "null") return 0;
    std::string name;
    if (makelockstr(name) < 0) return 0;
    const int pid = static_cast<int>(getpid());
    const std::string dir = dirof(name);
    const std::string temp = dir + "/LTMP." + std::to_string(pid);
    // Why a lock could not be made: only an existing lock means the device is in use.
    auto failed = [&](int e) {
        if (e == EEXIST) return -1;
        zzprintf("Can't lock %s: lock directory %s: %s\r\n", devnam.c_str(), dir.c_str(),
                 std::strerror(e));
        return -2;
    };
    if (onelock(pid, temp, name) < 0) {
        if (errno != EEXIST) return failed(errno);
        struct stat st {};
        if (lstat(name.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode)) {
                zzprintf("Can't lock %s: %s is not a lock file\r\n", devnam.c_str(), name.c_str());
                return -2;
            }
            int owner = lockowner(name);
            bool gone = owner > 0 && kill(owner, 0) < 0 && errno == ESRCH;
            long age = static_cast<long>(time(nullptr) - st.st_ctime);
            if (!gone && (locktime == 0 || age < locktime)) return -1;
        }
        unlink(name.c_str());
        if (onelock(pid, temp, name) < 0) return failed(errno);
    }
    heldlock = name;
    heldpid = getpid();
    if (!atexitset) {
        std::atexit(lockatexit);
        prevterminate = std::set_terminate(lockonterminate);
        atexitset = true;
    }
    if (echoflag) zzprintf("[Locking %s]\r\n", name.c_str());
    return 0;
}

void delock() {
    if (!xflag && !heldlock.empty() && !mdevnam.empty() && devnam != "null") {
        // A lock taken over by another process as stale is that process's now.
        if (removeown(heldlock) && echoflag) zzprintf("[Unlocking %s]\r\n", heldlock.c_str());
    }
    heldlock.clear();
    if (enabled) callin(devpre, mdevnam);
    enabled = 0;
    mdevnam.clear();
}

// ---- login lines -----------------------------------------------------------------------

void callout(const std::string& prefix, const std::string& name) {
    zzprintf("[Disabling %s/dev/%s]\r\n", prefix.c_str(), name.c_str());
    runprog(calloutprog, "callout", prefix + "/dev/" + name, "Can't execute callout\r\n");
}

void callin(const std::string& prefix, const std::string& name) {
    zzprintf("[Enabling %s/dev/%s]\r\n", prefix.c_str(), name.c_str());
    oflush();
    if (!exitdtr) sleep(1);
    runprog(callinprog, "callin", prefix + "/dev/" + name, "Can't execute callin\r\n");
}

// ---- ports -----------------------------------------------------------------------------

const char* dolock(const char* name) {
    static std::string path;
    std::string n = name ? name : "";
    if (n.size() > NAMEMAX) n.resize(NAMEMAX);
    if (reinit) {
        splitdev(n);
        path = devpre + "/dev/" + devnam;
        return path.c_str();
    }
    int login = chkdev(n.c_str());
    if (int r = mlock(); r != 0) {
        if (r == -1) zzprintf("Device locked: %s\r\n", n.c_str());
        mdevnam.clear();
        return nullptr;
    }
    if (login) {
        callout(devpre, mdevnam);
        if (chkdev(n.c_str())) {
            delock();
            return nullptr;
        }
        enabled = 1;
    }
    path = devpre + "/dev/" + devnam;
    return path.c_str();
}

void lockreset() {
    lockpre = "/var/lock/LCK..%s";
    locktime = 5400;
    devprefix.clear();
    systemidfile = "/etc/systemid";
    calloutprog = "/usr/bin/callout";
    callinprog = "/usr/bin/callin";
    devpre.clear();
    devnam.clear();
    mdevnam.clear();
    enabled = bnulock = majlock = 0;
    heldlock.clear();
}

std::string systemname() {
    return localnode();
}
