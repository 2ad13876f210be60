#pragma once

// --trace and --pcap: the files that keep what went over the link, one as JSON
// lines and one as a capture for Wireshark, watching the same link together.

#include <cstdio>
#include <memory>
#include <string>

#include "cli/output/trace.h"
#include "link/link.h"
#include "link/observer_fan.h"
#include "link/pcap_writer.h"

class WireRecord {
 public:
  // Opens the files asked for (an empty path: not asked for): 0, or
  // exit_code::kLogUnwritable with the reason in message and nothing open.
  int Open(const std::string& tracePath, const std::string& pcapPath, std::string& message);

  // What watches the link; null when neither file was asked for.
  LinkObserver* Observer() { return fan_.Empty() ? nullptr : &fan_; }

  // A file did not take an event; Finish says which.
  bool Lost() const;

  // After the command: `status` when every event went into the files;
  // otherwise a line on err for each file that did not take them all, and
  // exit_code::kLogUnwritable.
  int Finish(int status, std::FILE* err) const;

 private:
  std::string tracePath_;
  std::string pcapPath_;
  std::unique_ptr<CliTrace> trace_;
  std::unique_ptr<PcapWriter> pcap_;
  LinkObserverFan fan_;
};
