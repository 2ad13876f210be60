#pragma once

// A trace and a capture (--trace, --pcap): the files that keep what went over
// the link, one as JSON lines and one as a capture for Wireshark, watching the
// same link together. The slots of a gang share the trace (each line names its
// slot and port) and have a capture each (FILE with "-slotN" before its extension), since the
// boards on every port share one address and their packets would look alike.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/wire_trace.h"
#include "line/production_line.h"
#include "link/link.h"
#include "link/observer_fan.h"
#include "link/pcap_writer.h"

// The capture of a gang's slot `slot` (from 1): "run.pcap" -> "run-slot2.pcap".
std::string SlotCapturePath(const std::string& path, int slot);

class WireRecord : public LinkWatch {
 public:
  // Opens the files asked for (an empty path: not asked for), for a command
  // of `slots` slots (0 or 1: one link at a time): false with the reason in
  // message and nothing open.
  bool Open(const std::string& tracePath, const std::string& pcapPath, std::string& message, int slots = 0);

  // What watches the command's link; null when neither file was asked for.
  LinkObserver* Observer() { return ObserverFor(0, ""); }
  // What watches slot `slot`'s links (0: the command's one) on a port (empty:
  // none). Null when neither file was asked for. A gang's slots ask from their
  // own threads at once.
  LinkObserver* ObserverFor(int slot, const std::string& interfaceName);
  LinkObserver* ForSlot(int slot, const std::string& port) override { return ObserverFor(slot, port); }

  // A file did not take an event; Finish says which.
  bool Lost() const override;

  // After the command: one line for each file that did not take every event
  // (empty when all did).
  std::vector<std::string> Losses() const;

 private:
  struct Capture {
    std::string path;
    std::unique_ptr<PcapWriter> writer;
  };

  std::string tracePath_;
  std::unique_ptr<WireTrace> trace_;
  std::vector<Capture> captures_;  // one, or one per slot
  std::vector<std::unique_ptr<SlotTrace>> slotTraces_;
  std::vector<std::unique_ptr<LinkObserverFan>> fans_;
  std::mutex observersMutex_;  // slotTraces_ and fans_, grown by every slot's thread
};
