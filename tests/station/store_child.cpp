// A station as the store tests need one in a process of its own:
//   store_child state|db TARGET FIRST allocate N   hands out N numbers, each
//       finished as programmed, one line per number on standard output
//   store_child state|db TARGET FIRST hold         hands out one number, prints
//       it, and waits (at most a minute) to be killed between Allocate and Finish
// Exits 0, or 1 after printing the store's message on standard error.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "station/serial_store.h"

namespace {
constexpr int kHoldSeconds = 60;  // a test that forgot its child does not leave it for ever
}

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: store_child state|db TARGET FIRST allocate N | hold [LEASE_MS]\n");
    return 64;
  }
  const std::string kind = argv[1];
  StoreError error;
  const std::string mode = argv[4];
  StoreWaits waits;
  // hold LEASE_MS: the lease of the number it holds
  if (mode == "hold" && argc > 5) waits.leaseMs = std::atoi(argv[5]);
  std::unique_ptr<SerialStore> store =
      kind == "state" ? OpenStateStore(argv[2]) : OpenDatabaseStore(argv[2], error, waits);
  if (!store) {
    std::fprintf(stderr, "%s\n", error.message.c_str());
    return 1;
  }
  error = store->UseRange(argv[3]);
  const int count = mode == "hold" ? 1 : (argc > 5 ? std::atoi(argv[5]) : 0);
  const BoardClaim claim{"", "child", std::to_string(::getpid()), "store_child", "", "", "", "", ""};
  for (int i = 0; i < count && !error.Failed(); ++i) {
    Allocation allocation;
    error = store->Allocate(claim, allocation);
    if (error.Failed()) break;
    std::printf("%s\n", allocation.serial.c_str());
    std::fflush(stdout);
    if (mode == "hold") {
      std::this_thread::sleep_for(std::chrono::seconds(kHoldSeconds));
      return 0;
    }
    RunEnd end;
    end.outcome = RunOutcome::kProgrammed;
    end.stampSent = true;
    end.record = StoredRun{"batch", claim.station, claim.slot, claim.operatorName, allocation.serial, "", "programmed",
                           "{}", "", "", ""};
    error = store->Finish(allocation, end);
  }
  if (error.Failed()) std::fprintf(stderr, "%s\n", error.message.c_str());
  return error.Failed() ? 1 : 0;
}
