// station-ui-demo: the station's server over a scripted line, for the browser
// tests and the guide's pictures; nothing here talks to a board.
//   station-ui-demo [--listen ADDR:PORT] [--view-token-file FILE] [--scan] [--scene]
// Prints "ready PORT" once it listens, and "control: start|stop|bind SLOT SERIAL"
// for every request the control accepts. Without --scene, Start runs four
// slots through boards (the second fails every other board) until Stop; with
// --scene the page shows a shift already under way and does not change.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "station_ui/station_app.h"
#include "station_ui/station_server.h"

using namespace station_ui;
using namespace std::chrono_literals;

namespace {

constexpr int kSlots = 4;
constexpr int kFrames = 40;
const char* const kPorts[kSlots] = {"enp3s0", "enp4s0", "enp5s0", "enp6s0"};
const char* const kCauses[] = {"No reply from the board during erase", "Read-back differs at 0x08400",
                               "Wrong hardware: VR16, expected VR32"};

std::atomic<std::int64_t> gClockBackMs{0};  // --scene: the model's clock runs this far behind

class ScriptedLine final : public StationControl {
 public:
  ScriptedLine(StationModel& model, bool scan) : model_(model), scan_(scan) {}
  ~ScriptedLine() override { Join(); }

  ControlAnswer Start() override {
    std::lock_guard lock(mutex_);
    if (running_) return {false, "The line is already running."};
    Join();
    running_ = true;
    stop_ = false;
    std::printf("control: start\n");
    std::fflush(stdout);
    model_.LineStarted();
    for (int slot = 0; slot < kSlots; ++slot) threads_.emplace_back([this, slot] { RunSlot(slot); });
    return {true, "The line is running."};
  }

  ControlAnswer Stop() override {
    std::lock_guard lock(mutex_);
    if (!running_) return {false, "The line is not running."};
    std::printf("control: stop\n");
    std::fflush(stdout);
    stop_ = true;
    model_.LineStopping();
    return {true, "Every slot stops at its next exchange."};
  }

  ControlAnswer BindSerial(int slot, const std::string& serial) override {
    std::lock_guard lock(mutex_);
    const bool wellFormed = serial.size() == 6 && serial.rfind("SN", 0) == 0 &&
                            serial.find_first_not_of("0123456789", 2) == std::string::npos;
    if (!wellFormed) return {false, "Refused: " + serial + " is not a serial number (SN and four digits)."};
    if (!used_.insert(serial).second) return {false, "Refused: " + serial + " is already programmed or pending."};
    std::printf("control: bind %d %s\n", slot, serial.c_str());
    std::fflush(stdout);
    model_.SlotNextSerial(slot, serial);
    return {true, serial + " goes to the next board on " + kPorts[slot] + "."};
  }

 private:
  void Join() {
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  bool Pause(std::chrono::milliseconds wait) {
    for (auto left = wait; left > 0ms; left -= 50ms) {
      if (stop_) return false;
      std::this_thread::sleep_for(50ms);
    }
    return !stop_;
  }

  void RunSlot(int slot) {
    int board = 0;
    while (true) {
      model_.SlotWaiting(slot);
      if (!Pause(300ms + slot * 150ms)) break;
      model_.SlotBoardSeen(slot, {"A", "", "VR32"});
      const std::string serial = "SN" + std::to_string(1000 + slot * 100 + board);
      bool stopped = false;
      for (int frame = 0; frame <= kFrames && !stopped; frame += 4) {
        model_.SlotProgramming(slot, serial, frame, kFrames);
        stopped = !Pause(100ms);
      }
      if (stopped) break;
      BoardOutcome outcome;
      outcome.passed = !(slot == 1 && board % 2 == 1);
      outcome.serial = serial;
      outcome.cause = outcome.passed ? "" : kCauses[board % 3];
      outcome.seconds = 1.2 + slot * 0.1;
      outcome.recordJson = "{\"serial\":\"" + serial + "\",\"result\":" + (outcome.passed ? "0" : "5") + "}";
      model_.SlotBoardDone(slot, outcome);
      model_.SlotWatchingGo(slot);
      ++board;
      if (!Pause(outcome.passed ? 700ms : 1500ms)) break;
    }
    model_.SlotEnded(slot, "Stopped by the operator");
    if (--live_ == 0) {
      std::lock_guard lock(mutex_);
      running_ = false;
      live_ = kSlots;
      model_.LineEnded("Stopped by the operator.");
    }
  }

  StationModel& model_;
  bool scan_;
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  std::set<std::string> used_;
  std::atomic<bool> stop_{false};
  std::atomic<int> live_{kSlots};
  bool running_ = false;
};

// A shift three hours under way, with a board on every slot in a different state.
void PlayScene(StationModel& model) {
  gClockBackMs = 180 * 60 * 1000;
  model.LineStarted();  // the shift's start, three hours ago
  int serial = 1001;
  for (int minute = 178; minute > 0; minute -= 2) {
    gClockBackMs = static_cast<std::int64_t>(minute) * 60 * 1000;
    const int slot = serial % kSlots;
    BoardOutcome outcome;
    outcome.passed = minute % 23 != 1 && minute % 37 != 3;
    outcome.serial = "SN" + std::to_string(serial++);
    outcome.cause = outcome.passed ? "" : kCauses[minute % 3];
    outcome.retry = outcome.passed && minute % 29 == 0;
    outcome.seconds = 9.5 + (minute % 7) * 0.4;
    model.SlotBoardSeen(slot, {"A", "", "VR32"});
    model.SlotBoardDone(slot, outcome);
  }
  gClockBackMs = 0;
  model.SlotBoardSeen(0, {"A", "", "VR32"});
  model.SlotProgramming(0, "SN" + std::to_string(serial++), 26, 44);
  model.SlotBoardSeen(1, {"A", "SN0977", "VR32"});
  BoardOutcome failed;
  failed.serial = "SN" + std::to_string(serial++);
  failed.cause = "Read-back differs at 0x08400";
  failed.seconds = 11.8;
  model.SlotBoardDone(1, failed);
  model.SlotWatchingGo(1);
  model.SlotBoardSeen(2, {"A", "", "VR32"});
  BoardOutcome passed;
  passed.passed = true;
  passed.serial = "SN" + std::to_string(serial++);
  passed.seconds = 9.7;
  model.SlotBoardDone(2, passed);
  model.SlotWatchingGo(2);
  model.SlotWaiting(3);
  model.SetNextSerial("SN" + std::to_string(serial));
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = "127.0.0.1:8765";
  std::string tokenFile;
  bool scan = false;
  bool scene = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--listen" && i + 1 < argc) listen = argv[++i];
    else if (arg == "--view-token-file" && i + 1 < argc) tokenFile = argv[++i];
    else if (arg == "--scan") scan = true;
    else if (arg == "--scene") scene = true;
    else {
      std::fprintf(stderr, "station-ui-demo: unknown argument %s\n", arg.c_str());
      return 64;
    }
  }
  StationOptions options;
  if (const std::string problem = ParseListen(listen, options.listenAddress, options.listenPort); !problem.empty()) {
    std::fprintf(stderr, "station-ui-demo: %s\n", problem.c_str());
    return 64;
  }
  StationSetup setup;
  if (!tokenFile.empty()) {
    std::FILE* file = std::fopen(tokenFile.c_str(), "r");
    char line[256] = {};
    if (file == nullptr || std::fgets(line, sizeof line, file) == nullptr) return 66;
    std::fclose(file);
    setup.viewToken = line;
    while (!setup.viewToken.empty() && (setup.viewToken.back() == '\n' || setup.viewToken.back() == '\r')) {
      setup.viewToken.pop_back();
    }
  }
  StationModel model(std::vector<std::string>(kPorts, kPorts + kSlots), [] {
    return std::chrono::system_clock::now() - std::chrono::milliseconds(gClockBackMs.load());
  });
  JobFacts job;
  job.fileName = "varnel-vr32-4.2.0.s19";
  job.sha256 = "07b829bc34d7ce1b4ff4963c0e4ecd856a2ada9e80494c2bade150f55ede4618";
  job.format = "S-records";
  job.revision = "A";
  job.scan = scan;
  job.serialSource = scan ? "scanned at each slot, kept in state file line.state" : "state file line.state";
  job.nextSerial = scan ? "" : "SN1000";
  job.verify = "every frame";
  job.expectHardware = "VR32";
  if (scene) {  // the shift of a line that runs an engineer's signed job
    job.jobName = "vr32-main-4.2";
    job.jobSigner = "3f9c1d2e8a47b6055e1c9d0a7b2f4e6183c5a9d7e0f2b4c6a8d1e3f5a7c9b0d2";
  }
  model.SetJob(job);
  ScriptedLine line(model, scan);

  ServerSettings settings;
  settings.address = options.listenAddress;
  settings.port = options.listenPort;
  settings.viewToken = setup.viewToken;
  StationServer server(model, line, settings);
  std::string error;
  if (!server.Listen(error)) {
    std::fprintf(stderr, "station-ui-demo: %s\n", error.c_str());
    return 69;
  }
  if (scene) PlayScene(model);
  server.StopOnInterrupt([&line](const std::string&) { line.Stop(); });
  std::printf("ready %u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  server.Run();
  return 0;
}
