#pragma once

// What the simulated board asks of the operating system beside its sockets
// (sim_sockets.h, over the shared socket platform), one file per system: the
// stop request (signals on POSIX, the console's Ctrl+C on Windows) and the
// flash file's replacement.

#include <string>

namespace sim {

// The stop requests varnel-sim obeys: SIGINT and SIGTERM on POSIX; Ctrl+C,
// Ctrl+Break and the closing of the console window on Windows. Made before the
// board's thread starts, so that the requests reach WaitFor and not a thread.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Until a stop request arrives or the seconds have passed.
  void WaitFor(int seconds);
};

// Moves temporary over path, replacing the file there in one step; false with
// errno set.
bool RenameOver(const std::string& temporary, const std::string& path);

}  // namespace sim
