#pragma once
// End-to-end harness: runs the real vorn binary on a pseudo-terminal with a chosen TERM and
// size, types keys, waits for text with a deadline (never a fixed sleep), and reads the
// screen through libvterm. Each run gets a private temporary directory as its working
// directory, HOME and VORNDIR, so no start-up script of the machine or the user is read; the
// files a run needs (command files, start-up scripts) are written there before it starts.
#include "support/vtjudge.h"

#include <sys/types.h>
#include <termios.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A temporary directory removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// Works in a directory until the object goes, then goes back where it was.
class InDir {
  public:
    explicit InDir(const TempDir& dir);
    ~InDir();
    InDir(const InDir&) = delete;
    InDir& operator=(const InDir&) = delete;

  private:
    std::filesystem::path old_;
};

// Every member has a default, so a run names only what it changes: {.rows = 25}.
struct RunOptions {
    std::string term = "xterm";
    int rows = 24;
    int cols = 80;
    std::string program{};                      // binary to run; empty = vorn
    std::string argv0{};                        // program name; empty = the binary's path
    std::map<std::string, std::string> env{};   // added to (or replacing) the environment
    std::map<std::string, std::string> files{}; // name -> content, in the run's directory
    bool stdinIsTerminal = true;                // false: standard input is /dev/null
};

class VornRun {
  public:
    explicit VornRun(std::vector<std::string> args, RunOptions opt = {});
    ~VornRun();
    VornRun(const VornRun&) = delete;
    VornRun& operator=(const VornRun&) = delete;

    // Writes bytes to the program's console as if typed. A program that does not take them
    // within `seconds` fails the test (with what the screen shows).
    void type(const std::string& bytes, double seconds = 10);
    // Types what the program takes within `seconds` and says how much that was; never fails
    // (for tests of a program that must stop taking keys).
    size_t typeUpTo(const std::string& bytes, double seconds);
    // Pumps output until the screen shows `text` freshly: on a row that changed since the step
    // began (the first type() since the last wait; the start for the first), or anywhere when
    // the screen did not show it then. Text left from an earlier step never satisfies it. False at
    // the deadline, and the test fails with the screen and the reason.
    bool waitFor(const std::string& text, double seconds = 10);
    // Pumps output until the raw output contains `text` (for bytes that do not show).
    bool waitForOutput(const std::string& text, double seconds = 10);
    bool waitUntil(const std::function<bool()>& cond, double seconds = 10);
    // Pumps output until row `r` holds `text`, however it got there.
    bool rowShows(int r, const std::string& text, double seconds = 10) {
        return waitUntil([&] { return judge_.row(r).find(text) != std::string::npos; }, seconds);
    }
    // Pumps output for as long as some arrives, until `quiet` seconds pass without any.
    void settle(double quiet = 0.3, double max = 5);
    // Waits for the process to end; its exit status, 128+signal when killed, -1 at the deadline.
    int wait(double seconds = 10);
    bool running();
    void signal(int sig);
    // The window changes size: the judge follows and the program gets SIGWINCH.
    void resize(int rows, int cols);

    const VtJudge& judge() const { return judge_; }
    std::string screen() const { return judge_.screen(); }
    const std::string& output() const { return out_; }
    const TempDir& dir() const { return dir_; }
    pid_t pid() const { return pid_; }
    // Console settings as they were before the program started, and as they are now.
    const termios& before() const { return before_; }
    termios now() const;

  private:
    bool pump(int timeoutMs);
    std::vector<std::string> rows() const;
    void markstep();
    // After the program has ended: what it wrote last can reach the pseudo-terminal's master a
    // moment after the program is reaped, so reading goes on until the line stays quiet.
    void drain();
    TempDir dir_;
    VtJudge judge_;
    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::string out_;
    termios before_{};
    int rows_ = 24;
    std::vector<std::string> mark_; // the screen when the current step began
    bool marked_ = false;           // a type() began the step and no wait has ended it
};

// True when two console settings are the same in every field a user would notice.
bool sameTermios(const termios& a, const termios& b);
