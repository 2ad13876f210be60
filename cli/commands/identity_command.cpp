// tovrin-cli identity: the window's Connect, printed.

#include <chrono>
#include <string>

#include "cli/commands.h"
#include "cli/commands/board_view.h"
#include "cli/exit_codes.h"
#include "cli/output/text_output.h"
#include "line/wire_record.h"
#include "os/stop.h"
#include "run/one_board.h"

int RunIdentity(const CliOptions& options, const CliStreams& streams) {
  const auto started = std::chrono::steady_clock::now();
  WireRecord wireFiles;  // --trace and --pcap
  std::string refused;
  CliBoardView view(DiagnosticStream(options, streams), true, nullptr);
  const RunReport report = wireFiles.Open(options.traceFile, options.pcapFile, refused)
                               ? IdentifyBoard(BoardAddressOf(options, wireFiles.Observer()), view)
                               : RecordRefusedReport(options.board, refused);
  const std::optional<RunCause> cause = CauseOf(report);

  if (options.json) {
    Json json{{"command", "identity"}, {"board", options.board}};
    if (!options.interfaces.empty()) json["interface"] = TheInterface(options);
    json["link"] = report.connected ? Json(LinkTypeText(report.transport)) : Json(nullptr);
    json["identity"] = report.identityRead ? IdentityJson(report.identityBefore) : Json(nullptr);
    json["result"] = RunResultJson(report);
    json["message"] = RunMessage(report);
    json["cause"] = CauseJson(cause);
    json["seconds"] = SecondsSince(started);
    std::fprintf(streams.out, "%s\n", JsonLine(json).c_str());
  } else if (report.stage != RunStage::kConnected) {
    std::fprintf(streams.out, "%s\n", RunMessage(report).c_str());
    if (cause) std::fprintf(streams.out, "Cause: %s\n", CauseText(*cause).c_str());
  } else {
    const IdentityTexts texts = DescribeIdentity(report.identityBefore);
    std::fprintf(streams.out, "Board:         %s\n", options.board.c_str());
    if (!options.interfaces.empty()) std::fprintf(streams.out, "Interface:     %s\n", Printable(TheInterface(options)).c_str());
    std::fprintf(streams.out,
                 "Link:          %s\n"
                 "Revision:      %s\n"
                 "Serial number: %s\n"
                 "Hardware:      %s\n",
                 LinkTypeText(report.transport), Printable(texts.revision).c_str(),
                 Printable(texts.serialNumber).c_str(), Printable(texts.hardware).c_str());
  }
  std::fflush(streams.out);
  // The read is bounded and has ended either way; the shell still learns of the stop.
  return WatchStatus(wireFiles.Losses(), InterruptStatus() != 0 ? InterruptStatus() : RunExitStatus(report, 0), streams.err);
}
