#pragma once

// What the commands that talk to a board share: who stopped a run, the check
// of the board's model, and the close. What watches the link (--trace,
// --pcap) is cli/output/wire_record.h.

#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "run/run_report.h"
#include "run/session.h"

// "Ctrl+C" or "SIGTERM" once a stop was asked for, else empty.
std::string StopName();

// Refuses (RunStage::kRefused, exit 12) a board whose hardware code is not the
// one expected; an empty expectation takes any board. True when it passes.
bool CheckHardware(RunReport& report, const std::string& expected);

// Closes the session's link if open; a close the socket library refuses is
// reported on diag with the window's text, and changes no outcome.
void CloseSession(Session& session, std::FILE* diag);
