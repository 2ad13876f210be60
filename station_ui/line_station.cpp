#include "station_ui/line_station.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "common/text.h"
#include "line/line_run.h"
#include "line/scanned_serials.h"
#include "run/run_record.h"
#include "station_ui/station_job.h"

namespace station_ui {

namespace {

VerifyMode VerifyOf(const std::string& verify) {
  if (verify == "full") return VerifyMode::kFull;
  if (verify == "frames") return VerifyMode::kFrames;
  return VerifyMode::kNone;
}

}  // namespace

LineConfig LineConfigOf(const StationOptions& options, const OpenedJob& approved) {
  LineConfig config;
  config.file = options.file;
  if (HasJob(approved)) config.input = JobInput(approved.job);
  if (!options.revision.empty()) config.revision = options.revision;
  config.serialFrom = options.serialFrom;
  config.scanned = options.scanSerials;
  config.verify = VerifyOf(options.verify);
  config.expectHardware = options.expectHardware;
  config.ports = options.interfaces;
  config.count = options.count;
  // The same records as tovrin-cli batch leaves for a board: the station is
  // another face of that line, not another kind of run.
  config.command = "batch";
  return config;
}

LineFileNames LineFileNamesOf(const StationOptions& options) {
  return {options.logFile, options.traceFile, options.pcapFile, options.stateFile, options.dbTarget,
          static_cast<int>(options.interfaces.size())};
}

std::string LineRefusal(const StationOptions& options) {
  if (options.scanSerials) return "";
  if (options.serialFrom.empty() || options.serialFrom.back() < '0' || options.serialFrom.back() > '9') {
    return "--serial-from " + Printable(options.serialFrom) + " does not end in digits that can count up";
  }
  return "";
}

// One slot's events, turned into its tile's. Called on that slot's thread only.
class LineStation::Tile : public SlotObserver {
 public:
  Tile(StationModel& model, int index, std::string port) : model_(model), index_(index), port_(std::move(port)) {}

  void Waiting(const SlotId&, const std::string& nextSerial) override {
    model_.SlotWaiting(index_);
    if (!nextSerial.empty()) model_.SetNextSerial(nextSerial);
  }
  void WaitingForSerial(const SlotId&) override { model_.SlotWaitingForSerial(index_); }
  void BoardSeen(const SlotId&, LinkMode, bool identityRead, const IdentityTexts& found) override {
    BoardIdentity identity;
    if (identityRead) identity = {found.revision, found.serialNumber, found.hardware};
    model_.SlotBoardSeen(index_, identity);
  }
  void Programming(const SlotId&, LinkMode, const IdentityTexts&, const std::string& serial) override {
    serial_ = serial;
    acked_ = 0;
    total_ = 0;
    Progress(true);
  }
  void RunStarted(const SlotId&, int frames) override {
    total_ = frames;
    Progress(true);
  }
  void FrameAcknowledged(const SlotId&, int, std::uint32_t) override {
    ++acked_;
    Progress(acked_ == total_);
  }
  void BoardDone(const SlotId&, const BoardResult& board, const RunReport&, const Json& record) override {
    station_ui::BoardOutcome outcome;
    outcome.passed = board.outcome == ::BoardOutcome::kPassed;
    outcome.serial = board.serial;
    outcome.cause = outcome.passed ? "" : (board.cause.empty() ? board.message : board.cause);
    outcome.seconds = board.times.seconds;
    outcome.retry = board.retry;
    outcome.recordJson = JsonLine(record);
    model_.SlotBoardDone(index_, outcome);
  }
  void WaitingToGo(const SlotId&) override { model_.SlotWatchingGo(index_); }
  void Problem(const SlotId&, SlotProblem, const std::string& detail) override {
    std::fprintf(stderr, "tovrin-station: %s: %s\n", Printable(port_).c_str(), detail.c_str());
  }
  void Diagnostic(const SlotId&, const std::string& line) override {
    // A line on the default port has no port name to put before it.
    if (port_.empty()) {
      std::fprintf(stderr, "%s\n", line.c_str());
    } else {
      std::fprintf(stderr, "%s: %s\n", Printable(port_).c_str(), line.c_str());
    }
  }
  void Ended(const SlotId&, const SlotFigures& figures) override { model_.SlotEnded(index_, figures.endingText); }

 private:
  // A board has some two thousand frames: the tile (and every viewer's
  // stream) is told of them a few times a second, and of the last one.
  void Progress(bool now) {
    const auto at = std::chrono::steady_clock::now();
    if (!now && at - lastShown_ < std::chrono::milliseconds(line_station_const::kProgressMs)) return;
    lastShown_ = at;
    model_.SlotProgramming(index_, serial_, acked_, total_);
  }

  StationModel& model_;
  const int index_;
  const std::string port_;
  std::string serial_;
  int acked_ = 0;
  int total_ = 0;
  std::chrono::steady_clock::time_point lastShown_;
};

LineStation::LineStation(const StationOptions& options, const JobFacts& job, StationModel& model,
                         const OpenedJob& approved)
    : options_(options), approved_(approved), config_(LineConfigOf(options, approved)), job_(job), model_(model) {}

LineStation::~LineStation() { StopAndWait("the station's end"); }

ControlAnswer LineStation::Start() {
  std::lock_guard lock(mutex_);
  if (running_) return {false, "The line is already running."};
  // The last run has ended; its thread is on its way out.
  if (thread_.joinable()) thread_.join();
  stop_ = std::make_unique<LineStopFlag>();
  running_ = true;
  model_.LineStarted();
  thread_ = std::thread([this, stop = stop_.get()] { Run(*stop); });
  return {true, "The line is starting."};
}

ControlAnswer LineStation::Stop() {
  std::lock_guard lock(mutex_);
  if (!running_) return {false, "The line is not running."};
  stop_->Request("the operator");
  model_.LineStopping();
  return {true, "Stopping: each slot ends at its next exchange; a board being programmed is left unlocked."};
}

ControlAnswer LineStation::BindSerial(int slot, const std::string& serial) {
  if (!config_.scanned) return {false, "This station takes its serial numbers from --serial-from, not from a scan."};
  const std::vector<SlotId> ids = SlotsOf(config_);
  if (slot < 0 || slot >= static_cast<int>(ids.size())) return {false, "There is no such slot."};
  std::lock_guard lock(mutex_);
  if (line_ == nullptr) return {false, "The line is not running: start it, then scan the board's label."};
  const BindAnswer answer = line_->BindSerial(ids[static_cast<std::size_t>(slot)].port, serial);
  return {answer.accepted, answer.words};
}

void LineStation::StopAndWait(const std::string& by) {
  {
    std::lock_guard lock(mutex_);
    if (running_) {
      stop_->Request(by);
      model_.LineStopping();
    }
  }
  if (thread_.joinable()) thread_.join();
}

void LineStation::Run(LineStopFlag& stop) {
  std::string summary;
  try {
    LineFiles files;
    const LineEnding refused = files.Open(LineFileNamesOf(options_), summary);
    LineOpening opening;
    if (refused == LineEnding::kNone) {
      opening = OpenLine(config_, *files.Store());
      // The loader's diagnostic lines, where the station always wrote them.
      for (const std::string& line : opening.file.load.diagnostics) std::fputs(line.c_str(), stdout);
      summary = opening.endingText;
    }
    // The very firmware this run programs is held against the job, before
    // any board is met; it carries the job into the records from then on.
    std::string notTheJobs;
    if (refused == LineEnding::kNone && opening.Opened()) notTheJobs = JobFirmwareRefusal(approved_, opening.file);
    if (!notTheJobs.empty()) summary = notTheJobs;
    if (refused == LineEnding::kNone && opening.Opened() && notTheJobs.empty()) {
      // The page shows the file this run read, should it have changed since.
      job_.sha256 = opening.file.sha256;
      model_.SetJob(job_);
      const std::vector<SlotId> ids = SlotsOf(config_);
      // Each slot's bound number on its tile.
      ScannedSerials scanned(*files.Store(), [this, &ids](const std::string& port, const std::string& serial) {
        for (std::size_t i = 0; i < ids.size(); ++i) {
          if (ids[i].port == port) model_.SlotNextSerial(static_cast<int>(i), serial);
        }
      });
      ProductionLine line(config_, *files.Store(), files.StoreName(), files.KeepsRecords(), files.Log(),
                          config_.scanned ? &scanned : nullptr);
      // A scan is bound on the line while it lives, even one an exception ends.
      struct Published {
        LineStation& station;
        ~Published() {
          std::lock_guard lock(station.mutex_);
          station.line_ = nullptr;
        }
      } published{*this};
      {
        std::lock_guard lock(mutex_);
        line_ = &line;
      }
      std::vector<std::unique_ptr<Tile>> tiles;
      std::vector<SlotObserver*> observers;
      for (std::size_t i = 0; i < ids.size(); ++i) {
        tiles.push_back(std::make_unique<Tile>(model_, static_cast<int>(i), ids[i].port));
        observers.push_back(tiles.back().get());
      }
      const std::vector<SlotFigures> slots = RunLine(opening.file, line, observers, stop, &files.WireFiles(), {});
      for (std::size_t i = 0; i < ids.size(); ++i) model_.SlotNextSerial(static_cast<int>(i), "");
      files.CloseLog();
      summary = Summary(line, slots, stop, files);
    }
  } catch (const std::exception& e) {
    summary = std::string("internal error: ") + e.what();
  } catch (...) {
    summary = "internal error: an unknown exception";
  }
  std::lock_guard lock(mutex_);
  running_ = false;
  model_.LineEnded(summary);
}

std::string LineStation::Summary(ProductionLine& line, const std::vector<SlotFigures>& slots, const LineStop& stop,
                                 const LineFiles& files) {
  std::string ending = line.Ended() ? line.EndingText() : "";
  for (const SlotFigures& slot : slots) {
    if (ending.empty() && slot.ending != LineEnding::kNone) ending = slot.endingText;
  }
  if (ending.empty() && stop.Requested()) ending = "Stopped by " + stop.RequestedBy();
  if (ending.empty()) ending = "Done";
  const LineFigures figures = FiguresOf(slots, 0);
  ending += ": " + std::to_string(figures.passed) + " passed, " + std::to_string(figures.failed) + " failed";
  for (const std::string& lost : files.WireFiles().Losses()) ending += "; " + lost;
  return ending;
}

}  // namespace station_ui
