#pragma once

// The steps of tovrin-station between its arguments and its page, so that
// main() only strings them together and the line's adapter drops in beside
// them: read what the page shows about the job, then serve the model with a
// control until Ctrl+C.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "station_ui/station_args.h"
#include "station_ui/station_control.h"
#include "station_ui/station_model.h"

namespace station_ui {

struct StationSetup {
  JobFacts job;
  std::string viewToken;  // empty: no viewers
  int exitCode = 0;       // when the setup failed: why the station ends before serving
};

// Reads the firmware file (its name, SHA-256 and format for the page) and the
// view token; false after saying why on `err`, with setup.exitCode set.
bool PrepareStation(const StationOptions& options, StationSetup& setup, std::FILE* err);

// One slot per --interface, named by it; without any, one slot "default".
std::vector<std::string> SlotPorts(const StationOptions& options);

// Serves the page over `model`, calling `control` for the operator's requests,
// until Ctrl+C or SIGTERM; `interrupted` runs first then (the adapter stops the
// line there). Opens the page in the default browser unless --no-browser.
// Returns the exit status.
int ServeStation(const StationOptions& options, const StationSetup& setup, StationModel& model,
                 StationControl& control, std::FILE* out, std::FILE* err,
                 const std::function<void()>& interrupted = {});

// Opens `url` in the desktop's default browser; false when nothing could be
// started (the page is still served).
bool OpenInBrowser(const std::string& url);

}  // namespace station_ui
