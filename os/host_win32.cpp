#include "os/host.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "os/system_text.h"

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;  // characters
  return GetComputerNameW(name, &size) ? Utf8FromWide(std::wstring_view(name, size)) : std::string("unknown");
}

std::string UserName() {
  wchar_t name[256] = {};
  DWORD size = 256;  // characters
  return GetUserNameW(name, &size) ? Utf8FromWide(name) : std::string("unknown");
}

std::string UtcNowText() {
  SYSTEMTIME t{};
  GetSystemTime(&t);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  return text;
}

std::tm UtcTime(std::time_t time) {
  std::tm utc{};
  ::gmtime_s(&utc, &time);
  return utc;
}

void SleepMs(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds < 0 ? 0 : milliseconds)); }

namespace {

// The performance counter in `perSecond` steps: exact, and never going back.
std::int64_t CounterIn(std::int64_t perSecond) {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const std::int64_t ticks = now.QuadPart;
  return ticks / frequency * perSecond + ticks % frequency * perSecond / frequency;
}

}  // namespace

// GetTickCount64 moves in steps of about 16 ms, coarse beside the 50 ms resend
// interval; the performance counter is exact and never goes back.
std::int64_t MonotonicMs() { return CounterIn(1000); }
std::int64_t MonotonicUs() { return CounterIn(1000000); }

std::int64_t WallClockUs() {
  // In 100 ns steps since 1601-01-01; the system's own resolution is coarser,
  // which is why a capture takes its steps from MonotonicUs.
  constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
  return (ticks - kUnixEpochIn100ns) / 10;
}
