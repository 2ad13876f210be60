#pragma once

// Shared set-up for tests that run the tool against the simulated board.

#include <gtest/gtest.h>

#include <ostream>

#include "link/link.h"
#include "sim/sim_board.h"

// Waits short enough that a silent board or a fallback to TCP costs a test well
// under a second; the exchanges behave as with the board's own waits otherwise.
constexpr LinkWaits kFastWaits{
    /*probeMs=*/150, /*pauseAfterConnectMs=*/5, /*pauseAfterLockMs=*/5, /*udpGiveUpCapMs=*/800,
    /*readTcpMs=*/800, /*eraseTcpMs=*/800, /*programTcpMs=*/800, /*lockTcpMs=*/800,
    /*udpPerSendMs=*/50,
};

// How an OpenLink ended, as a failing expectation shows it.
inline void PrintTo(const OpenOutcome& o, std::ostream* os) {
  if (o.Opened()) {
    *os << (o.mode == LinkMode::kUdp ? "open over UDP" : "open over TCP");
  } else {
    *os << "failed with " << o.error;
  }
}

inline SimOptions UdpBoard() {
  SimOptions o;
  o.tcp = false;
  return o;
}

inline SimOptions TcpBoard() {
  SimOptions o;
  o.udp = false;
  return o;
}

// Starts the board, failing the test (not hanging it) when it cannot bind.
#define START_SIM(sim, options) ASSERT_TRUE((sim).Start(options)) << (sim).Error()
