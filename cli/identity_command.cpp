// tovrin-cli identity: the window's Connect, printed.

#include <chrono>
#include <string>

#include "cli/board_session.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/text_output.h"

namespace {
constexpr const char kIdentityRead[] = "Identity read";
}

int RunIdentity(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  BoardSession session(options.waits);
  std::string message = kIdentityRead;
  int code = StartTrace(options.traceFile, options.pcapFile, session, message);
  if (code == 0) code = BeginBoardSession(options.board, session, message);
  EndBoardSession(session, DiagnosticStream(options, streams));

  if (options.json) {
    const Json report{{"command", "identity"},     {"board", options.board},
                      {"link", LinkJson(session)}, {"identity", IdentityJson(session)},
                      {"result", code},            {"message", message},
                      {"cause", CauseJson(OutcomeCause(LinkCommand::kRead, session.identityOutcome))},
                      {"seconds", SecondsSince(started)}};
    std::fprintf(streams.out, "%s\n", JsonLine(report).c_str());
  } else if (code != 0) {
    std::fprintf(streams.out, "%s\n", message.c_str());
    if (const auto cause = OutcomeCause(LinkCommand::kRead, session.identityOutcome)) {
      std::fprintf(streams.out, "Cause: %s\n", CauseText(*cause).c_str());
    }
  } else {
    std::fprintf(streams.out,
                 "Board:         %s\n"
                 "Link:          %s\n"
                 "Revision:      %s\n"
                 "Serial number: %s\n"
                 "Hardware:      %s\n",
                 options.board.c_str(), LinkTypeText(session.link.mode), Printable(session.texts.revision).c_str(),
                 Printable(session.texts.serialNumber).c_str(), Printable(session.texts.hardware).c_str());
  }
  std::fflush(streams.out);
  // The read is bounded and has ended either way; the shell still learns of the stop.
  return session.wire.Finish(InterruptStatus() != 0 ? InterruptStatus() : code, streams.err);
}
