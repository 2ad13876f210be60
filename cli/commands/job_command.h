#pragma once

// Approved jobs on the command line: tovrin-cli job create|show|sign, and what
// --job does to program and batch (docs/jobs.md).

#include <string>

#include "cli/cli_options.h"
#include "run/run_report.h"

// With --job: the trusted keys loaded, the job read and checked, and every
// setting it fixes put into options, before anything else is opened. Without
// one, a station whose folder of trusted keys holds any refuses to run (it
// runs only signed jobs). kRunCommand, or the exit status once said.
int ApplyJob(CliOptions& options, const CliStreams& streams);

// With --job: the firmware read for the run held against the job. True when it
// is refused, with `report` saying so; otherwise the file carries the job.
bool JobRefusesFirmware(const CliOptions& options, FirmwareFile& file, RunReport& report);
