// tovrin-cli read, compare and program --skip-if-same in-process against the
// simulated board, over UDP and TCP: a dump programmed back writes the same
// bytes, a comparison names a single changed byte and sends nothing but reads,
// and a board that already holds the image is left alone. A full read is 8192
// round trips, seconds under Wine, so each test makes at most two.

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "flash/flash_image.h"
#include "tests/cli/cli_test_support.h"

namespace {

using namespace clitest;
using nlohmann::json;

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The commands the board got from event `from` on: 'u' read, 'e', 'p', 'l'.
std::string CommandsSince(const SimBoard& sim, std::size_t from) {
  std::string commands;
  const auto events = sim.Events();
  for (std::size_t i = from; i < events.size(); ++i) {
    if (commands.find(events[i].command) == std::string::npos) commands += events[i].command;
  }
  return commands;
}

class ReadBackTest : public testing::TestWithParam<bool> {
 protected:
  SimOptions Board() const { return GetParam() ? UdpBoard() : TcpBoard(); }
  Outcome OnBoard(std::vector<std::string> args) {
    args.insert(args.begin(), {"--board", "127.0.0.1"});
    return Cli(args);
  }
  TempFiles files;
};

// A board programmed from a file, dumped and programmed with the dump: the same
// frames with the same bytes, the identity included (none given, so the board's
// own is stamped). Ranges and raw dumps hold exactly the bytes asked for, and a
// range of nothing but 0xFF is still a file a run takes.
TEST_P(ReadBackTest, DumpProgrammedBackWritesTheSameBytes) {
  // The last frame reaches past the flash's end; 0xFF inside the data stays.
  Bytes withErased = Pattern(70, 2);
  withErased[10] = withErased[11] = 0xFF;
  const Runs runs = {{0x0, Pattern(100, 1)}, {0x4003, withErased}, {0x1FFD0, Pattern(16, 3)}};
  SimBoard sim;
  START_SIM(sim, Board());
  ASSERT_EQ(OnBoard({"program", files.Write("image.s19", S19(runs)), "--serial", "SN7", "--rev", "C"}).status, 0);
  const std::vector<std::uint8_t> flash = sim.Flash();
  const std::vector<std::uint32_t> frames = Frames(sim);

  const std::string dump = files.Path("dump.s19");
  Outcome o = OnBoard({"read", "--out", dump, "--json"});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(o.Json()["reads"], 8192);
  EXPECT_EQ(o.Json()["message"], "Dump written");
  const std::string text = FileText(dump);
  EXPECT_EQ(text.rfind("S0", 0), 0u);
  EXPECT_NE(text.find("\nS705000000"), std::string::npos);
  EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 20) << "erased stretches are left out";

  o = OnBoard({"program", dump});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(sim.Flash(), flash);
  std::vector<std::uint32_t> twice = frames;
  twice.insert(twice.end(), frames.begin(), frames.end());
  EXPECT_EQ(Frames(sim), twice) << "the same frames again";

  struct Case {
    std::string name;
    std::vector<std::string> range;
    std::uint32_t start;
    std::uint32_t end;
  } cases[] = {
      {"part.BIN", {"--range", "0x41E:1100"}, 0x41E, 1100},
      {"part.s19", {"--range", "0x4000:0x4050"}, 0x4000, 0x4050},
      {"tail.bin", {"--range", "0x1FFF8:"}, 0x1FFF8, 0x20000},
      {"erased.s19", {"--range", "0x8000:0x8100"}, 0x8000, 0x8100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"read", "--out", files.Path(c.name), "--quiet"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    ASSERT_EQ(OnBoard(args).status, 0);
    const std::string bytes = FileText(files.Path(c.name));
    std::vector<std::uint8_t> got(bytes.begin(), bytes.end());
    if (c.name.find(".s19") != std::string::npos) {
      auto image = std::make_unique<FlashImage>();
      image->fill(0xFF);
      ASSERT_EQ(LoadForProgramming(bytes.data(), bytes.size(), *image).result, kLoadOk);
      EXPECT_EQ(std::count(image->begin(), image->end(), 0xFF) -
                    std::count(image->begin() + c.start, image->begin() + c.end, 0xFF),
                static_cast<std::ptrdiff_t>(0x20000 - (c.end - c.start)))
          << "nothing outside the range";
      got.assign(image->begin() + c.start, image->begin() + c.end);
    }
    EXPECT_EQ(got, std::vector<std::uint8_t>(flash.begin() + c.start, flash.begin() + c.end));
  }
}

// compare reads and nothing else. A changed byte is named as a range of its
// own, as is the revision a run would stamp (--rev), and a board programmed with
// the file matches it. Each comparison is 8192 reads, slow under Wine: two here.
TEST_P(ReadBackTest, CompareNamesChangedBytesAndMatchesOnceProgrammed) {
  const Runs runs = {{0x4000, Pattern(200, 4)}};
  Runs changed = runs;
  changed[0x4000][5] ^= 0x01;
  SimBoard sim;
  START_SIM(sim, Board());
  ASSERT_EQ(OnBoard({"program", files.Write("image.s19", S19(runs)), "--serial", "CMP1"}).status, 0);

  const std::string other = files.Write("changed.s19", S19(changed));
  const std::size_t events = sim.Events().size();
  Outcome o = OnBoard({"compare", other, "--rev", "Z", "--json"});
  EXPECT_EQ(o.status, 7) << o.out << o.err;
  const json r = o.Json();
  EXPECT_EQ(r["ranges"], (json::array({{{"first", "0x00420"}, {"last", "0x00420"}, {"count", 1}},
                                       {{"first", "0x04005"}, {"last", "0x04005"}, {"count", 1}}})));
  EXPECT_EQ(r["message"], "The board differs in 2 bytes, 2 ranges");
  EXPECT_EQ(CommandsSince(sim, events), "u") << "nothing but reads";

  ASSERT_EQ(OnBoard({"program", other, "--quiet"}).status, 0);
  o = OnBoard({"compare", other, "--quiet"});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.out, "The board holds the image\n");
}

// --skip-if-same leaves a board that holds the image (nothing but reads, the
// record says "skipped") and programs one that does not.
TEST_P(ReadBackTest, SkipIfSameSkipsOnlyABoardHoldingTheImage) {
  const Runs runs = {{0x4000, Pattern(200, 4)}};
  Runs changed = runs;
  changed[0x4000][5] ^= 0x01;
  const std::string image = files.Write("image.s19", S19(runs));
  SimBoard sim;
  START_SIM(sim, Board());
  ASSERT_EQ(OnBoard({"program", image, "--serial", "SKP1"}).status, 0);

  const std::size_t events = sim.Events().size();
  Outcome o = OnBoard({"program", image, "--skip-if-same", "--json"});
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  json r = o.Json();
  EXPECT_EQ(r["result"], "skipped");
  EXPECT_EQ(r["written"], nullptr);
  EXPECT_EQ(r["compare"]["same"], true);
  EXPECT_EQ(CommandsSince(sim, events), "u");

  o = OnBoard({"program", files.Write("changed.s19", S19(changed)), "--skip-if-same", "--json"});
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  r = o.Json();
  EXPECT_EQ(r["result"], 0);
  EXPECT_EQ(r["compare"]["first_difference"], "0x04005");
  EXPECT_EQ(sim.Flash(), Expected(changed, "SKP1", 'B'));
}

INSTANTIATE_TEST_SUITE_P(Transport, ReadBackTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Udp" : "Tcp"; });

}  // namespace
