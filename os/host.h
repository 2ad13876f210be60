#pragma once

// The host the program runs on: its name and the user's, for the station's
// records, and its clocks.

#include <cstdint>
#include <ctime>
#include <string>

std::string HostName();
std::string UserName();    // the user the process runs as
std::string UtcNowText();  // 2026-12-07T19:42:33.123Z
std::tm UtcTime(std::time_t time);

// Waits, on the calling thread (between two tries of a busy lock, between two
// polls).
void SleepMs(int milliseconds);
std::int64_t MonotonicMs();
// For a capture's time stamps: a monotonic clock in microseconds, and the time
// of day in microseconds since 1970-01-01 UTC.
std::int64_t MonotonicUs();
std::int64_t WallClockUs();
