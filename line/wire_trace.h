#pragma once

// --trace FILE: every event on the wire as one JSON line, for the engineer who
// reads what happened after a failed run on the line. The link reports the
// events (LinkObserver::Trace); this turns them into lines. The slots of a gang
// share one file, every line tagged with its slot and port.

#include <chrono>
#include <mutex>
#include <string>
#include <utility>

#include "link/link.h"

class WireTrace : public LinkObserver {
 public:
  WireTrace() = default;
  ~WireTrace() override;
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  // Appends to the file or creates it, never truncating what earlier runs left
  // (a regular file only); false with the operator's words in error.
  bool Open(const std::string& path, std::string& error);

  // {"us": since Open, "event": "request"|"resend"|"reply"|"passed_over"|"timeout",
  //  "transport", "seq" (UDP), "command", "address", "length", "bytes"} ; a
  // time-out carries "wait_ms" in place of the frame's fields, a datagram passed
  // over its sender in "from".
  void Trace(const LinkTraceEvent& event) override;
  // The same line with "slot" (when not 0) and "interface" (when not empty):
  // the slots of a gang share the one file, one whole line at a time.
  void Write(const LinkTraceEvent& event, int slot, const std::string& interfaceName);

  // Why the file did not take a line (a full disk, a short write), else empty.
  // Lines after the first one lost are not written: the trace stops there.
  std::string Failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
  }

 private:
  mutable std::mutex mutex_;  // slots on threads of their own write here
  int fd_ = -1;
  bool midLine_ = false;  // the file ended in a cut line when it was opened
  std::string failure_;
  std::chrono::steady_clock::time_point start_;
};

// A slot's view into the shared trace.
class SlotTrace : public LinkObserver {
 public:
  SlotTrace(WireTrace& trace, int slot, std::string interfaceName)
      : trace_(trace), slot_(slot), interfaceName_(std::move(interfaceName)) {}
  void Trace(const LinkTraceEvent& event) override { trace_.Write(event, slot_, interfaceName_); }

 private:
  WireTrace& trace_;
  int slot_;
  std::string interfaceName_;
};
