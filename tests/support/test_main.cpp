#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#endif

#include <cstdlib>

#include "tests/support/private_network.h"

// The system's font library keeps caches for the life of the process, and so
// does the desktop bus library Qt loads on a real display; they are not ours to
// free, and the window's tests would otherwise report them as leaks.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libdbus-1\n"; }

int main(int argc, char** argv) {
  EnterPrivateNetwork();
#ifdef _WIN32
  // The tests' own sockets need Winsock, which the tool starts only for its own.
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 70;
#else
  // Window tests need no display, wherever they are started from.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
