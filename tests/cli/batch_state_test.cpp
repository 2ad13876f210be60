// The batch's STATE file when it cannot be trusted as it stands: every such file
// ends the batch with a clear status and one JSON object, before anything is
// erased and without touching the file. And the two it must handle: a link to a
// file shared by stations, and the range's last number.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "os/stop.h"
#include "tests/cli/cli_test_support.h"

namespace {

using namespace clitest;
using nlohmann::json;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> BatchArgs(const std::string& file, const std::string& state, const std::string& log,
                                   const std::string& from = "SN0001") {
  return {"--board", "127.0.0.1", "--json", "batch", file, "--serial-from", from, "--state", state, "--log", log,
          "--wait-seconds", "5", "--count", "1"};
}

TEST(BatchState, RefusesAStateItCannotTrustBeforeAnythingIsErased) {
  TempFiles files("state");
  const std::string file = files.Write("image.s19", S19({{0x4000, Pattern(64, 1)}}));
  const std::string log = files.Path("line.log");
  const std::string valid = R"({"first": "SN0001", "next": "SN0004"})";
  struct Case {
    const char* name;
    std::function<std::string()> makeState;  // the --state path
    std::string from;
    int status;
    const char* said;  // part of the message; with status 64, of standard error
  } cases[] = {
      {"next of another prefix", [&] { return files.Write("a.state", R"({"first": "SN0001", "next": "SP0001"})"); },
       "SN0001", 14, "out of its range"},
      {"next with a colon", [&] { return files.Write("b.state", R"({"first": "SN0001", "next": "SN00:9"})"); },
       "SN0001", 14, "out of its range"},
      {"next without digits", [&] { return files.Write("c.state", R"({"first": "SN0001", "next": "SNZZZZ"})"); },
       "SN0001", 14, "out of its range"},
      {"next before first", [&] { return files.Write("d.state", R"({"first": "SN0005", "next": "SN0001"})"); },
       "SN0005", 14, "out of its range"},
      {"exhausted yes",
       [&] { return files.Write("e.state", R"({"first": "SN0001", "next": "SN0004", "exhausted": "yes"})"); },
       "SN0001", 14, "neither true nor false"},
      {"exhausted 1", [&] { return files.Write("f.state", R"({"first": "SN0001", "next": "SN0004", "exhausted": 1})"); },
       "SN0001", 14, "neither true nor false"},
      {"exhausted null",
       [&] { return files.Write("g.state", R"({"first": "SN0001", "next": "SN0004", "exhausted": null})"); },
       "SN0001", 14, "neither true nor false"},
      {"a folder",
       [&] {
         std::filesystem::create_directories(files.Path("folder.state"));
         return files.Path("folder.state");
       },
       "SN0001", 14, "a folder"},
#ifndef _WIN32  // links need a privilege there
      // A file that is there but cannot be opened must not restart the range.
      {"a link to itself",
       [&] {
         std::filesystem::create_symlink("loop.state", files.Path("loop.state"));
         return files.Path("loop.state");
       },
       "SN0001", 14, "cannot read the state file"},
#endif
      // Valid JSON, but no state is anywhere near this size: it is not read whole.
      {"huge", [&] { return files.Write("h.state", valid + std::string(1 << 20, ' ')); }, "SN0001", 14,
       "larger than"},
      {"a first number that is not UTF-8", [&] { return files.Path("i.state"); }, "SN\xff" "001", 64,
       "printable ASCII"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string state = c.makeState();
    std::error_code ec;
    const std::string before = std::filesystem::is_regular_file(state, ec) ? ReadText(state) : "";
    SimOptions board = UdpBoard();
    board.serial = "F001";
    SimBoard sim;
    START_SIM(sim, board);
    ClearInterrupt();
    const Outcome o = Cli(BatchArgs(file, state, log, c.from));
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    if (c.status == 64) {
      EXPECT_EQ(o.Json()["result"], 64) << o.out;
      EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
    } else {
      const json r = JsonLinesOf(o.out).back();
      ASSERT_FALSE(r.is_discarded()) << o.out;
      EXPECT_EQ(r["result"], c.status);
      EXPECT_NE(r["message"].get<std::string>().find(c.said), std::string::npos) << r["message"];
    }
    EXPECT_FALSE(AnyCommand(sim, 'e')) << "nothing erased";
    if (!before.empty()) {
      EXPECT_EQ(ReadText(state), before) << "the state untouched";
    }
  }
}

// STATE as a link to a file the stations share: the file advances and the link
// stays a link. The range's last number is handed out once; the state then
// keeps it as next, marked exhausted, and the next board is refused as used up.
TEST(BatchState, FollowsALinkAndKeepsTheLastNumberWhenTheRangeRunsOut) {
#ifdef _WIN32
  GTEST_SKIP() << "creating a link needs a privilege on Windows";
#endif
  TempFiles files("state_link");
  const std::string file = files.Write("image.s19", S19({{0x4000, Pattern(64, 2)}}));
  const std::string log = files.Path("line.log");
  std::filesystem::create_directories(files.Path("shared"));
  const std::string shared = files.Write("shared/line.state", R"({"first": "SN98", "next": "SN98"})");
  const std::string link = files.Path("line.state");
  std::filesystem::create_symlink("shared/line.state", link);

  SimOptions line = UdpBoard();
  line.serial = "F001";
  line.lineBoards = 3;
  line.resetSilenceMs = 700;
  SimBoard sim;
  START_SIM(sim, line);
  std::vector<std::string> args = BatchArgs(file, link, log, "SN98");
  args.back() = "2";
  ClearInterrupt();
  Outcome o = Cli(args);
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(SerialOnBoard(sim.BoardFlash(1)), "SN98");
  EXPECT_EQ(SerialOnBoard(sim.BoardFlash(2)), "SN99");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(JsonLines(shared), (std::vector<json>{{{"first", "SN98"}, {"next", "SN99"}, {"exhausted", true}}}));

  const std::size_t events = sim.Events().size();
  args.back() = "1";
  o = Cli(args);
  EXPECT_EQ(o.status, 16) << o.out << o.err;
  EXPECT_NE(JsonLinesOf(o.out).back()["message"].get<std::string>().find("used up"), std::string::npos) << o.out;
  EXPECT_EQ(sim.Events().size(), events) << "nothing sent to the third board";
}

}  // namespace
