#pragma once

// --trace FILE: every event on the wire as one JSON line, for the engineer who
// reads what happened after a failed run on the line. The link reports the
// events (LinkObserver::Trace); this turns them into lines.

#include <chrono>
#include <cstdio>
#include <string>

#include "link/link.h"

class CliTrace : public LinkObserver {
 public:
  CliTrace() = default;
  ~CliTrace() override;
  CliTrace(const CliTrace&) = delete;
  CliTrace& operator=(const CliTrace&) = delete;

  // Truncates or creates the file; false with the reason in error.
  bool Open(const std::string& path, std::string& error);

  // {"us": since Open, "event": "request"|"resend"|"reply"|"passed_over"|"timeout",
  //  "transport", "seq" (UDP), "command", "address", "length", "bytes"} ; a
  // time-out carries "wait_ms" in place of the frame's fields, a datagram passed
  // over its sender in "from".
  void Trace(const LinkTraceEvent& event) override;

  // Whether every line so far went into the file; when not, the system's reason.
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

 private:
  std::FILE* file_ = nullptr;
  std::string error_;
  std::chrono::steady_clock::time_point start_;
};
