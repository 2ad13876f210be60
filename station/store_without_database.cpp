// A build without SQLite and libpq (the Windows cross build: neither is packaged
// for mingw here) keeps serial numbers in a STATE file only.

#include "station/serial_store.h"

std::unique_ptr<SerialStore> OpenDatabaseStore(const std::string& target, StoreError& error, const StoreWaits&) {
  error = {StoreFailure::kUnsupported, "this build of tovrin-cli keeps serial numbers in a STATE file only (--state); "
                                 "it cannot open the database " + RedactTarget(target)};
  return nullptr;
}

bool DatabaseStoresBuilt() { return false; }
