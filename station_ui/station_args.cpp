#include "station_ui/station_args.h"

#include <CLI/CLI.hpp>

#include <charconv>

#include "link/frames.h"
#include "station/serial_numbers.h"
#include "vocabulary/vocabulary.h"

namespace station_ui {

namespace {

constexpr const char kProgramName[] = "tovrin-station";
constexpr long long kMaxBoards = 1000000;  // --count, as batch

const char kNothingToRun[] =
    "tovrin-station: no line to run.\n"
    "Give it the line's settings as for tovrin-cli batch, for example:\n"
    "  tovrin-station firmware.s19 --interface eth1 --interface eth2 \\\n"
    "      --serial-from SN0001 --state line.state --log line.jsonl --verify\n"
    "or from an approved job:\n"
    "  tovrin-station --job job.json --interface eth1 --state line.state --log line.jsonl\n"
    "Then open the page it names (it opens by itself unless --no-browser).\n"
    "Run 'tovrin-station --help' for every option.\n";

const char kFooter[] =
    "\n"
    "Runs a production line (one slot per --interface, as tovrin-cli batch does)\n"
    "and serves its page at http://ADDR:PORT/ (default http://127.0.0.1:8765/),\n"
    "which it opens in the default browser unless --no-browser. Start and Stop\n"
    "are on the page; Ctrl+C ends the station.\n"
    "The page is served to this PC only unless --listen names another address;\n"
    "others then get a read-only view, and only with the token held in the file\n"
    "given by --view-token-file (open http://ADDR:PORT/?token=TOKEN once).\n"
    "--serial-source scan: each board's number is scanned from its label at its slot.\n"
    "--job JOB takes the firmware, revision, first serial number, verify mode,\n"
    "hardware and count from an approved job (docs/jobs.md); with keys trusted\n"
    "(--trusted-key, or the station's folder of trusted keys) only a job signed by\n"
    "one runs. Exits 20 to 23 when a job is refused, 64 for a usage error.\n";

std::string CheckSerialFrom(const std::string& value) {
  if (!IsPrintableSerial(value)) return "a serial number range is written in printable ASCII characters";
  return value.size() <= static_cast<std::size_t>(kSerialNumberMax)
             ? ""
             : "a serial number has at most " + std::to_string(kSerialNumberMax) + " characters";
}

std::string CheckRevision(const std::string& value) {
  return value.size() == static_cast<std::size_t>(kRevisionMax) ? "" : "a revision is exactly one character";
}

std::string CheckHardware(const std::string& value) {
  return !value.empty() && value.size() <= identity::kHardwareLength
             ? ""
             : "a hardware code has 1 to " + std::to_string(identity::kHardwareLength) + " characters";
}

std::string CheckFileName(const std::string& value) { return value.empty() ? "a file name cannot be empty" : ""; }

std::string CheckCount(const std::string& value) {
  long long number = 0;
  const char* last = value.data() + value.size();
  const auto [end, error] = std::from_chars(value.data(), last, number);
  const bool whole = !value.empty() && end == last && error == std::errc();
  return whole && number >= 1 && number <= kMaxBoards
             ? ""
             : "a whole number from 1 to " + std::to_string(kMaxBoards) + ", not " + value;
}

bool IsDottedQuad(const std::string& text) {
  int parts = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('.', at);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(at, end - at);
    int value = 0;
    const auto [stop, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || part.size() > 3 || stop != part.data() + part.size() || error != std::errc() || value > 255) {
      return false;
    }
    ++parts;
    at = end + 1;
  }
  return parts == 4;
}

}  // namespace

std::string ParseListen(const std::string& text, std::string& address, unsigned short& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return "--listen takes ADDR:PORT, not " + text;
  const std::string host = text.substr(0, colon);
  const std::string digits = text.substr(colon + 1);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (!IsDottedQuad(host)) return "--listen takes a dotted IPv4 address, not " + host;
  if (digits.empty() || end != digits.data() + digits.size() || error != std::errc() || value == 0 || value > 65535) {
    return "--listen takes a port from 1 to 65535, not " + digits;
  }
  address = host;
  port = static_cast<unsigned short>(value);
  return "";
}

int ParseStationArgs(int argc, const char* const* argv, StationOptions& options, std::FILE* out, std::FILE* err) {
  if (argc <= 1) {
    std::fputs(kNothingToRun, err);
    return kUsageExit;
  }
  CLI::App app("Tovrin Station: runs a production line of Varnel boards and shows it on a page in the browser.",
               kProgramName);
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string(kProgramName) + " " + TOVRIN_VERSION);
  app.footer(kFooter);

  app.add_option("FILE", options.file, "S-record (S3 records), Intel HEX, ELF or raw binary file")
      ->type_name("")
      ->check(CLI::Validator(CheckFileName, ""));
  app.add_option("--interface", options.interfaces,
                 "Reach the boards through this network port; give it once per port, one slot each")
      ->type_name("NAME")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  CLI::Option* from = app.add_option("--serial-from", options.serialFrom, "First serial number; its trailing digits count up")
                          ->type_name("SERIAL")
                          ->check(CLI::Validator(CheckSerialFrom, ""));
  std::string source = "range";
  app.add_option("--serial-source", source,
                 "Where the serial numbers come from: range (from --serial-from on) or scan (typed or scanned at each slot)")
      ->type_name("range|scan")
      ->check(CLI::IsMember({"range", "scan"}));
  CLI::Option* state = app.add_option("--state", options.stateFile, "File that holds the next serial number")
                           ->type_name("STATE")
                           ->check(CLI::Validator(CheckFileName, ""));
  CLI::Option* db = app.add_option("--db", options.dbTarget, "The station database: a SQLite file or a postgresql:// URL")
                        ->type_name("TARGET")
                        ->check(CLI::Validator(CheckFileName, ""));
  db->excludes(state);
  std::string count;
  app.add_option("--count", count, "End after N boards")->type_name("N")->check(CLI::Validator(CheckCount, ""));
  app.add_option("--rev", options.revision, "Revision character to write; default: the board's current one")
      ->type_name("CHAR")
      ->check(CLI::Validator(CheckRevision, ""));
  app.add_flag("--verify{frames}", options.verify,
               "Read back before the lock: every frame sent, or with =full the whole flash")
      ->type_name("[=full]")
      ->check(CLI::IsMember({"frames", "full"}));
  app.add_option("--expect-hardware", options.expectHardware, "Skip (nothing erased) a board whose hardware code is not CODE")
      ->type_name("CODE")
      ->check(CLI::Validator(CheckHardware, ""));
  app.add_option("--log", options.logFile, "Append one JSON line per board to this file")
      ->type_name("LOG")
      ->check(CLI::Validator(CheckFileName, ""));
  app.add_option("--trace", options.traceFile, "Write one JSON line per exchange event to FILE")
      ->type_name("FILE")
      ->check(CLI::Validator(CheckFileName, ""));
  app.add_option("--pcap", options.pcapFile, "Write every packet of the links to FILE, a capture (pcap)")
      ->type_name("FILE")
      ->check(CLI::Validator(CheckFileName, ""));
  app.add_option("--job", options.jobFile,
                 "Run the approved job JOB: its firmware, revision, serial numbers, verify mode and hardware")
      ->type_name("JOB")
      ->check(CLI::Validator(CheckFileName, ""));
  app.add_option("--trusted-key", options.trustedKeys,
                 "Run only jobs signed by this public key (PEM, P-256); give it once per key")
      ->type_name("PUB.pem")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(CheckFileName, ""));
  std::string listen = "127.0.0.1:8765";
  app.add_option("--listen", listen, "Serve the page at ADDR:PORT; an address other than loopback serves a read-only view")
      ->type_name("ADDR:PORT")
      ->capture_default_str();
  app.add_flag("--no-browser", options.noBrowser, "Do not open the page in the default browser");
  app.add_option("--view-token-file", options.viewTokenFile,
                 "File whose first line is the token a read-only viewer must present")
      ->type_name("FILE")
      ->check(CLI::Validator(CheckFileName, ""));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), out);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::fprintf(out, "%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(err, "%s: %s\nRun '%s --help' for the options.\n", kProgramName, e.what(), kProgramName);
    return kUsageExit;
  }

  auto usage = [err](const std::string& words) {
    std::fprintf(err, "%s: %s\nRun '%s --help' for the options.\n", kProgramName, words.c_str(), kProgramName);
    return kUsageExit;
  };
  // The options a job may fix are noted; the job, once read, refuses those it does.
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() > 0 && option->get_name() != "--job") options.given.push_back(option->get_name());
  }
  const bool job = !options.jobFile.empty();
  if (options.file.empty() && !job) {
    std::fputs(kNothingToRun, err);
    return kUsageExit;
  }
  if (!options.trustedKeys.empty() && !job) return usage("--trusted-key needs --job JOB");
  options.scanSerials = source == "scan";
  if (!options.scanSerials && from->count() == 0 && !job) {
    return usage("the line needs --serial-from SERIAL or --serial-source scan");
  }
  if (options.scanSerials && from->count() > 0) return usage("--serial-from and --serial-source scan exclude each other");
  if (options.stateFile.empty() && options.dbTarget.empty()) return usage("the line needs --state STATE or --db TARGET");
  if (options.logFile.empty()) return usage("the line needs --log LOG");
  if (!count.empty()) options.count = std::stoi(count);
  if (options.verify.empty()) options.verify = "none";
  if (const std::string problem = ParseListen(listen, options.listenAddress, options.listenPort); !problem.empty()) {
    return usage(problem);
  }
  const bool loopback = options.listenAddress.rfind("127.", 0) == 0;
  if (!loopback && options.viewTokenFile.empty()) {
    return usage("serving the page beyond this PC (--listen " + listen + ") needs --view-token-file FILE");
  }
  return kRunStation;
}

}  // namespace station_ui
