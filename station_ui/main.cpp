#include <cstdio>
#include <string>
#include <vector>

#include "os/console.h"
#include "station_ui/station_app.h"

using namespace station_ui;

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  const Utf8ConsoleOutput console;
  std::vector<const char*> pointers;
  for (const std::string& a : arguments) pointers.push_back(a.c_str());
  StationOptions options;
  const int parsed = ParseStationArgs(static_cast<int>(pointers.size()), pointers.data(), options, stdout, stderr);
  if (parsed != kRunStation) return parsed;

  StationSetup setup;
  if (!PrepareStation(options, setup, stderr)) return setup.exitCode;
  StationModel model(SlotPorts(options));
  model.SetJob(setup.job);
  // Until the line is connected, the page shows the job and refuses to start.
  UnconnectedControl control;
  return ServeStation(options, setup, model, control, stdout, stderr);
}
