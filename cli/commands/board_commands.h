#pragma once

// What the commands that talk to a board share: what watches the link (the
// trace), who stopped a run, the check of the board's model, and the close.

#include <cstdio>
#include <memory>
#include <string>

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
  // Why the trace did not take every event, else empty.
  std::string Failure() const { return trace_ ? trace_->Failure() : std::string(); }

 private:
  std::unique_ptr<CliTrace> trace_;
};

// The command's status once its output is out: a trace that did not take
// every event is said on err and turns it into 13, as a run log's record does;
// the board is as the output said.
int TraceStatus(const LinkWatch& watch, const CliOptions& options, std::FILE* err, int status);

// "Ctrl+C" or "SIGTERM" once a stop was asked for, else empty.
std::string StopName();

// Refuses (RunStage::kRefused, exit 12) a board whose hardware code is not the
// one expected; an empty expectation takes any board. True when it passes.
bool CheckHardware(RunReport& report, const std::string& expected);

// Closes the session's link if open; a close the socket library refuses is
// reported on diag with the window's text, and changes no outcome.
void CloseSession(Session& session, std::FILE* diag);
