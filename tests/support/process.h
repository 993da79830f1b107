#pragma once
// Runs the programs under test as real processes, with pipes on stdout and stderr.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace kalvo::test {

using Environment = std::map<std::string, std::string>;

class Process {
public:
    Process(const std::vector<std::string>& argv, const Environment& overrides) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);

        Environment env;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            auto eq = text.find('=');
            if (eq != std::string::npos) env[text.substr(0, eq)] = text.substr(eq + 1);
        }
        for (const auto& [key, value] : overrides) env[key] = value;
        std::vector<std::string> envText;
        for (const auto& [key, value] : env) envText.push_back(key + "=" + value);
        std::vector<char*> envp, args;
        for (auto& text : envText) envp.push_back(text.data());
        envp.push_back(nullptr);
        std::vector<std::string> argCopy = argv;
        for (auto& text : argCopy) args.push_back(text.data());
        args.push_back(nullptr);

        int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) throw std::runtime_error("spawn " + argv[0]);
    }
    ~Process() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        ::close(out_);
        ::close(err_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // One line of stdout (or stderr), waiting at most `limit`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit) { return ReadLineFrom(out_, outText_, limit); }
    std::optional<std::string> ReadErrLine(std::chrono::milliseconds limit) { return ReadLineFrom(err_, errText_, limit); }

    void Signal(int signal) { ::kill(pid_, signal); }

    // Waits for the exit; reads the rest of both pipes. Returns the exit status (128+signal).
    int Wait() {
        if (pid_ <= 0) return status_;
        Drain();
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
    }

    const std::string& Out() const { return outText_; }
    const std::string& Err() const { return errText_; }

    pid_t Pid() const { return pid_; }

    // Waits until stderr so far contains `text`.
    bool WaitForErr(const std::string& text, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (errText_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd pfd{err_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            ssize_t n = ::read(err_, buffer, sizeof buffer);
            if (n <= 0) return false;
            errText_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

private:
    static std::optional<std::string> ReadLineFrom(int fd, std::string& buffered, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto newline = buffered.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffered.substr(0, newline);
                buffered.erase(0, newline + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            buffered.append(buffer, static_cast<std::size_t>(n));
        }
    }

    void Drain() {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        int open = 2;
        while (open > 0 && ::poll(fds, 2, -1) > 0) {
            for (int i = 0; i < 2; ++i) {
                if (!fds[i].revents) continue;
                char buffer[4096];
                ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i ? errText_ : outText_).append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
    std::string outText_;
    std::string errText_;
};

}  // namespace kalvo::test
