#pragma once
// Two copies of the program on the two ends of a socat pseudo-serial pair, driven from
// terminal mode with the escape commands a person would type, for the transfer tests.
#include "support/harness.h"
#include "support/portsupport.h"

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using Files = std::map<std::string, std::string>;

// Starts vorn on `port` with `files` in its directory; `opts` go before the port option,
// `after` after it (command files run first). Returns once the line is connected.
std::unique_ptr<VornRun> vornline(const std::string& port, const Files& files = {},
                                  std::vector<std::string> opts = {},
                                  std::vector<std::string> after = {});

// The noisy-line relay (noisyline.py) between two pseudo-terminals it makes with socat, named
// `dir`/pa and `dir`/pb; `args` are the relay's options. Empty path() when the relay is missing.
// With `bcmd`, side b is that shell command on a pseudo-terminal of its own (b stays empty).
class NoisyLine {
  public:
    NoisyLine(const std::string& dir, std::vector<std::string> args, const std::string& bcmd = {});
    ~NoisyLine();
    NoisyLine(const NoisyLine&) = delete;
    NoisyLine& operator=(const NoisyLine&) = delete;
    bool ok() const { return ok_; }
    std::string a, b;
    // Bytes that went from a to b (from the relay's statistics), -1 when unknown.
    long a2b();
    void stop();
    static std::string tool();

  private:
    bool ok_ = false;
    int pid_ = -1;
    std::string stats_;
};
// Types the command key, an escape letter and the answer to its prompt.
void escape(VornRun& run, char letter, const std::string& answer);
// Waits for the one-line summary a transfer leaves on the screen ("... sent, success");
// returns that line, or "" at the deadline.
std::string summaryof(VornRun& run, double seconds = 120);
// Quits the program.
void quit(VornRun& run);

std::string randombytes(size_t n, unsigned seed);
std::string textbytes(size_t n, unsigned seed);
std::string allbytes();
std::string readfile(const std::string& path);
void writefile(const std::string& path, const std::string& data);
