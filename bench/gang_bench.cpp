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
// StationGang/4 runs the same gang of 4 through the station instead: the real
// LineStation and web server in this process, 3 clients reading the live
// stream (GET /api/events) and one that connects to it and never reads, Start
// called as the page's button does, the time from Start to the line's end.
// Counters: x_batch (against Gang/4's time; at most 1.03), event_p95_ms and
// event_max_ms (from a frame reaching its board to the progress event that
// names it reaching a reader: the board's reply delay and the link included),
// events (what the readers got). StationClients/50 connects 50 stream
// clients to an idle station: rss_kb (the whole process: station, benchmark
// and one in-process board), rss_kb_added and rss_kb_per_client (what the
// clients' connections added), accepted (the server holds
// server_const::kMaxConnections; the rest get 503).
//
// The ports are veth pairs, each board's end in a namespace of its own
// (tests/support/board_ports.h), inside a network namespace the benchmark
// enters for itself before anything else; scripts/bench runs it inside
// scripts/private-net as well.

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/full_image.h"
#include "station_ui/line_station.h"
#include "station_ui/station_server.h"
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

// Gang/4's time per run, which StationGang/4 is set beside.
double batchFourSeconds = 0;

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
  if (slots == 4) batchFourSeconds = perRun;
  state.counters["boards_per_hour"] = slots * kSecondsPerHour / perRun;
  state.counters["rss_kb"] = static_cast<double>(rssKb);
  if (oneSlotSeconds > 0) state.counters["x_one_slot"] = perRun / oneSlotSeconds;
  if (slots > 1 && oneSlotRssKb > 0) {
    state.counters["rss_per_slot_kb"] = static_cast<double>(rssKb - oneSlotRssKb) / (slots - 1);
  }
}

BENCHMARK(Gang)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);


using Steady = std::chrono::steady_clock;

// A client of the live stream on its own socket: reads it (or, `reads` false,
// only asks for it and never reads) and notes when each slot's progress
// event arrived.
class StreamClient {
 public:
  struct Arrival {
    int slot;
    int acked;
    Steady::time_point at;
  };

  StreamClient(unsigned short port, bool reads) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return;
    const std::string ask = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    if (::send(fd_, ask.data(), ask.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(ask.size())) return;
    connected_ = true;
    if (reads) thread_ = std::thread([this] { Read(); });
  }
  ~StreamClient() {
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  bool Connected() const { return connected_; }
  // The stream was opened (200), as the first bytes the server sent say;
  // without reading them.
  bool Streaming() const {
    char head[12];
    const ssize_t got = ::recv(fd_, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
    return got == static_cast<ssize_t>(sizeof head) && std::string(head, sizeof head) == "HTTP/1.1 200";
  }
  std::vector<Arrival> Arrivals() {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }

 private:
  void Read() {
    std::string pending;
    char buffer[16384];
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) return;
      const Steady::time_point at = Steady::now();
      pending.append(buffer, static_cast<std::size_t>(got));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        const std::string line = pending.substr(0, end);
        if (line.rfind("data: ", 0) != 0) continue;
        const nlohmann::json event = nlohmann::json::parse(line.substr(6), nullptr, false);
        if (event.is_discarded() || event.value("kind", "") != "slot") continue;
        const nlohmann::json& slot = event["slot"];
        if (slot.value("state", "") != "programming" || slot.value("acked", 0) <= 0) continue;
        std::lock_guard lock(mutex_);
        arrivals_.push_back({slot["index"].get<int>(), slot["acked"].get<int>(), at});
      }
    }
  }

  int fd_ = -1;
  bool connected_ = false;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Arrival> arrivals_;
};

// When each accepted program frame reached its board, by port and frame (from 1).
class FrameTimes {
 public:
  explicit FrameTimes(int ports) : times_(static_cast<std::size_t>(ports)) {}
  SimOptions Board(int port) {
    SimOptions board;
    board.faults.replyDelayMs = kReplyDelayMs;
    board.onEvent = [this, port](const SimEvent& e) {
      if (e.command != 'p' || !e.accepted || e.repeat) return;
      std::lock_guard lock(mutex_);
      times_[static_cast<std::size_t>(port)].push_back(Steady::now());
    };
    return board;
  }
  // Frame `acked` of `port`'s board; false when it was not seen.
  bool At(int port, int acked, Steady::time_point& at) {
    std::lock_guard lock(mutex_);
    const auto& frames = times_[static_cast<std::size_t>(port)];
    if (acked < 1 || acked > static_cast<int>(frames.size())) return false;
    at = frames[static_cast<std::size_t>(acked - 1)];
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<std::vector<Steady::time_point>> times_;
};

long RssKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The station over the boards of `ports`: its model, line and server, the
// server on a thread of its own.
struct Station {
  Station(BoardPorts& ports, const std::string& dir, int count) : model(Names(ports)), line(Options(ports, dir, count), {}, model),
        server(model, line, Settings()) {}
  static std::vector<std::string> Names(BoardPorts& ports) {
    std::vector<std::string> names;
    for (int port = 1; port <= ports.Count(); ++port) names.push_back(ports.Name(port));
    return names;
  }
  static station_ui::StationOptions Options(BoardPorts& ports, const std::string& dir, int count) {
    station_ui::StationOptions options;
    options.file = bench::ImageFile().Path();
    options.serialFrom = "SN0001";
    options.stateFile = dir + "/line.state";
    options.logFile = dir + "/line.jsonl";
    options.count = count;
    options.interfaces = Names(ports);
    return options;
  }
  static station_ui::ServerSettings Settings() {
    station_ui::ServerSettings settings;
    settings.port = 0;
    return settings;
  }
  bool Serve(std::string& error) {
    if (!server.Listen(error)) return false;
    thread = std::thread([this] { server.Run(); });
    return true;
  }
  ~Station() {
    line.StopAndWait("the benchmark");
    server.Stop();
    if (thread.joinable()) thread.join();
  }
  std::string LineState() const { return nlohmann::json::parse(model.SnapshotJson())["line"]["state"]; }

  station_ui::StationModel model;
  station_ui::LineStation line;
  station_ui::StationServer server;
  std::thread thread;
};

struct StationRun {
  std::string error;
  double seconds = 0;
  std::vector<double> eventMs;  // every reader's progress events
};

StationRun RunStation(int slots) {
  StationRun run;
  FrameTimes frames(slots + 1);
  std::vector<SimOptions> boards;
  for (int port = 1; port <= slots; ++port) boards.push_back(frames.Board(port));
  BoardPorts ports(boards);
  if (!ports.Error().empty()) {
    run.error = ports.Error();
    return run;
  }
  char folder[] = "/tmp/station-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    run.error = "no temporary folder";
    return run;
  }
  {
    Station station(ports, folder, slots);
    if (!station.Serve(run.error)) return run;
    std::vector<std::unique_ptr<StreamClient>> readers;
    for (int i = 0; i < 3; ++i) readers.push_back(std::make_unique<StreamClient>(station.server.Port(), true));
    const StreamClient stalled(station.server.Port(), false);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the streams stand before Start
    const auto start = Steady::now();
    station.line.Start();
    while (station.LineState() != "ended") {
      if (Steady::now() - start > std::chrono::milliseconds(kRunWaitMs)) {
        run.error = "the line did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.seconds = std::chrono::duration<double>(Steady::now() - start).count();
    const std::string summary = nlohmann::json::parse(station.model.SnapshotJson())["line"]["summary"];
    if (summary.find(std::to_string(slots) + " passed, 0 failed") == std::string::npos) run.error = summary;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last events on their way
    for (auto& reader : readers) {
      for (const StreamClient::Arrival& a : reader->Arrivals()) {
        // The slot's index is its port's place, from 0.
        if (Steady::time_point sent; frames.At(a.slot + 1, a.acked, sent)) {
          run.eventMs.push_back(std::chrono::duration<double, std::milli>(a.at - sent).count());
        }
      }
    }
  }
  std::filesystem::remove_all(folder);
  for (int port = 1; port <= slots && run.error.empty(); ++port) {
    if (ports.Board(port).ProgramFramesWritten() != bench::kFullImageFrames || !ports.Board(port).Locked()) {
      run.error = "the board on port " + std::to_string(port) + " did not get the whole image";
    }
  }
  return run;
}

void StationGang(benchmark::State& state) {
  const int slots = static_cast<int>(state.range(0));
  double seconds = 0;
  std::vector<double> eventMs;
  for (auto _ : state) {
    StationRun run = RunStation(slots);
    if (!run.error.empty()) {
      state.SkipWithError(run.error.c_str());
      return;
    }
    state.SetIterationTime(run.seconds);
    seconds += run.seconds;
    eventMs.insert(eventMs.end(), run.eventMs.begin(), run.eventMs.end());
  }
  const double perRun = seconds / static_cast<double>(state.iterations());
  state.counters["boards_per_hour"] = slots * kSecondsPerHour / perRun;
  if (batchFourSeconds > 0 && slots == 4) state.counters["x_batch"] = perRun / batchFourSeconds;
  std::sort(eventMs.begin(), eventMs.end());
  state.counters["events"] = static_cast<double>(eventMs.size());
  if (!eventMs.empty()) {
    state.counters["event_p95_ms"] = eventMs[eventMs.size() * 95 / 100];
    state.counters["event_max_ms"] = eventMs.back();
  }
}

void StationClients(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  BoardPorts ports({SimOptions{}});
  if (!ports.Error().empty()) {
    state.SkipWithError(ports.Error().c_str());
    return;
  }
  char folder[] = "/tmp/station-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  long addedKb = 0;
  int accepted = 0;
  for (auto _ : state) {
    Station station(ports, folder, 1);
    std::string error;
    if (!station.Serve(error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long before = RssKb();
    std::vector<std::unique_ptr<StreamClient>> streams;
    for (int i = 0; i < clients; ++i) streams.push_back(std::make_unique<StreamClient>(station.server.Port(), false));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // each served or refused
    addedKb = RssKb() - before;
    accepted = static_cast<int>(std::count_if(streams.begin(), streams.end(), [](const auto& c) { return c->Streaming(); }));
  }
  std::filesystem::remove_all(folder);
  state.counters["rss_kb"] = static_cast<double>(RssKb());
  state.counters["rss_kb_added"] = static_cast<double>(addedKb);
  state.counters["rss_kb_per_client"] = static_cast<double>(addedKb) / clients;
  state.counters["accepted"] = accepted;
}

BENCHMARK(StationGang)->Arg(4)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(StationClients)->Arg(50)->Iterations(1);

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
