#pragma once

// The exit status of tovrin-cli and tovrin-station, chosen in one place, so that
// a script sees one number for one refusal whichever front end ran the job. A programming run exits
// with its ProgramResult (0..7) unchanged, so a script sees the same numbers the
// window's messages stand for; the codes below cover what can end a command
// before or instead of a run.

#include <cstdio>
#include <string>
#include <vector>

#include "job/job_check.h"
#include "line/line_ending.h"
#include "run/run_record.h"
#include "run/run_report.h"
#include "station/serial_store.h"

namespace exit_code {
constexpr int kConnectFailed = run_result::kConnectFailed;    // 10
constexpr int kIdentityFailed = run_result::kIdentityFailed;  // 11
constexpr int kWrongHardware = run_result::kWrongHardware;          // 12
constexpr int kLogUnwritable = run_result::kRecordUnwritable;       // 13
constexpr int kStateUnusable = run_result::kStoreUnusable;          // 14
constexpr int kRepeatRefused = run_result::kRepeatRefused;          // 15
constexpr int kSerialsExhausted = run_result::kSerialsUsedUp;       // 16
constexpr int kReadFailed = 17;  // read, compare: a read got no good reply
constexpr int kConflict = 18;   // batch: a board's number was released during its run
constexpr int kLeaseHeld = 19;  // db release: the number's lease is still fresh
constexpr int kJobFirmwareDiffers = run_result::kNotTheJobsFirmware;  // 20
constexpr int kJobNotTrusted = 21;  // not signed, or by no trusted key, while keys are trusted
constexpr int kJobOutOfDate = 22;   // expired, or a newer job_version
constexpr int kJobUnreadable = 23;  // the job, its signature or a trusted key
constexpr int kUsage = 64;
constexpr int kInternal = 70;  // a fault of the tool's own: nothing it was given should lead here
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
    {exit_code::kLogUnwritable,
     "the --log, --trace or --pcap file cannot be opened or is no regular file (nothing sent), or did not take all it was given"},
    {exit_code::kStateUnusable, "batch, db: the --state file or --db database cannot be read, reached or written, or STATE is no regular file; the board not erased"},
    {exit_code::kRepeatRefused, "batch: a board carried a serial number already handed out from --state or --db"},
    {exit_code::kSerialsExhausted, "batch: the serial number's digits ran out; the board not erased"},
    {exit_code::kReadFailed, "read, compare: a read got no good reply; no dump written, nothing compared"},
    {exit_code::kConflict,
     "batch: a run ended to find its serial number released meanwhile; the conflict is recorded (db report)"},
    {exit_code::kLeaseHeld, "db release: the number's run is still going on (its lease is fresh); nothing released"},
    {exit_code::kJobFirmwareDiffers, "--job: the firmware's SHA-256 is not the job's; nothing sent"},
    {exit_code::kJobNotTrusted,
     "--job: trusted keys are set and the job is not signed, or its signature verifies with none of them; nothing sent"},
    {exit_code::kJobOutOfDate, "--job: the job has expired, or its job_version is newer than this tool's; nothing sent"},
    {exit_code::kJobUnreadable,
     "--job, job: the job, its signature or a trusted key cannot be read or is not one; nothing sent"},
    {exit_code::kUsage,
     "usage error (an empty file name, two files that are one, an option the --job fixes); nothing sent; under --json "
     "one object with the result and the message"},
    {exit_code::kInternal, "an internal error of tovrin-cli; nothing more was sent"},
};

// The status a run's report stands for: a stopped run exits as a shell expects
// of a process ended by that signal (interruptStatus: 130, 143, or 0 for none);
// a run skipped because the board already held its image exits 0.
int RunExitStatus(const RunReport& report, int interruptStatus);

// The status a store's failure ends a command with (0 for none).
int StoreExitStatus(StoreFailure failure);

// The status a job's refusal ends a front end with (0 for kNone).
int JobExitStatus(JobRefusal refusal);

// The status a production line's ending stands for; `fileResult` is the
// firmware's result (1, 2 or 6) for LineEnding::kFileRefused.
int LineExitStatus(LineEnding ending, int fileResult);

// After a command that kept a trace or a capture: `status` when every event
// went into the files (no losses); otherwise each file's line that says it did
// not take them all on err, and exit_code::kLogUnwritable.
int WatchStatus(const std::vector<std::string>& losses, int status, std::FILE* err);
