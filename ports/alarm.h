#pragma once
// The one guard for SIGALRM. A wait that must not hang (a line read, a close, an open) arms the
// alarm through an AlarmGuard; the handler only sets `comalarm`, the interrupted call fails with
// EINTR and the caller looks at the flag. Whichever way the wait ends, the previous handler, the
// flag and what was left of an earlier alarm are put back.
#include <csignal>
#include <ctime>
#include <unistd.h>

// Set by the guard's handler when its alarm fired.
inline volatile sig_atomic_t comalarm = 0;

class AlarmGuard {
  public:
    AlarmGuard() : prevflag_(comalarm), prevleft_(alarm(0)), start_(time(nullptr)) {
        struct sigaction sa {};
        sa.sa_handler = caught;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGALRM, &sa, &prevaction_);
        comalarm = 0;
    }
    AlarmGuard(const AlarmGuard&) = delete;
    AlarmGuard& operator=(const AlarmGuard&) = delete;
    void arm(unsigned seconds) { alarm(seconds); }
    bool fired() const { return comalarm != 0; }
    ~AlarmGuard() {
        alarm(0);
        sigaction(SIGALRM, &prevaction_, nullptr);
        comalarm = prevflag_;
        if (prevleft_) {
            long spent = static_cast<long>(time(nullptr) - start_);
            long left = static_cast<long>(prevleft_) - spent;
            alarm(left > 0 ? static_cast<unsigned>(left) : 1);
        }
    }

  private:
    static void caught(int) { comalarm = 1; }
    sig_atomic_t prevflag_;
    unsigned prevleft_;
    time_t start_;
    struct sigaction prevaction_ {};
};
