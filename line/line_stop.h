#pragma once

// How a front end stops a line: the front end owns the signal (Ctrl+C at a
// terminal, a button in a browser) and the line asks it between two exchanges
// and while it waits for a board. A run under way ends before its next command,
// unlocked; every slot stops at its next wait.

#include <atomic>
#include <mutex>
#include <string>

class LineStop {
 public:
  virtual ~LineStop() = default;
  // Asked from every slot's thread.
  virtual bool Requested() const = 0;
  // Who asked, as a record names it ("Ctrl+C", "SIGTERM", "the operator");
  // empty while nobody has.
  virtual std::string RequestedBy() const = 0;
};

// A stop a front end asks for from any thread.
class LineStopFlag : public LineStop {
 public:
  void Request(const std::string& by) {
    std::lock_guard lock(mutex_);
    if (requested_) return;
    by_ = by;
    requested_ = true;
  }
  bool Requested() const override { return requested_; }
  std::string RequestedBy() const override {
    std::lock_guard lock(mutex_);
    return requested_ ? by_ : "";
  }

 private:
  mutable std::mutex mutex_;
  std::atomic<bool> requested_{false};
  std::string by_;
};
