#pragma once
// An independent peer program (lrzsz, C-Kermit, gkermit) run on one side of a socat
// pseudo-serial pair, for the interop tests of the transfer protocols.
#include <string>

#include <sys/types.h>

class Peer {
  public:
    // Runs `cmd` with /bin/sh in `dir`, its standard input and output on the pseudo-terminal
    // `tty`, its standard error in `dir`/peer.log.
    Peer(const std::string& cmd, const std::string& dir, const std::string& tty);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    // Exit status, 128+signal when killed, -1 at the deadline.
    int wait(double seconds);
    void signal(int sig);
    std::string log() const;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string dir_;
};
