#include "support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::set<pid_t>& liveRuns() {
    static std::set<pid_t> runs;
    return runs;
}

// Tests run several programs at once from threads: the set is shared, and a program forked but
// not yet in it must not look like an orphan to another thread's reaping.
std::mutex& runsLock() {
    static std::mutex m;
    return m;
}

// A program run on the line (a shell, vttest) belongs to the vorn that started it; when that
// vorn is killed it is left behind, and some programs spin on a closed terminal. Such orphans
// come to this process (a subreaper) and run in a session of their own: end them.
void reapOrphans() {
    std::lock_guard<std::mutex> hold(runsLock());
    std::vector<pid_t> orphans;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream f(task.path() / "children");
        for (pid_t pid; f >> pid;)
            if (getsid(pid) != getsid(0) && !liveRuns().count(pid)) orphans.push_back(pid);
    }
    for (pid_t pid : orphans) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

} // namespace

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vorn-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const {
    std::ofstream f(path_ / name, std::ios::binary);
    f << content;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream f(path_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool TempDir::exists(const std::string& name) const {
    return fs::exists(path_ / name);
}

InDir::InDir(const TempDir& dir) : old_(fs::current_path()) {
    fs::current_path(dir.path());
}

InDir::~InDir() {
    std::error_code ec;
    fs::current_path(old_, ec);
}

VornRun::VornRun(std::vector<std::string> args, RunOptions opt)
    : judge_(opt.rows, opt.cols), rows_(opt.rows) {
    // A run in a UTF-8 locale has a console that takes UTF-8.
    for (const char* v : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        auto it = opt.env.find(v);
        if (it == opt.env.end() || it->second.empty()) continue;
        judge_.setUtf8(it->second.find("UTF-8") != std::string::npos ||
                       it->second.find("utf8") != std::string::npos);
        break;
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) || unlockpt(master_))
        throw std::runtime_error("cannot open a pseudo-terminal");
    char slavebuf[128];
    if (ptsname_r(master_, slavebuf, sizeof slavebuf) != 0)
        throw std::runtime_error("cannot name the pseudo-terminal");
    const std::string slaveName = slavebuf;
    // Keep a descriptor on the slave so the settings can be read after the program ends.
    slave_ = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) throw std::runtime_error("cannot open the pseudo-terminal slave");
    winsize ws{static_cast<unsigned short>(opt.rows), static_cast<unsigned short>(opt.cols), 0, 0};
    ioctl(master_, TIOCSWINSZ, &ws);
    tcgetattr(slave_, &before_);
    // Answers of the judging terminal (DA, DSR) go back to the program like a real terminal's.
    judge_.onReply([this](std::string_view s) { type(std::string(s)); });

    for (const auto& [name, content] : opt.files)
        dir_.write(name, content);
    std::string bin = opt.program.empty() ? std::string(VORN_BINARY) : opt.program;
    args.insert(args.begin(), opt.argv0.empty() ? bin : opt.argv0);

    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::unique_lock<std::mutex> hold(runsLock());
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        setsid();
        int fd = open(slaveName.c_str(), O_RDWR);
        if (fd < 0) _exit(126);
        ioctl(fd, TIOCSCTTY, 0);
        dup2(opt.stdinIsTerminal ? fd : open("/dev/null", O_RDONLY), 0);
        dup2(fd, 1);
        dup2(fd, 2);
        closefrom(3);
        if (chdir(dir_.path().c_str()) != 0) _exit(126);
        setenv("HOME", dir_.path().c_str(), 1);
        setenv("VORNDIR", dir_.path().c_str(), 1);
        setenv("TERM", opt.term.c_str(), 1);
        for (const char* v : {"VORNFLAGS", "VORNSYS", "VORNRC", "VORNEX", "VORNCWD", "TERMCAP",
                              "LINES", "COLUMNS", "LANG", "LC_ALL", "LC_CTYPE", "COLORTERM"})
            unsetenv(v);
        for (auto& [k, v] : opt.env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    liveRuns().insert(pid_);
    hold.unlock();
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

VornRun::~VornRun() {
    if (!exited_ && pid_ > 0) {
        // Ask first, so the program closes its line and ends what runs on it.
        kill(pid_, SIGTERM);
        wait(3);
        if (!exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    {
        std::lock_guard<std::mutex> hold(runsLock());
        liveRuns().erase(pid_);
    }
    reapOrphans();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

std::vector<std::string> VornRun::rows() const {
    std::vector<std::string> r;
    for (int i = 0; i < rows_; i++)
        r.push_back(judge_.row(i));
    return r;
}

// A step begins when the test acts: the first type() after a wait. Waits in a row share the
// step, so text that came in one batch with an earlier wait's text still counts as fresh.
void VornRun::markstep() {
    if (!marked_) mark_ = rows();
    marked_ = true;
}

size_t VornRun::typeUpTo(const std::string& bytes, double seconds) {
    markstep();
    size_t off = 0;
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (off < bytes.size() && Clock::now() < end) {
        ssize_t n = ::write(master_, bytes.data() + off, bytes.size() - off);
        if (n > 0)
            off += static_cast<size_t>(n);
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
            pump(10); // the program may be waiting for its output to be read
        else
            break;
    }
    return off;
}

void VornRun::type(const std::string& bytes, double seconds) {
    size_t off = typeUpTo(bytes, seconds);
    if (off < bytes.size())
        ADD_FAILURE() << "type(): only " << off << " of " << bytes.size()
                      << " bytes were taken within " << seconds << " s; the screen:\n"
                      << screen();
}

bool VornRun::pump(int timeoutMs) {
    pollfd p{master_, POLLIN, 0};
    bool got = false;
    char buf[4096];
    if (poll(&p, 1, timeoutMs) > 0)
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0; got = true) {
            out_.append(buf, static_cast<size_t>(n));
            judge_.feed(std::string_view(buf, static_cast<size_t>(n)));
        }
    if (!exited_ && pid_ > 0) {
        int st;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            exited_ = true;
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
    }
    return got;
}

void VornRun::drain() {
    // Three quiet polls in a row, within a bound: a left-over child could write for ever.
    auto end = Clock::now() + std::chrono::seconds(2);
    for (int quiet = 0; quiet < 3 && Clock::now() < end;)
        quiet = pump(50) ? 0 : quiet + 1;
}

bool VornRun::waitUntil(const std::function<bool()>& cond, double seconds) {
    marked_ = false; // every wait ends the step; the next type() begins another
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (cond()) return true;
        if (Clock::now() >= end) return false;
        if (!pump(20) && exited_) {
            drain(); // nothing more can come once this is read
            return cond();
        }
    }
}

bool VornRun::waitFor(const std::string& text, double seconds) {
    marked_ = false;
    const std::vector<std::string> before = mark_;
    std::string joined;
    for (const std::string& r : before)
        joined += r + "\n";
    const bool wasthere = joined.find(text) != std::string::npos;
    auto fresh = [&] {
        if (!judge_.contains(text)) return false;
        if (!wasthere) return true;
        if (text.find('\n') != std::string::npos) return rows() != before;
        for (int i = 0; i < rows_; i++) {
            std::string r = judge_.row(i);
            if (r.find(text) != std::string::npos &&
                (static_cast<size_t>(i) >= before.size() || r != before[static_cast<size_t>(i)]))
                return true;
        }
        return false;
    };
    if (waitUntil(fresh, seconds)) return true;
    ADD_FAILURE() << "waitFor(\"" << text << "\") gave up after " << seconds << " s"
                  << (judge_.contains(text) ? " (the text is only left from an earlier step)" : "")
                  << "; the screen:\n"
                  << screen();
    return false;
}

bool VornRun::waitForOutput(const std::string& text, double seconds) {
    return waitUntil([&] { return out_.find(text) != std::string::npos; }, seconds);
}

void VornRun::settle(double quiet, double max) {
    auto end = Clock::now() + std::chrono::duration<double>(max);
    auto lastData = Clock::now();
    while (Clock::now() < end) {
        if (pump(20))
            lastData = Clock::now();
        else if (Clock::now() - lastData > std::chrono::duration<double>(quiet))
            return;
        if (exited_) return drain();
    }
}

int VornRun::wait(double seconds) {
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!exited_ && Clock::now() < end)
        pump(20);
    if (exited_) drain();
    return exited_ ? status_ : -1;
}

bool VornRun::running() {
    pump(0);
    return !exited_;
}

void VornRun::signal(int sig) {
    if (!exited_ && pid_ > 0) kill(pid_, sig);
}

void VornRun::resize(int rows, int cols) {
    pump(0); // what was drawn at the old size is judged at the old size
    judge_.resize(rows, cols);
    winsize ws{static_cast<unsigned short>(rows), static_cast<unsigned short>(cols), 0, 0};
    ioctl(master_, TIOCSWINSZ, &ws);
}

termios VornRun::now() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
}

bool sameTermios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}
