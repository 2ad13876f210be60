#pragma once

// What the commands that talk to a board share: who stopped a run, the check
// of the board's model, the identity a run stamps, the board's line, and the
// close. What watches the link (--trace, --pcap) is cli/output/wire_record.h.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "line/board_checks.h"
#include "run/program_run.h"
#include "run/run_report.h"
#include "run/session.h"

// Every --interface names a port that is there and up, and none twice; else
// the reason goes to streams.err (naming the interfaces there are) and false
// comes back, before anything is sent.
std::string InterfaceRefusal(const CliOptions& options);

// The one port a command that reaches one board runs on; empty: none given.
std::string TheInterface(const CliOptions& options);

// The session a command's board is reached through: the waits, the one port,
// and what watches the link (null: nothing).
SessionConfig SessionConfigOf(const CliOptions& options, LinkObserver* observer);

// "Ctrl+C" or "SIGTERM" once a stop was asked for, else empty.
std::string StopName();

// The identity as the window pre-fills it: what the operator gave, else what
// the board holds; and the read-back mode asked for.
RunRequest RequestFor(const CliOptions& options, const Session& session);

// "Board ADDR over UDP: revision B, serial number 123456, hardware VR32".
void PrintBoard(std::FILE* diag, const std::string& address, const Session& session);

// Closes the session's link if open; a close the socket library refuses is
// reported on diag with the window's text, and changes no outcome.
void CloseSession(Session& session, std::FILE* diag);
