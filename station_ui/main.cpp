#include <cstdio>
#include <string>
#include <vector>

#include "os/console.h"
#include "station_ui/line_station.h"
#include "station_ui/station_app.h"

using namespace station_ui;

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  const Utf8ConsoleOutput console;
  std::vector<const char*> pointers;
  for (const std::string& a : arguments) pointers.push_back(a.c_str());
  StationOptions options;
  StationSetup setup;
  const int status = SetUpStation(static_cast<int>(pointers.size()), pointers.data(), options, setup, stdout, stderr);
  if (status != kRunStation) return status;
  StationModel model(SlotPorts(options));
  model.SetJob(setup.job);
  LineStation line(options, setup.job, model, setup.approved);
  // Ctrl+C or SIGTERM ends a running line (as Stop does) and waits for it
  // before the page goes.
  return ServeStation(options, setup, model, line, stdout, stderr,
                      [&line](const std::string& by) { line.StopAndWait(by); });
}
