#include "cli/cli_args.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/exit_codes.h"
#include "vocabulary/vocabulary.h"
#include "flash/program_image.h"
#include "link/frames.h"
#include "link/socket_platform.h"

namespace {

constexpr const char kProgramName[] = "tovrin-cli";

const char kMainFooter[] =
    "\n"
    "--board, --json and --quiet may stand before or after the command.\n"
    "With --json, standard output carries exactly one JSON object per run and\n"
    "every other line goes to standard error.\n"
    "\n"
    "Examples:\n"
    "  tovrin-cli identity\n"
    "  tovrin-cli program firmware.s19 --serial SN0042 --expect-hardware VR32\n"
    "  tovrin-cli --board 127.0.0.1 program firmware.s19 --serial SN0042 --json\n"
    "  tovrin-cli inspect firmware.s19\n"
    "  tovrin-cli batch firmware.s19 --serial-from SN0001 --state line.state --log line.jsonl --verify\n"
    "\n";

// Each command's help ends with the global options, which CLI11 lists only in
// the top-level help.
std::string GlobalOptionsNote() {
  return std::string("Also: --board ADDR (default ") + kBoardAddress + "), --json, --quiet; see tovrin-cli --help.\n";
}

const char kProgramFooter[] =
    "\n"
    "Connects, reads the board's identity, erases the flash, sends the file's S3\n"
    "records as 64-byte frames with the revision and serial number stamped at\n"
    "0x420, locks the flash and resets the board; the link is closed in every\n"
    "case. Without --rev or --serial the board's current one is written again.\n"
    "Exits with the result (0..7), or 10, 11, 12, 13, 64 (see tovrin-cli --help).\n"
    "With --log, one JSON line per run is appended: time, board, identity before,\n"
    "revision and serial number written, file and its SHA-256, frames, result.\n"
    "With --verify every frame is read back before the lock (four reads a frame);\n"
    "--verify=full reads the whole flash back (8192 reads) and also finds bytes an\n"
    "erase left behind. A difference exits with 7 and leaves the board unlocked.\n"
    "--trace writes one JSON line per request, reply, resend, passed-over\n"
    "datagram and time-out.\n";

const char kBatchFooter[] =
    "\n"
    "Programs one board after another: waits for a board's loader to answer,\n"
    "reads its identity, takes the next serial number from STATE (made durable\n"
    "before the erase, never handed out twice), programs it, appends one JSON line\n"
    "to LOG, then waits for the board to fall silent before waiting for the next.\n"
    "A board whose serial number was already handed out from STATE is refused\n"
    "unless --allow-repeat. Ctrl+C between boards ends the batch with its summary.\n"
    "With --interface given for several ports, one slot per port runs at once (a\n"
    "gang): each waits for and programs the boards on its own port, all draw\n"
    "from the one STATE, and a failing slot does not stop the others; --count\n"
    "counts the boards of every slot.\n"
    "Exits with 0 when every board was programmed, otherwise with the last\n"
    "failure's status (a result, 11, 12, 14, 15, 16, 130).\n";

const char kIdentityFooter[] =
    "\n"
    "Prints the revision, serial number, hardware code and link type (UDP or\n"
    "TCP). Exits with 0, 10 (connect failed), 11 (identity not read) or 64.\n";

const char kInspectFooter[] =
    "\n"
    "Reads the file only; nothing is sent. Reports the load result (with the\n"
    "offending record), the ranges of bytes other than 0xFF, the program frames\n"
    "a run would send (with the identity stamped: --rev and --serial, otherwise\n"
    "the file's own), S1 and S2 records a run ignores, and the identity bytes the\n"
    "file holds at 0x420. Exits with the load result (0, 1, 2, 6) or 64.\n";

// The results' texts come from ProgramResultMessage, the window's own.
std::string ExitCodeHelp() {
  std::string text = "Exit status:\n";
  char line[160];
  for (int result = kProgramDone; result <= kProgramVerifyFailed; ++result) {
    std::snprintf(line, sizeof line, "  %-3d %s%s\n", result, ProgramResultMessage(result),
                  result == kProgramDone ? " (identity, inspect: done)" : "");
    text += line;
  }
  for (const ExitCodeMeaning& m : kExitCodeMeanings) {
    std::snprintf(line, sizeof line, "  %-3d %s\n", m.code, m.meaning);
    text += line;
  }
  return text;
}

// CLI11 validators return an empty text when the value is good.
std::string CheckRevision(const std::string& value) {
  return value.size() == static_cast<std::size_t>(kRevisionMax) ? "" : "a revision is exactly one character";
}

std::string CheckSerial(const std::string& value) {
  return value.size() <= kSerialNumberMax ? ""
                                          : "a serial number has at most " + std::to_string(kSerialNumberMax) +
                                                " characters";
}

std::string CheckHardware(const std::string& value) {
  return !value.empty() && value.size() <= identity::kHardwareLength
             ? ""
             : "a hardware code has 1 to " + std::to_string(identity::kHardwareLength) + " characters";
}

// The same parser the link opens its address with, so what passes here opens.
// Addresses that name no single board are refused too: the unspecified address,
// the broadcast address and multicast groups would reach no board or many.
std::string CheckAddress(const std::string& value) {
  std::uint32_t address = 0;
  if (!SockParseAddress(value.c_str(), &address)) return "not a dotted IPv4 address: " + value;
  const std::uint32_t host = address;  // host order
  if (host == 0) return "not the address of one board: " + value;
  if (host == 0xFFFFFFFFu) return "a broadcast address, not one board: " + value;
  if ((host & 0xF0000000u) == 0xE0000000u) return "a multicast address, not one board: " + value;
  return "";
}

// --interface NAME: every socket of the command tied to that network port.
void AddInterfaceOption(CLI::App& command, std::vector<std::string>& interfaces, bool several) {
  CLI::Option* option = command.add_option(
      "--interface", interfaces,
      several ? "Reach the boards through this network port; give it once per port to program a board on each at once"
              : "Reach the board through this network port: every socket is tied to it");
  option->type_name("NAME")->expected(1);
  if (several) {
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  } else {
    option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  }
}

// --verify (the frames sent) or --verify=full (the whole flash).
void AddVerifyOption(CLI::App& command, std::string& verify) {
  command.add_flag("--verify{frames}", verify,
                   "Read back before the lock: every frame sent, or with =full the whole flash; a difference exits 7, unlocked")
      ->type_name("[=full]")
      ->check(CLI::IsMember({"frames", "full"}));
}

VerifyMode VerifyModeOf(const std::string& text) {
  if (text == "full") return VerifyMode::kFull;
  return text == "frames" ? VerifyMode::kFrames : VerifyMode::kNone;
}

struct StampOptions {
  CLI::Option* revision;
  CLI::Option* serial;
};

StampOptions AddStampOptions(CLI::App& command, CliOptions& options, const char* defaultNote) {
  StampOptions added;
  added.revision = command.add_option("--rev", options.revision, std::string("Revision character to write; ") + defaultNote)
      ->type_name("CHAR")
      ->check(CLI::Validator(CheckRevision, ""));
  added.serial = command.add_option("--serial", options.serial, std::string("Serial number to write (0 to 15 characters); ") + defaultNote)
      ->type_name("TEXT")
      ->check(CLI::Validator(CheckSerial, ""));
  return added;
}

}  // namespace

int ParseCliArgs(int argc, const char* const* argv, CliOptions& options, const CliStreams& streams) {
  CLI::App app("Programs the flash of a Varnel board from a Motorola S-record file over\n"
               "the board's resident loader (UDP, or TCP when UDP does not answer).",
               kProgramName);
  app.fallthrough();  // the global options may follow the command too
  // The same options on every system: on Windows CLI11 would take /x as an
  // option, and a path such as /fw.s19 could not be given.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string(kProgramName) + " " + TOVRIN_VERSION);
  app.footer(kMainFooter + ExitCodeHelp());

  app.add_option("--board", options.board, "Address of the board (identity, program); the ports stay the board's")
      ->type_name("ADDR")
      ->check(CLI::Validator(CheckAddress, ""))
      ->capture_default_str();
  app.add_flag("--json", options.json, "Print one JSON object per run on standard output; diagnostics to standard error");
  app.add_flag("-q,--quiet", options.quiet, "No progress and no informational lines");

  CLI::App* identityCommand = app.add_subcommand("identity", "Connect, print the board's identity and link type, close");
  identityCommand->add_option("--trace", options.traceFile, "Write one JSON line per exchange event to FILE")
      ->type_name("FILE");
  AddInterfaceOption(*identityCommand, options.interfaces, false);
  identityCommand->footer(std::string(kIdentityFooter) + GlobalOptionsNote());

  CLI::App* program = app.add_subcommand("program", "Program the board's flash from an S-record file");
  program->add_option("FILE", options.file, "S-record file (S3 records)")->type_name("")->required();
  const StampOptions programStamp = AddStampOptions(*program, options, "default: the board's current one");
  program->add_option("--expect-hardware", options.expectHardware,
                      "Refuse (exit 12, nothing erased) unless the board's hardware code is CODE")
      ->type_name("CODE")
      ->check(CLI::Validator(CheckHardware, ""));
  program->add_option("--log", options.logFile, "Append one JSON line per run to this file")->type_name("FILE");
  std::string verify;
  AddVerifyOption(*program, verify);
  program->add_option("--trace", options.traceFile, "Write one JSON line per exchange event to FILE")->type_name("FILE");
  AddInterfaceOption(*program, options.interfaces, false);
  program->footer(std::string(kProgramFooter) + GlobalOptionsNote());

  CLI::App* batch = app.add_subcommand("batch", "Program one board after another, each with the next serial number");
  batch->add_option("FILE", options.file, "S-record file (S3 records)")->type_name("")->required();
  batch->add_option("--serial-from", options.serialFrom, "First serial number; its trailing digits count up")
      ->type_name("SERIAL")
      ->required()
      ->check(CLI::Validator(CheckSerial, ""));
  batch->add_option("--state", options.stateFile, "File that holds the next serial number (created if missing)")
      ->type_name("STATE")
      ->required();
  batch->add_option("--log", options.logFile, "Append one JSON line per board to this file")
      ->type_name("LOG")
      ->required();
  CLI::Option* batchRevision =
      batch->add_option("--rev", options.revision, "Revision character to write; default: the board's current one")
          ->type_name("CHAR")
          ->check(CLI::Validator(CheckRevision, ""));
  batch->add_option("--expect-hardware", options.expectHardware, "Skip (nothing erased) a board whose hardware code is not CODE")
      ->type_name("CODE")
      ->check(CLI::Validator(CheckHardware, ""));
  batch->add_option("--count", options.count, "End after N boards (programmed, failed or refused)")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  batch->add_option("--wait-seconds", options.waitSeconds, "End when no board comes, or the last does not go, within S seconds")
      ->type_name("S")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  AddVerifyOption(*batch, verify);
  batch->add_flag("--allow-repeat", options.allowRepeat, "Program a board that already carries a serial number from STATE");
  batch->add_option("--trace", options.traceFile, "Write one JSON line per exchange event to FILE")->type_name("FILE");
  AddInterfaceOption(*batch, options.interfaces, true);
  batch->footer(std::string(kBatchFooter) + GlobalOptionsNote());

  CLI::App* inspect = app.add_subcommand("inspect", "Report what a run would send from an S-record file, offline");
  inspect->add_option("FILE", options.file, "S-record file")->type_name("")->required();
  const StampOptions inspectStamp = AddStampOptions(*inspect, options, "default: the file's own");
  inspect->footer(std::string(kInspectFooter) + GlobalOptionsNote());

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), streams.out);
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), streams.out);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::fprintf(streams.out, "%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(streams.err, "%s: %s\nRun '%s --help' for the options.\n", kProgramName, e.what(), kProgramName);
    return exit_code::kUsage;
  }

  options.verify = VerifyModeOf(verify);
  options.command = program->parsed() ? CliCommand::kProgram
                    : inspect->parsed() ? CliCommand::kInspect
                    : batch->parsed()   ? CliCommand::kBatch
                                        : CliCommand::kIdentity;
  if (batch->parsed()) {
    options.revisionGiven = batchRevision->count() > 0;
    return kRunCommand;
  }
  const StampOptions& stamp = program->parsed() ? programStamp : inspectStamp;
  options.revisionGiven = stamp.revision->count() > 0;
  options.serialGiven = stamp.serial->count() > 0;
  return kRunCommand;
}
