#include "peer_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

Peer::Peer(const std::string& cmd, const std::string& dir, const std::string& tty) : dir_(dir) {
    pid_ = fork();
    if (pid_ == 0) {
        setsid();
        if (chdir(dir.c_str()) != 0) _exit(126);
        int fd = open(tty.c_str(), O_RDWR); // the controlling terminal of the new session
        int log = open((dir + "/peer.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || log < 0) _exit(126);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(log, 2);
        const std::string line = "exec " + cmd; // signals reach the peer, not the shell
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

Peer::~Peer() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int Peer::wait(double seconds) {
    if (status_ >= 0 || pid_ <= 0) return status_;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int st = 0;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // polling the child
    }
}

void Peer::signal(int sig) {
    if (pid_ > 0 && status_ < 0) kill(pid_, sig);
}

std::string Peer::log() const {
    std::ifstream f(dir_ + "/peer.log");
    return std::string(std::istreambuf_iterator<char>(f), {});
}
