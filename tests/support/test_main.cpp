#include <gtest/gtest.h>

#include "tests/support/private_network.h"

int main(int argc, char** argv) {
  EnterPrivateNetwork();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
