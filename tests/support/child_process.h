#pragma once

// A program under test run as a child process, as a script or a test station
// runs it: its standard input fed from a string, its output and diagnostics
// collected from pipes. Every wait is bounded; a child still running when the
// object goes is killed.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

class ChildProcess {
 public:
  // `input` is written to the child's standard input, which then ends. Small
  // inputs fit the pipe's buffer, so this cannot block on the child.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> copies = {program};
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
      pid_ = -1;
      ::close(in[1]);
      ::close(out[0]);
      ::close(err[0]);
      return;
    }
    if (::write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) err_ = "input not written";
    ::close(in[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) {
    if (pid_ > 0 && status_ == kRunning) ::kill(pid_, signal);
  }
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

  // Collects output until `done()` holds (asked after each read and at least
  // every pollMs), both streams close, or `ms` pass. True when `done()` held.
  bool ReadUntil(const std::function<bool()>& done, int ms, int pollMs = 100) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      if (done()) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || (fds_[0] < 0 && fds_[1] < 0)) return false;
      pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
      if (::poll(p, 2, static_cast<int>(std::min<long long>(left, pollMs))) < 0) return false;
      std::string* texts[2] = {&out_, &err_};
      for (int i = 0; i < 2; ++i) {
        if (fds_[i] < 0 || p[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds_[i], buffer, sizeof buffer);
        if (n > 0) {
          texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
          ::close(fds_[i]);
          fds_[i] = -1;
        }
      }
    }
  }

  // Collects the rest of the output and the exit status; -1 when the child did
  // not end within `ms` (it is killed) or ended by a signal.
  int Wait(int ms) {
    if (pid_ <= 0) return -1;
    if (status_ != kRunning) return status_;
    ReadUntil([this] { return fds_[0] < 0 && fds_[1] < 0; }, ms);
    int status = 0;
    rusage usage{};
    if (fds_[0] >= 0 || fds_[1] >= 0) {
      ::kill(pid_, SIGKILL);
      ::wait4(pid_, &status, 0, &usage);
      status_ = -1;
    } else {
      ::wait4(pid_, &status, 0, &usage);
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    maxRssKb_ = usage.ru_maxrss;
    return status_;
  }

  // The child's peak resident memory in KiB, once Wait has collected it.
  long MaxRssKb() const { return maxRssKb_; }

 private:
  static constexpr int kRunning = -2;
  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};  // its standard output and standard error
  int status_ = kRunning;
  long maxRssKb_ = 0;
  std::string out_;
  std::string err_;
};
