#include "cli/cli_args.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <string>

#include "cli/db_args.h"
#include "cli/exit_codes.h"
#include "cli/format_args.h"
#include "cli/job_args.h"
#include "cli/range_arg.h"
#include "common/text.h"
#include "vocabulary/vocabulary.h"
#include "flash/program_image.h"
#include "link/frames.h"
#include "os/socket.h"
#include "station/serial_numbers.h"

namespace {

constexpr const char kProgramName[] = "tovrin-cli";
constexpr long long kMaxBoards = 1000000;       // --count
constexpr long long kMaxWaitSeconds = 86400;    // --wait-seconds: a day
constexpr const char kFileHelp[] = "S-record (S3 records), Intel HEX, ELF or raw binary file";

const char kMainFooter[] =
    "\n"
    "--board, --json and --quiet may stand before or after the command.\n"
    "With --json, standard output carries exactly one JSON object per run and\n"
    "every other line goes to standard error.\n"
    "program, batch and inspect read FILE as S-records, Intel HEX or ELF, as its\n"
    "content shows; --format forces one, and --format bin --base ADDR reads raw\n"
    "bytes into the flash from ADDR on.\n"
    "--log, --trace and --state name regular files (created when missing), each\n"
    "a file of its own: none may be FILE or another of them (exit 64).\n"
    "\n"
    "Examples:\n"
    "  tovrin-cli identity\n"
    "  tovrin-cli program firmware.s19 --serial SN0042 --expect-hardware VR32\n"
    "  tovrin-cli --board 127.0.0.1 program firmware.s19 --serial SN0042 --json\n"
    "  tovrin-cli inspect firmware.s19\n"
    "  tovrin-cli program firmware.elf --serial SN0043\n"
    "  tovrin-cli inspect boot.bin --format bin --base 0x10000\n"
    "  tovrin-cli batch firmware.s19 --serial-from SN0001 --state line.state --log line.jsonl --verify\n"
    "  tovrin-cli db report --db /var/lib/tovrin/station.db --csv\n"
    "  tovrin-cli read --out board.s19\n"
    "  tovrin-cli compare firmware.s19\n"
    "\n";

constexpr const char kPcapHelp[] = "Write every packet the link sends and receives to FILE, a capture (pcap) for Wireshark";

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
    "Exits with the result (0..7), or 10, 11, 12, 13, 14, 64 (see tovrin-cli --help).\n"
    "With --log, one JSON line per run is appended: time, board, identity before,\n"
    "revision and serial number written, file and its SHA-256, frames, result.\n"
    "With --verify every frame is read back before the lock (four reads a frame);\n"
    "--verify=full reads the whole flash back (8192 reads) and also finds bytes an\n"
    "erase left behind. A difference exits with 7 and leaves the board unlocked.\n"
    "--trace appends one JSON line per request, reply, resend, passed-over\n"
    "datagram and time-out; --pcap writes every datagram or TCP segment sent and\n"
    "received as a capture for Wireshark. With --db the run is recorded in the\n"
    "station database too; one that cannot be reached ends the command before\n"
    "anything is sent (14). With --skip-if-same the whole flash is read back\n"
    "first (8192 reads, ending at the first difference): a board that already\n"
    "holds what the run would write is left alone (exit 0, result \"skipped\").\n";

const char kBatchFooter[] =
    "\n"
    "Programs one board after another: waits for a board's loader to answer,\n"
    "reads its identity, takes the next serial number from STATE (made durable\n"
    "before the erase, never handed out twice), programs it, appends one JSON line\n"
    "to LOG, then waits for the board to fall silent before waiting for the next.\n"
    "A board whose serial number was already handed out from STATE is refused\n"
    "unless --allow-repeat. Ctrl+C between boards ends the batch with its summary.\n"
    "With --db instead of --state the numbers come from the station database,\n"
    "which records each one's claim and run; a number whose run failed before the\n"
    "identity frame was sent goes back to the pool.\n"
    "With --interface given for several ports, one slot per port runs at once (a\n"
    "gang): each waits for and programs the boards on its own port, all draw\n"
    "from the one STATE or database, and a failing slot does not stop the others; --count\n"
    "counts the boards of every slot.\n"
    "Exits with 0 when every board was programmed, otherwise with the last\n"
    "failure's status (a result, 11, 12, 14, 15, 16, 130).\n";

const char kIdentityFooter[] =
    "\n"
    "Prints the revision, serial number, hardware code and link type (UDP or\n"
    "TCP). Exits with 0, 10 (connect failed), 11 (identity not read) or 64.\n";

const char kReadFooter[] =
    "\n"
    "Connects, reads the board's identity and reads the flash back, 16 bytes per\n"
    "read (8192 reads for the whole of it); nothing is erased, written or locked.\n"
    "FILE gets S3 records of up to 32 bytes between an S0 header and an S7 end,\n"
    "leaving out erased bytes (0xFF), or the raw bytes of the range when its name\n"
    "ends in .bin. It is written only once every byte was read, through a\n"
    "temporary file. Programmed back, a dump of a whole board writes the same\n"
    "bytes. --range START:END (hex with 0x, or decimal; END not included; either\n"
    "may be left out) reads part of the flash, inside 0x0:0x20000.\n"
    "Exits with 0, 10, 11, 13 (FILE cannot be written), 17 (a read got no good\n"
    "reply), 130, 143 or 64; FILE is not written unless 0.\n";

const char kCompareFooter[] =
    "\n"
    "Connects, reads the board's identity and reads the whole flash back (8192\n"
    "reads), then lists the ranges that differ from what a run of FILE would\n"
    "write: the file's image stamped with --rev and --serial (default: the\n"
    "board's current ones), 0xFF wherever no frame writes. Nothing is erased,\n"
    "written or locked. Exits with 0 when the board holds that image, 7 when it\n"
    "differs, 17 when a read got no good reply, or 1, 2, 6, 10, 11, 13, 130, 143,\n"
    "64.\n";

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

// The range's first number goes into STATE, the database and every record as
// it is: printable ASCII only, so that the same bytes come back from each.
std::string CheckSerialFrom(const std::string& value) {
  if (!IsPrintableSerial(value)) return "a serial number range is written in printable ASCII characters";
  return CheckSerial(value);
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

// An empty name would run without the file asked for, or fail only once a
// board has been waited for.
std::string CheckFileName(const std::string& value) { return value.empty() ? "a file name cannot be empty" : ""; }

// A whole number in decimal digits within [low, high], said plainly when it is
// not; CLI11's own range check would print the limits of a double.
CLI::Validator WholeNumber(long long low, long long high) {
  const std::string range = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](const std::string& value) -> std::string {
        long long number = 0;
        const char* last = value.data() + value.size();
        const auto [end, error] = std::from_chars(value.data(), last, number);
        const bool whole = !value.empty() && end == last && error == std::errc();
        return whole && number >= low && number <= high ? "" : range + ", not " + value;
      },
      "");
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

// --trace and --pcap: the files that keep what went over the link.
void AddWireOptions(CLI::App& command, CliOptions& options) {
  command.add_option("--trace", options.traceFile, "Write one JSON line per exchange event to FILE")
      ->type_name("FILE")
      ->check(CLI::Validator(CheckFileName, ""));
  command.add_option("--pcap", options.pcapFile, kPcapHelp)->type_name("FILE")->check(CLI::Validator(CheckFileName, ""));
}

void AddExpectHardware(CLI::App& command, CliOptions& options, const char* help) {
  command.add_option("--expect-hardware", options.expectHardware, help)
      ->type_name("CODE")
      ->check(CLI::Validator(CheckHardware, ""));
}

// The subcommands, and what the parse asks of them once the arguments are read.
struct Commands {
  CLI::App* identity = nullptr;
  CLI::App* program = nullptr;
  CLI::App* batch = nullptr;
  CLI::App* inspect = nullptr;
  CLI::App* read = nullptr;
  CLI::App* compare = nullptr;
  CLI::App* job = nullptr;
  DbCommand db;
  StampOptions programStamp{};
  StampOptions inspectStamp{};
  StampOptions compareStamp{};
  CLI::Option* batchRevision = nullptr;
  std::string verify;  // --verify's text, for both commands that take it
  std::string range;   // read's --range
};

void SetUpApp(CLI::App& app, CliOptions& options) {
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
}

void AddIdentityCommand(CLI::App& app, CliOptions& options, Commands& commands) {
  CLI::App* identity = app.add_subcommand("identity", "Connect, print the board's identity and link type, close");
  AddWireOptions(*identity, options);
  AddInterfaceOption(*identity, options.interfaces, false);
  identity->footer(std::string(kIdentityFooter) + GlobalOptionsNote());
  commands.identity = identity;
}

void AddProgramCommand(CLI::App& app, CliOptions& options, Commands& commands) {
  CLI::App* program = app.add_subcommand("program", "Program the board's flash from a file (S-records, Intel HEX, ELF, binary)");
  program->add_option("FILE", options.file, kFileHelp)->type_name("");
  AddFormatOptions(*program, options.input);
  commands.programStamp = AddStampOptions(*program, options, "default: the board's current one");
  AddExpectHardware(*program, options, "Refuse (exit 12, nothing erased) unless the board's hardware code is CODE");
  program->add_option("--log", options.logFile, "Append one JSON line per run to this file")
      ->type_name("FILE")
      ->check(CLI::Validator(CheckFileName, ""));
  AddVerifyOption(*program, commands.verify);
  AddWireOptions(*program, options);
  AddStationOptions(*program, options);
  program->add_flag("--skip-if-same", options.skipIfSame,
                    "Read the board back first; leave it alone (exit 0) when it already holds the image");
  AddInterfaceOption(*program, options.interfaces, false);
  AddJobOptions(*program, options);
  program->footer(std::string(kProgramFooter) + GlobalOptionsNote());
  commands.program = program;
}

void AddBatchCommand(CLI::App& app, CliOptions& options, Commands& commands) {
  CLI::App* batch = app.add_subcommand("batch", "Program one board after another, each with the next serial number");
  batch->add_option("FILE", options.file, kFileHelp)->type_name("");
  AddFormatOptions(*batch, options.input);
  batch->add_option("--serial-from", options.serialFrom, "First serial number; its trailing digits count up")
      ->type_name("SERIAL")
      ->check(CLI::Validator(CheckSerialFrom, ""));
  CLI::Option* state =
      batch->add_option("--state", options.stateFile, "File that holds the next serial number (created if missing)")
          ->type_name("STATE")
          ->check(CLI::Validator(CheckFileName, ""));
  batch->add_option("--log", options.logFile, "Append one JSON line per board to this file")
      ->type_name("LOG")
      ->required()
      ->check(CLI::Validator(CheckFileName, ""));
  commands.batchRevision =
      batch->add_option("--rev", options.revision, "Revision character to write; default: the board's current one")
          ->type_name("CHAR")
          ->check(CLI::Validator(CheckRevision, ""));
  AddExpectHardware(*batch, options, "Skip (nothing erased) a board whose hardware code is not CODE");
  batch->add_option("--count", options.count, "End after N boards (programmed, failed or refused)")
      ->type_name("N")
      ->check(WholeNumber(1, kMaxBoards));
  batch->add_option("--wait-seconds", options.waitSeconds, "End when no board comes, or the last does not go, within S seconds")
      ->type_name("S")
      ->check(WholeNumber(1, kMaxWaitSeconds))
      ->capture_default_str();
  AddVerifyOption(*batch, commands.verify);
  batch->add_flag("--allow-repeat", options.allowRepeat, "Program a board that already carries a serial number from STATE");
  AddWireOptions(*batch, options);
  AddStationOptions(*batch, options);
  // One store of serial numbers: a STATE file or the station database.
  batch->get_option("--db")->excludes(state);
  AddInterfaceOption(*batch, options.interfaces, true);
  AddJobOptions(*batch, options);
  batch->footer(std::string(kBatchFooter) + GlobalOptionsNote());
  commands.batch = batch;
}

void AddInspectCommand(CLI::App& app, CliOptions& options, Commands& commands) {
  CLI::App* inspect = app.add_subcommand("inspect", "Report what a run would send from a file, offline");
  inspect->add_option("FILE", options.file, kFileHelp)->type_name("")->required();
  AddFormatOptions(*inspect, options.input);
  commands.inspectStamp = AddStampOptions(*inspect, options, "default: the file's own");
  inspect->footer(std::string(kInspectFooter) + GlobalOptionsNote());
  commands.inspect = inspect;
}

void AddReadCommand(CLI::App& app, CliOptions& options, Commands& commands) {
  CLI::App* read = app.add_subcommand("read", "Dump the board's flash to a file, reading only");
  read->add_option("--out", options.outFile, "The dump: S-records, or raw bytes when FILE ends in .bin")
      ->type_name("FILE")
      ->required()
      ->check(CLI::Validator(CheckFileName, ""));
  read->add_option("--range", commands.range, "Flash addresses to read, END not included (default: all, 0x0:0x20000)")
      ->type_name("START:END")
      ->check(CLI::Validator([](std::string& text) { std::uint32_t a, b; return ParseFlashRange(text, a, b); }, ""));
  AddWireOptions(*read, options);
  AddInterfaceOption(*read, options.interfaces, false);
  read->footer(std::string(kReadFooter) + GlobalOptionsNote());
  commands.read = read;
}

void AddCompareCommand(CLI::App& app, CliOptions& options, Commands& commands) {
  CLI::App* compare = app.add_subcommand("compare", "List where the board differs from what a run of a file would write");
  compare->add_option("FILE", options.file, kFileHelp)->type_name("")->required();
  commands.compareStamp = AddStampOptions(*compare, options, "default: the board's current one");
  AddWireOptions(*compare, options);
  AddInterfaceOption(*compare, options.interfaces, false);
  AddFormatOptions(*compare, options.input);
  compare->footer(std::string(kCompareFooter) + GlobalOptionsNote());
  commands.compare = compare;
}

// The arguments read into the options: kRunCommand, or the status to exit with
// after help, the version or a usage error.
int Parse(CLI::App& app, int argc, const char* const* argv, CliOptions& options, const CliStreams& streams) {
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
    options.usageError = e.what();
    return exit_code::kUsage;
  }
  return kRunCommand;
}

// What the parsed subcommand's options come to beyond the values CLI11 set.
int Complete(const Commands& commands, CliOptions& options, const CliStreams& streams) {
  options.verify = VerifyModeOf(commands.verify);
  options.command = commands.program->parsed()   ? CliCommand::kProgram
                    : commands.inspect->parsed() ? CliCommand::kInspect
                    : commands.batch->parsed()   ? CliCommand::kBatch
                    : commands.db.db->parsed()   ? CliCommand::kDb
                    : commands.read->parsed()    ? CliCommand::kRead
                    : commands.compare->parsed() ? CliCommand::kCompare
                    : commands.job->parsed()     ? CliCommand::kJob
                                                 : CliCommand::kIdentity;
  if (!commands.range.empty()) ParseFlashRange(commands.range, options.rangeStart, options.rangeEnd);
  if (options.command == CliCommand::kProgram || options.command == CliCommand::kBatch) {
    const CLI::App& command = options.command == CliCommand::kProgram ? *commands.program : *commands.batch;
    if (const int usage = CheckJobUsage(command, options, streams); usage != kRunCommand) return usage;
  }
  switch (options.command) {
    case CliCommand::kJob: return kRunCommand;
    case CliCommand::kDb: DbActionParsed(commands.db, options); return kRunCommand;
    case CliCommand::kBatch:
      if (options.stateFile.empty() && options.dbTarget.empty()) {
        options.usageError = "batch needs --state STATE or --db TARGET";
      } else if (options.job.file.empty() &&  // with --job the job gives the first number
                 (options.serialFrom.empty() || options.serialFrom.back() < '0' || options.serialFrom.back() > '9')) {
        options.usageError =
            "--serial-from " + Printable(options.serialFrom) + " does not end in digits that can count up";
      }
      if (!options.usageError.empty()) {
        std::fprintf(streams.err, "%s: %s\nRun '%s --help' for the options.\n", kProgramName,
                     options.usageError.c_str(), kProgramName);
        return exit_code::kUsage;
      }
      options.revisionGiven = commands.batchRevision->count() > 0;
      return kRunCommand;
    case CliCommand::kIdentity:
    case CliCommand::kRead: return kRunCommand;
    case CliCommand::kProgram:
    case CliCommand::kCompare:
    case CliCommand::kInspect: break;
  }
  const StampOptions& stamp = options.command == CliCommand::kProgram   ? commands.programStamp
                              : options.command == CliCommand::kCompare ? commands.compareStamp
                                                                       : commands.inspectStamp;
  options.revisionGiven = stamp.revision->count() > 0;
  options.serialGiven = stamp.serial->count() > 0;
  return kRunCommand;
}

}  // namespace

int ParseCliArgs(int argc, const char* const* argv, CliOptions& options, const CliStreams& streams) {
  CLI::App app("Programs the flash of a Varnel board from a Motorola S-record file (or\n"
               "Intel HEX, ELF, raw binary) over the board's resident loader (UDP, or TCP\n"
               "when UDP does not answer).",
               kProgramName);
  SetUpApp(app, options);
  Commands commands;
  AddIdentityCommand(app, options, commands);
  AddProgramCommand(app, options, commands);
  AddBatchCommand(app, options, commands);
  commands.db = AddDbCommand(app, options);
  commands.job = AddJobCommand(app, options);
  AddInspectCommand(app, options, commands);
  AddReadCommand(app, options, commands);
  AddCompareCommand(app, options, commands);
  const int parsed = Parse(app, argc, argv, options, streams);
  return parsed == kRunCommand ? Complete(commands, options, streams) : parsed;
}
