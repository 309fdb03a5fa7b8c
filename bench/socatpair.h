#pragma once
// A socat pseudo-terminal pair for the benchmarks that run a line between two programs.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

// A socat pair; the two /dev/pts names.
struct Pair {
    pid_t pid = -1;
    std::string a, b;
    explicit Pair(const std::string& dir) {
        namespace fs = std::filesystem;
        const std::string la = dir + "/la", lb = dir + "/lb";
        std::error_code ec;
        fs::remove(la, ec), fs::remove(lb, ec);
        pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 2);
            execlp("socat", "socat", ("pty,raw,echo=0,link=" + la).c_str(),
                   ("pty,raw,echo=0,link=" + lb).c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 500 && (!fs::exists(la) || !fs::exists(lb)); i++)
            usleep(10000); // start-up of the helper; no other way to learn it is ready
        a = fs::canonical(la, ec).string();
        b = fs::canonical(lb, ec).string();
    }
    ~Pair() {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;
};
