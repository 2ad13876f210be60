#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/private_network.h"

// The system's font library keeps caches for the life of the process; they are
// not ours to free, and the window's tests would otherwise report them as leaks.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

int main(int argc, char** argv) {
  EnterPrivateNetwork();
  // Window tests need no display, wherever they are started from.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
