// A gang of N slots (1, 2, 4, 8, 16, 32), each programming a full image (2047
// frames) into a board of its own behind a network port of its own, beside one
// slot programming one board. Every board answers each request after
// kReplyDelayMs, so a run lasts several seconds and the boards, not the CPU,
// set the pace: N slots should take at most 1.2 times what one slot takes for
// one board (x_one_slot <= 1.2).
//
// tovrin-cli runs as a child process, as on a station, with --count N and one
// --interface per port; the time is the whole command (start, file read,
// probe, identity, erase, frames, lock). Counters: boards_per_hour (N boards in
// that time, board changes not counted), x_one_slot, rss_kb (the command's peak
// resident memory) and rss_per_slot_kb (what each slot adds above one slot).
//
// The ports are veth pairs, each board's end in a namespace of its own
// (tests/support/board_ports.h), inside a network namespace the benchmark
// enters for itself before anything else; scripts/bench runs it inside
// scripts/private-net as well.

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/full_image.h"
#include "tests/support/board_ports.h"
#include "tests/support/child_process.h"
#include "tests/support/private_network.h"

namespace {

// 2047 frames: a run of about ten seconds, long beside the CPU time 32 slots
// and their boards take on a station of two cores.
constexpr int kReplyDelayMs = 4;
constexpr int kRunWaitMs = 300000;
constexpr double kSecondsPerHour = 3600;

struct GangRun {
  bool ok = false;
  std::string error;
  double seconds = 0;
  long rssKb = 0;
};

GangRun RunGang(int slots) {
  GangRun run;
  SimOptions board;
  board.faults.replyDelayMs = kReplyDelayMs;
  BoardPorts ports(std::vector<SimOptions>(static_cast<std::size_t>(slots), board));
  if (!ports.Error().empty()) {
    run.error = ports.Error();
    return run;
  }
  char folder[] = "/tmp/gang-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    run.error = "no temporary folder";
    return run;
  }
  const std::string dir = folder;
  std::vector<std::string> args = {"--quiet", "--json", "batch", bench::ImageFile().Path(), "--serial-from", "SN0001",
                                   "--state", dir + "/line.state", "--log", dir + "/line.jsonl", "--count",
                                   std::to_string(slots)};
  for (int port = 1; port <= slots; ++port) {
    args.push_back("--interface");
    args.push_back(ports.Name(port));
  }
  const auto start = std::chrono::steady_clock::now();
  ChildProcess cli(TOVRIN_CLI_PATH, args);
  const int status = cli.Wait(kRunWaitMs);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::filesystem::remove_all(dir);
  run.seconds = elapsed.count();
  run.rssKb = cli.MaxRssKb();
  for (int port = 1; port <= slots; ++port) {
    if (ports.Board(port).ProgramFramesWritten() != bench::kFullImageFrames || !ports.Board(port).Locked()) {
      run.error = "the board on port " + std::to_string(port) + " did not get the whole image";
    }
  }
  if (status != 0) run.error = "tovrin-cli exited with " + std::to_string(status) + ": " + cli.Err();
  run.ok = run.error.empty();
  return run;
}

void Gang(benchmark::State& state) {
  // The one-slot figures the others are set beside; Arg(1) runs first.
  static double oneSlotSeconds = 0;
  static long oneSlotRssKb = 0;
  const int slots = static_cast<int>(state.range(0));
  if (bench::ImageFile().Path().empty()) {
    state.SkipWithError("cannot write the S-record file");
    return;
  }
  double seconds = 0;
  long rssKb = 0;
  for (auto _ : state) {
    const GangRun run = RunGang(slots);
    if (!run.ok) {
      state.SkipWithError(run.error.c_str());
      return;
    }
    state.SetIterationTime(run.seconds);
    seconds += run.seconds;
    rssKb = std::max(rssKb, run.rssKb);
  }
  const double perRun = seconds / static_cast<double>(state.iterations());
  if (slots == 1) {
    oneSlotSeconds = perRun;
    oneSlotRssKb = rssKb;
  }
  state.counters["boards_per_hour"] = slots * kSecondsPerHour / perRun;
  state.counters["rss_kb"] = static_cast<double>(rssKb);
  if (oneSlotSeconds > 0) state.counters["x_one_slot"] = perRun / oneSlotSeconds;
  if (slots > 1 && oneSlotRssKb > 0) {
    state.counters["rss_per_slot_kb"] = static_cast<double>(rssKb - oneSlotRssKb) / (slots - 1);
  }
}

BENCHMARK(Gang)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  // Before any thread: the ports are built in a namespace of the benchmark's own.
  EnterPrivateNetwork();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
