#pragma once

// An approved job on the station (docs/jobs.md), by the rules tovrin-cli batch
// --job follows and with its exit statuses: the trusted keys and the job are
// checked before the page is served, the options the job fixes are refused,
// and the firmware each run reads is held against the job before any board is
// met. What a station allows of a job is job/'s; here it meets the station's
// options and words.

#include <cstdio>
#include <string>

#include "job/job_check.h"
#include "station_ui/station_args.h"

namespace station_ui {

// With --job: the trusted keys loaded, the job read and checked, and the
// settings it fixes put into `options` (given beside it, they are a usage
// error); `approved` is the job accepted. Without one, a station whose folder
// of trusted keys holds any refuses to run, as it runs only signed jobs.
// kRunStation, or the exit status once said on `err`.
int ApplyStationJob(StationOptions& options, OpenedJob& approved, std::FILE* err);

// True when `approved` is a job (not the options alone).
inline bool HasJob(const OpenedJob& approved) { return !approved.path.empty(); }

// The firmware read for a run held against its job (none: accepted): empty
// when it may be programmed (and the file then carries the job for the
// records), else why not, for the operator.
std::string JobFirmwareRefusal(const OpenedJob& approved, FirmwareFile& file);

}  // namespace station_ui
