#pragma once

// What the command line asked of an approved job (docs/jobs.md): batch and
// program run one with --job, tovrin-cli job creates, shows and signs one.

#include <string>
#include <vector>

#include "job/job_check.h"

enum class JobAction { kCreate, kShow, kSign };

struct JobOptions {
  std::string file;                      // --job JOB, or job's JOB
  std::vector<std::string> trustedKeys;  // --trusted-key PUB.pem, as often as given
  std::vector<std::string> given;        // every option given beside --job, by name
  // tovrin-cli job
  JobAction action = JobAction::kShow;
  std::string name;        // create: the job's name
  std::string validUntil;  // create: the last day it runs, UTC
  std::string verify = "frames";  // create: "frames" or "full"
  std::string keyFile;     // sign: the private key
  // The job accepted for the run, once ApplyJob checked it.
  OpenedJob opened;
  // Not on the command line: the station-wide folder of trusted keys; tests
  // give one of their own.
  std::string trustFolder = StationTrustFolder();
};
