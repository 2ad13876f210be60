#pragma once

// The station connected to a production line: the line's slots tell the model
// what happens (one observer per slot, each on its slot's own thread), and the
// page's Start and Stop start and stop the line. The line opens its files and
// its store as tovrin-cli batch does (line/line_files.h), so a board programmed
// from the station leaves the same run record and database rows.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "job/job_check.h"
#include "line/line_config.h"
#include "line/line_files.h"
#include "line/line_stop.h"
#include "line/production_line.h"
#include "station_ui/station_args.h"
#include "station_ui/station_control.h"
#include "station_ui/station_model.h"

namespace station_ui {

namespace line_station_const {
constexpr int kProgressMs = 200;  // a tile's progress bar moves at most this often
}  // namespace line_station_const

// The line the arguments ask for; with a job (`approved`), its firmware read
// as the job says.
LineConfig LineConfigOf(const StationOptions& options, const OpenedJob& approved = {});
LineFileNames LineFileNamesOf(const StationOptions& options);

// Empty when the station can run the line the options ask for; else why not,
// for the operator.
std::string LineRefusal(const StationOptions& options);

class LineStation final : public StationControl {
 public:
  // `job` is what the page shows about the line; each run updates the
  // firmware's SHA-256 to that of the file it read. With a job (`approved`),
  // each run holds the firmware it read against it before any board.
  LineStation(const StationOptions& options, const JobFacts& job, StationModel& model,
              const OpenedJob& approved = {});
  // Stops a line still running and waits for it.
  ~LineStation() override;
  LineStation(const LineStation&) = delete;
  LineStation& operator=(const LineStation&) = delete;

  // Opens and runs the line on a thread of its own; a line that ended may be
  // started again (a new run: its files and store opened afresh).
  ControlAnswer Start() override;
  ControlAnswer Stop() override;
  ControlAnswer BindSerial(int slot, const std::string& serial) override;

  // Stops the line for `by` ("Ctrl+C", "SIGTERM") and waits until it ended.
  void StopAndWait(const std::string& by);

 private:
  class Tile;
  void Run(LineStopFlag& stop);
  std::string Summary(ProductionLine& line, const std::vector<SlotFigures>& slots, const LineStop& stop,
                      const LineFiles& files);

  const StationOptions options_;
  const OpenedJob approved_;
  const LineConfig config_;
  JobFacts job_;
  StationModel& model_;

  std::mutex mutex_;  // guards what follows against the server's thread and the line's
  bool running_ = false;
  std::unique_ptr<LineStopFlag> stop_;  // the running line's (a new one each run)
  ProductionLine* line_ = nullptr;       // the running line, once open: what a scan is bound on
  std::thread thread_;
};

}  // namespace station_ui
