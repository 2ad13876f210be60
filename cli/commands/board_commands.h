#pragma once

// What the commands that talk to a board share: what watches the link (the
// trace), who stopped a run, the check of the board's model, and the close.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/output/trace.h"
#include "run/run_report.h"
#include "run/session.h"

// --trace: opened before anything is sent, watching every link of the command.
class LinkWatch {
 public:
  // False, with the operator's words in error, when a file cannot be opened.
  bool Open(const CliOptions& options, std::string& error);
  // Null when nothing watches.
  LinkObserver* Observer() const { return trace_.get(); }
  // The view of one slot (0: the command's one) on one port (empty: none):
  // every line it writes names them. Null when nothing watches.
  LinkObserver* ObserverFor(int slot, const std::string& interfaceName);

 private:
  std::unique_ptr<CliTrace> trace_;
  std::vector<std::unique_ptr<SlotTrace>> slots_;
};

// Every --interface names a port that is there and up, and none twice; else
// the reason goes to streams.err (naming the interfaces there are) and false
// comes back, before anything is sent.
bool InterfacesUsable(const CliOptions& options, const CliStreams& streams);

// The one port a command that reaches one board runs on; empty: none given.
std::string TheInterface(const CliOptions& options);

// "Ctrl+C" or "SIGTERM" once a stop was asked for, else empty.
std::string StopName();

// Refuses (RunStage::kRefused, exit 12) a board whose hardware code is not the
// one expected; an empty expectation takes any board. True when it passes.
bool CheckHardware(RunReport& report, const std::string& expected);

// Closes the session's link if open; a close the socket library refuses is
// reported on diag with the window's text, and changes no outcome.
void CloseSession(Session& session, std::FILE* diag);
