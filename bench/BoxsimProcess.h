#pragma once
// kelvano-boxsim as a child process for the benchmarks: started with the given options, its
// pseudo-terminal's path read from the first line it prints, stopped when this goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class BoxsimProcess {
public:
    explicit BoxsimProcess(const std::vector<std::string>& options) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        std::vector<const char*> argv{KELVANO_BIN_DIR "/kelvano-boxsim"};
        for (const std::string& o : options) argv.push_back(o.c_str());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execv(argv[0], const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        ::close(fds[1]);
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') path_ += c;
        out_ = fds[0];
    }
    ~BoxsimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    BoxsimProcess(const BoxsimProcess&) = delete;
    BoxsimProcess& operator=(const BoxsimProcess&) = delete;

    // Empty when it did not start.
    const std::string& path() const { return path_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};
