// The varnel-sim program: a board on the loopback (or, inside a private network
// namespace, on the board's own address) for the window's demo and for tests
// that need a board in another process.

#include <cstdio>
#include <mutex>
#include <string>

#include "sim/sim_args.h"
#include "sim/sim_board.h"
#include "os/stop.h"

namespace {

constexpr int kExitUsage = 64;  // as sysexits' EX_USAGE
constexpr int kExitFailure = 1;

const char* CommandName(char command) {
  switch (command) {
    case 'u': return "read";
    case 'e': return "erase";
    case 'p': return "program";
    case 'l': return "lock";
    default: return "unknown";
  }
}

// One short line per command, e.g. "udp program 0x00001000 ok"; on a line of
// boards it starts with the board's number, e.g. "board 2 udp read ...".
void PrintEvent(const SimEvent& e, bool line) {
  if (line) std::printf("board %d ", e.board);
  std::printf("%s %s", e.udp ? "udp" : "tcp", CommandName(e.command));
  if (e.command == 'u' || e.command == 'p') std::printf(" 0x%08x", static_cast<unsigned>(e.address));
  const char* outcome = e.command == '?' ? "ignored" : !e.replied ? "no reply" : e.accepted ? "ok" : "refused";
  std::printf(" %s%s\n", outcome, e.repeat ? " again" : "");
  std::fflush(stdout);
}

}  // namespace

int RunSimMain(int argc, char** argv) {
  sim::SimArgs args;
  std::string error;
  if (!sim::ParseSimArgs(argc, argv, args, error)) {
    std::fprintf(stderr, "varnel-sim: %s (see --help)\n", error.c_str());
    return kExitUsage;
  }
  if (args.help) {
    std::fputs(sim::kSimUsage, stdout);
    return 0;
  }

  // Before the board's thread exists, so that the requests reach the wait here.
  StopRequests stopRequests;

  std::mutex output;  // "ready" comes before the first command's line
  if (!args.quiet) {
    const bool line = args.options.lineBoards > 0;
    args.options.onEvent = [&output, line](const SimEvent& e) {
      std::lock_guard lock(output);
      PrintEvent(e, line);
    };
  }
  int status = 0;
  {
    SimBoard board;
    bool started = false;
    {
      std::lock_guard lock(output);
      started = board.Start(args.options);
      if (started) {
        std::puts("ready");
        std::fflush(stdout);
      }
    }
    if (started) {
      stopRequests.WaitFor(args.options.timeLimitSeconds);
      board.Stop();  // writes the flash file
    }
    if (!board.Error().empty()) {
      std::fprintf(stderr, "varnel-sim: %s\n", board.Error().c_str());
      status = kExitFailure;
    }
  }
  return status;
}
