// The station's control over a real line, where no board is needed: what the
// page is told when the line cannot open, and that a line that ended starts
// again (its thread joined, a new stop, its files opened afresh).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>

#include "station_ui/line_station.h"

namespace {

using namespace station_ui;
using nlohmann::json;

json LineOf(const StationModel& model) { return json::parse(model.SnapshotJson())["line"]; }

bool WaitEnded(const StationModel& model) {
  for (int i = 0; i < 500 && LineOf(model)["state"] != "ended"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return LineOf(model)["state"] == "ended";
}

TEST(LineStationTest, ALineThatCannotOpenEndsWithItsWordsAndStartsAgain) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tovrin-line-station-test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  StationOptions options;
  options.file = (dir / "fw.s19").string();
  options.serialFrom = "SN0001";
  options.stateFile = (dir / "line.state").string();
  options.logFile = (dir / "no-such-folder" / "line.jsonl").string();
  StationModel model({"default"});
  LineStation line(options, JobFacts{}, model);

  EXPECT_FALSE(line.Stop().accepted);  // nothing runs yet
  EXPECT_FALSE(line.BindSerial(0, "SN0042").accepted);
  for (int run = 0; run < 2; ++run) {
    EXPECT_TRUE(line.Start().accepted) << run;
    ASSERT_TRUE(WaitEnded(model)) << run;
    EXPECT_NE(LineOf(model)["summary"].get<std::string>().find("Cannot open the run log"), std::string::npos)
        << LineOf(model)["summary"];
  }
  EXPECT_EQ(LineRefusal(options), "");
  options.serialFrom = "SN";
  EXPECT_NE(LineRefusal(options), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
