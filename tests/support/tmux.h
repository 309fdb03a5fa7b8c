#pragma once
// tmux as the user's terminal: a private server, keys sent by name, the pane's text as a person
// sees it (capture-pane), and polling with a deadline.
#include "support/harness.h"
#include "support/portsupport.h"

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

inline std::string run(const std::string& cmd) {
    return shell(cmd);
}

class Tmux {
  public:
    explicit Tmux(const TempDir& dir) : sock_((dir.path() / "sock").string()) {}
    ~Tmux() { run(tmux() + " kill-server 2>/dev/null"); }
    Tmux(const Tmux&) = delete;
    Tmux& operator=(const Tmux&) = delete;
    std::string tmux() const { return "tmux -S '" + sock_ + "' -f /dev/null"; }
    void keys(const std::string& k) { run(tmux() + " send-keys " + k); }
    // A new session of that size running `command`, which must not hold a double quote.
    void open(int cols, int rows, const std::string& command) {
        run(tmux() + " new-session -d -x " + std::to_string(cols) + " -y " + std::to_string(rows) +
            " \"" + command + "\"");
    }
    std::vector<std::string> rows() {
        std::vector<std::string> r;
        std::istringstream in(run(tmux() + " capture-pane -p"));
        for (std::string line; std::getline(in, line);)
            r.push_back(line.erase(line.find_last_not_of(' ') + 1));
        return r;
    }
    // Polls the pane until `ok` holds for its rows; false at the deadline.
    template <class F> bool until(F ok, double seconds = 15) {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (ok(rows())) return true;
            run("sleep 0.05");
        }
        last_ = rows();
        return false;
    }
    // Polls until some row shows `text`.
    bool shows(const std::string& text, double seconds = 15) {
        return until(
            [&](const std::vector<std::string>& rows) {
                for (const auto& r : rows)
                    if (r.find(text) != std::string::npos) return true;
                return false;
            },
            seconds);
    }
    std::string shown() const {
        std::string s;
        for (const auto& r : last_)
            s += r + "\n";
        return s;
    }

  private:
    std::string sock_;
    std::vector<std::string> last_;
};
