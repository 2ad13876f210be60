#pragma once

// --trace and --pcap: the files that keep what went over the link, one as JSON
// lines and one as a capture for Wireshark, watching the same link together.
// The slots of a gang share the trace (each line names its slot and port) and
// have a capture each (FILE with "-slotN" before its extension), since the
// boards on every port share one address and their packets would look alike.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/output/trace.h"
#include "line/production_line.h"
#include "link/link.h"
#include "link/observer_fan.h"
#include "link/pcap_writer.h"

// The capture of a gang's slot `slot` (from 1): "run.pcap" -> "run-slot2.pcap".
std::string SlotCapturePath(const std::string& path, int slot);

class WireRecord : public LinkWatch {
 public:
  // Opens the files asked for (an empty path: not asked for), for a command
  // of `slots` slots (0 or 1: one link at a time): 0, or
  // exit_code::kLogUnwritable with the reason in message and nothing open.
  int Open(const std::string& tracePath, const std::string& pcapPath, std::string& message, int slots = 0);

  // What watches the command's link; null when neither file was asked for.
  LinkObserver* Observer() { return ObserverFor(0, ""); }
  // What watches slot `slot`'s links (0: the command's one) on a port (empty:
  // none). Null when neither file was asked for. A gang's slots ask from their
  // own threads at once.
  LinkObserver* ObserverFor(int slot, const std::string& interfaceName);
  LinkObserver* ForSlot(int slot, const std::string& port) override { return ObserverFor(slot, port); }

  // A file did not take an event; Finish says which.
  bool Lost() const override;

  // After the command: `status` when every event went into the files;
  // otherwise a line on err for each file that did not take them all, and
  // exit_code::kLogUnwritable.
  int Finish(int status, std::FILE* err) const;

 private:
  struct Capture {
    std::string path;
    std::unique_ptr<PcapWriter> writer;
  };

  std::string tracePath_;
  std::unique_ptr<CliTrace> trace_;
  std::vector<Capture> captures_;  // one, or one per slot
  std::vector<std::unique_ptr<SlotTrace>> slotTraces_;
  std::vector<std::unique_ptr<LinkObserverFan>> fans_;
  std::mutex observersMutex_;  // slotTraces_ and fans_, grown by every slot's thread
};
