#include <cstdio>
#include <string>
#include <vector>

#include "job/job_check.h"
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
  const int parsed = ParseStationArgs(static_cast<int>(pointers.size()), pointers.data(), options, stdout, stderr);
  if (parsed != kRunStation) return parsed;
  if (const std::string refused = LineRefusal(options); !refused.empty()) {
    std::fprintf(stderr, "tovrin-station: %s\n", refused.c_str());
    return kUsageExit;
  }
  // A station that trusts keys runs only jobs signed by one of them, which the
  // station cannot run yet: refused, so that a file chosen here never bypasses
  // the keys tovrin-cli holds every job to.
  TrustList trust;
  if (const TrustLoad loaded = LoadTrust({}, StationTrustFolder(), trust); !loaded.ok || trust.Set()) {
    std::fprintf(stderr,
                 "tovrin-station: this station trusts the keys in %s and runs only signed jobs, which "
                 "tovrin-station cannot run yet: run the job with tovrin-cli batch --job JOB%s%s\n",
                 StationTrustFolder().c_str(), loaded.ok ? "" : "; ", loaded.message.c_str());
    return kJobRefusedExit;
  }

  StationSetup setup;
  if (!PrepareStation(options, setup, stderr)) return setup.exitCode;
  StationModel model(SlotPorts(options));
  model.SetJob(setup.job);
  LineStation line(options, setup.job, model);
  // Ctrl+C or SIGTERM ends a running line (as Stop does) and waits for it
  // before the page goes.
  return ServeStation(options, setup, model, line, stdout, stderr,
                      [&line](const std::string& by) { line.StopAndWait(by); });
}
