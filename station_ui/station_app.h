#pragma once

// The steps of tovrin-station between its arguments and its page, so that
// main() only strings them together and the line's adapter drops in beside
// them: read what the page shows about the job, then serve the model with a
// control until Ctrl+C.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "job/job_check.h"
#include "station_ui/station_args.h"
#include "station_ui/station_control.h"
#include "station_ui/station_model.h"

namespace station_ui {

struct StationSetup {
  JobFacts job;
  OpenedJob approved;  // with --job: the job accepted (its path empty without one)
  std::string viewToken;  // empty: no viewers
  int exitCode = 0;       // when the setup failed: why the station ends before serving
};

// Reads the firmware file (its name, SHA-256 and format for the page; with a
// job, as the job reads it and held against it) and the view token; false
// after saying why on `err`, with setup.exitCode set.
bool PrepareStation(const StationOptions& options, StationSetup& setup, std::FILE* err);

// Everything before the page is served: the arguments, the job and its keys,
// the line's settings, the firmware. kRunStation with `options` and `setup`
// ready, or the status the station ends with, said on `err` (help on `out`).
// `options` comes in with its trust folder.
int SetUpStation(int argc, const char* const* argv, StationOptions& options, StationSetup& setup, std::FILE* out,
                 std::FILE* err);

// One slot per --interface, named by it; without any, one slot "default".
std::vector<std::string> SlotPorts(const StationOptions& options);

// Serves the page over `model`, calling `control` for the operator's requests,
// until Ctrl+C or SIGTERM; `interrupted` runs first then (the adapter stops the
// line there). Opens the page in the default browser unless --no-browser.
// Returns the exit status.
int ServeStation(const StationOptions& options, const StationSetup& setup, StationModel& model,
                 StationControl& control, std::FILE* out, std::FILE* err,
                 const std::function<void(const std::string& by)>& interrupted = {});

// Opens `url` in the desktop's default browser; false when nothing could be
// started (the page is still served).
bool OpenInBrowser(const std::string& url);

}  // namespace station_ui
