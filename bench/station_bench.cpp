// What the station's serial store costs per board: one allocation (a number
// handed out in one durable transaction, recorded as pending) and its finish
// (the allocation ended, the run's record of some 700 bytes stored), for a
// STATE file, SQLite and PostgreSQL over its Unix socket, with one station and
// with four stations at once on one range.
//
// Counters: us_per_board is the wall time of one board's allocate+finish as a
// station sees it; boards_per_s is the whole line's rate; pct_of_board is
// us_per_board against a real board's programming run, taken as 2 s (the pause
// after the lock alone is that long; a full image takes longer), and must stay
// below 1. Against the in-process simulated board a full image takes about
// 40 ms. Google Benchmark prints an inverted rate with an SI prefix and a
// trailing "s": us_per_board=5.655ks is 5655 us.
//
// PostgreSQL needs a server: scripts/bench runs this under scripts/with-postgres,
// which sets TOVRIN_TEST_POSTGRES. Without one those cases are skipped.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "station/serial_store.h"
#include "tests/support/scratch_database.h"

namespace {

constexpr double kRealBoardRunUs = 2e6;  // the least a real board's run takes: its 2 s pause after the lock
constexpr const char kFirst[] = "BN000000001";  // a range large enough for any run of the benchmark

std::string RunJson() {
  return R"({"command":"batch","board":"192.168.167.100","link":"UDP","identity_before":{"revision":"B",)"
         R"("serial":"F0001","hardware":"VR32"},"written":{"revision":"B","serial":"BN000000001"},)"
         R"("file":"/srv/firmware/varnel-2.4.1.s19","sha256":"6b86b273ff34fce19d6b804eff5a3f5747ada4eaa22f1d49c01e52ddb7875b4b",)"
         R"("frames":{"planned":2047,"acknowledged":2047},"verify":true,"result":0,"message":"Download Successful",)"
         R"("cause":null,"seconds":41.2})";
}

// The targets, made once for the whole run: a fresh file or database each.
struct Targets {
  Targets() : pg() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("station_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    folder = dir.string();
    state = (dir / "line.state").string();
    sqlite = (dir / "station.db").string();
  }
  ~Targets() { std::filesystem::remove_all(folder); }
  std::string folder;
  std::string state;
  std::string sqlite;
  ScratchDatabase pg;
};

Targets& Shared() {
  static Targets targets;
  return targets;
}

std::unique_ptr<SerialStore> Open(const std::string& engine, StoreError& error) {
  Targets& t = Shared();
  std::unique_ptr<SerialStore> store;
  if (engine == "STATE") {
    store = OpenStateStore(t.state);
  } else if (engine == "SQLite") {
    store = OpenDatabaseStore(t.sqlite, error, {}, MissingDatabase::kCreate);  // the bench's own scratch file
  } else if (!t.pg.Url().empty()) {
    store = OpenDatabaseStore(t.pg.Url(), error);
  } else {
    error = {StoreFailure::kUnusable, t.pg.Error()};
  }
  if (store) error = store->UseRange(kFirst);
  return error.Failed() ? nullptr : std::move(store);
}

void AllocateAndFinish(benchmark::State& state, const std::string& engine) {
  StoreError error;
  std::unique_ptr<SerialStore> store = Open(engine, error);
  if (!store) {
    state.SkipWithError(error.message.c_str());
    return;
  }
  const BoardClaim claim{"42463030303100ffffffffff56523332", "bench", std::to_string(state.thread_index()), "bench",
                         "6b86b273ff34fce19d6b804eff5a3f5747ada4eaa22f1d49c01e52ddb7875b4b", "", "", "", ""};
  const std::string json = RunJson();
  for (auto _ : state) {
    Allocation allocation;
    error = store->Allocate(claim, allocation);
    if (!error.Failed()) {
      RunEnd end;
      end.outcome = RunOutcome::kVerified;
      end.stampSent = true;
      end.record = StoredRun{"batch", claim.station, claim.slot, claim.operatorName, allocation.serial, claim.sha256,
                             "verified", json, "", "", ""};
      error = store->Finish(allocation, end);
    }
    if (error.Failed()) {
      state.SkipWithError(error.message.c_str());
      break;
    }
  }
  state.counters["boards_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["us_per_board"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert | benchmark::Counter::kAvgThreads);
  state.counters["pct_of_board"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kRealBoardRunUs * 1e-6 / 100.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert | benchmark::Counter::kAvgThreads);
}

}  // namespace

BENCHMARK_CAPTURE(AllocateAndFinish, STATE, std::string("STATE"))->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AllocateAndFinish, SQLite, std::string("SQLite"))->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AllocateAndFinish, PostgreSQL, std::string("PostgreSQL"))->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AllocateAndFinish, SQLite, std::string("SQLite"))->Threads(4)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AllocateAndFinish, PostgreSQL, std::string("PostgreSQL"))->Threads(4)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
