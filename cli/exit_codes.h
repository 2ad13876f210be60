#pragma once

// The exit status of tovrin-cli. A programming run exits with its ProgramResult
// (0..7) unchanged, so a script sees the same numbers the window's messages stand
// for; the codes below cover what can end a command before or instead of a run.

namespace exit_code {
constexpr int kConnectFailed = 10;
constexpr int kIdentityFailed = 11;
constexpr int kWrongHardware = 12;
constexpr int kLogUnwritable = 13;
constexpr int kStateUnusable = 14;
constexpr int kRepeatRefused = 15;
constexpr int kSerialsExhausted = 16;
constexpr int kUsage = 64;
}  // namespace exit_code

struct ExitCodeMeaning {
  int code;
  const char* meaning;
};

// What each code above means, as --help lists it after the results 0..7.
constexpr ExitCodeMeaning kExitCodeMeanings[] = {
    {exit_code::kConnectFailed, "connect failed: the board answered neither UDP nor TCP"},
    {exit_code::kIdentityFailed, "connected, but the identity record could not be read"},
    {exit_code::kWrongHardware, "--expect-hardware differs from the board's hardware code; nothing erased"},
    {exit_code::kLogUnwritable, "the --log, --trace or --pcap file cannot be opened (nothing sent), or did not take the run's record whole"},
    {exit_code::kStateUnusable, "batch: the --state file cannot be read or made durable; the board not erased"},
    {exit_code::kRepeatRefused, "batch: a board carried a serial number already handed out from --state"},
    {exit_code::kSerialsExhausted, "batch: the serial number's digits ran out; the board not erased"},
    {exit_code::kUsage, "usage error; nothing sent, and no JSON printed"},
};
