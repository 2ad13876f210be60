#include "cli/job_args.h"

#include <cstdio>

#include "cli/cli_args.h"
#include "cli/exit_codes.h"
#include "cli/format_args.h"

namespace {

constexpr const char kJobFooter[] =
    "\n"
    "A job fixes what a line programs: the firmware (by name beside the job, and\n"
    "its SHA-256), the format, the revision, the first serial number, the verify\n"
    "mode, the hardware expected, and optionally the count and the last day it\n"
    "runs (docs/jobs.md). create writes one from the options batch takes; show\n"
    "prints one and whether it is signed, by which key; sign writes JOB.sig, an\n"
    "ECDSA P-256 signature over the job's bytes, as openssl dgst -sha256 -sign does.\n"
    "program --job JOB and batch --job JOB take every setting from the job.\n"
    "Exits with 0, 13 (JOB or JOB.sig cannot be written), 18, 19, 20, 21 (show: the\n"
    "job would be refused so) or 64.\n";

std::string CheckFileName(const std::string& value) { return value.empty() ? "a file name cannot be empty" : ""; }

void AddTrustedKeyOption(CLI::App& command, CliOptions& options) {
  command.add_option("--trusted-key", options.job.trustedKeys,
                     "Run only jobs signed by this public key (PEM, P-256); give it once per key")
      ->type_name("PUB.pem")
      ->expected(1)  // one key each time: a FILE after it is not taken for a second key
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(CheckFileName, ""));
}

}  // namespace

void AddJobOptions(CLI::App& command, CliOptions& options) {
  command.add_option("--job", options.job.file,
                     "Run the approved job JOB: its firmware, revision, serial numbers, verify mode and hardware")
      ->type_name("JOB")
      ->check(CLI::Validator(CheckFileName, ""));
  AddTrustedKeyOption(command, options);
}

CLI::App* AddJobCommand(CLI::App& app, CliOptions& options) {
  CLI::App* job = app.add_subcommand("job", "Create, show or sign an approved job (docs/jobs.md)");
  job->require_subcommand(1);
  job->footer(kJobFooter);

  CLI::App* create = job->add_subcommand("create", "Write a job from a firmware file and the settings of a line");
  create->add_option("FILE", options.file, "The firmware, in the job's folder or below")->type_name("")->required();
  create->add_option("--out", options.outFile, "The job file to write")->type_name("JOB")->required()
      ->check(CLI::Validator(CheckFileName, ""));
  create->add_option("--name", options.job.name, "The job's name, as records and reports give it")
      ->type_name("NAME")->required();
  AddFormatOptions(*create, options.input);
  create->add_option("--rev", options.revision, "Revision character to write")->type_name("CHAR")->required();
  create->add_option("--serial-from", options.serialFrom, "First serial number; its trailing digits count up")
      ->type_name("SERIAL")->required();
  create->add_option("--expect-hardware", options.expectHardware, "The hardware code of the boards")
      ->type_name("CODE")->required();
  create->add_option("--verify", options.job.verify, "Read back every frame (frames, the default) or the whole flash (full)")
      ->type_name("frames|full")
      ->expected(1)
      ->check(CLI::IsMember({"frames", "full"}));
  create->add_option("--count", options.count, "The line ends after N boards")->type_name("N");
  create->add_option("--valid-until", options.job.validUntil, "The last day the job runs, UTC")->type_name("YYYY-MM-DD");
  create->parse_complete_callback([&options] { options.job.action = JobAction::kCreate; });

  CLI::App* show = job->add_subcommand("show", "Print a job, whether its firmware matches, and who signed it");
  show->add_option("JOB", options.job.file, "The job file")->type_name("")->required()
      ->check(CLI::Validator(CheckFileName, ""));
  AddTrustedKeyOption(*show, options);
  show->parse_complete_callback([&options] { options.job.action = JobAction::kShow; });

  CLI::App* sign = job->add_subcommand("sign", "Write JOB.sig: the job signed with a private key");
  sign->add_option("JOB", options.job.file, "The job file")->type_name("")->required()
      ->check(CLI::Validator(CheckFileName, ""));
  sign->add_option("--key", options.job.keyFile, "The private key (PEM, P-256, as openssl genpkey writes it)")
      ->type_name("KEY.pem")->required()
      ->check(CLI::Validator(CheckFileName, ""));
  sign->parse_complete_callback([&options] { options.job.action = JobAction::kSign; });
  return job;
}

int CheckJobUsage(const CLI::App& command, CliOptions& options, const CliStreams& streams) {
  for (const CLI::Option* option : command.get_options()) {
    if (option->count() > 0 && option->get_name() != "--job") options.job.given.push_back(option->get_name());
  }
  const bool batch = command.get_name() == "batch";
  const char* missing = !options.job.file.empty()                   ? nullptr
                        : options.file.empty()                      ? "FILE or --job JOB"
                        : batch && options.serialFrom.empty()       ? "--serial-from SERIAL or --job JOB"
                                                                    : nullptr;
  if (missing == nullptr && (!options.job.trustedKeys.empty() && options.job.file.empty())) {
    missing = "--job JOB with --trusted-key";
  }
  if (missing == nullptr) return kRunCommand;
  options.usageError = command.get_name() + " needs " + missing;
  std::fprintf(streams.err, "tovrin-cli: %s\nRun 'tovrin-cli --help' for the options.\n", options.usageError.c_str());
  return exit_code::kUsage;
}
