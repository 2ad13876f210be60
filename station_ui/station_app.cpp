#include "station_ui/station_app.h"

#include <fstream>
#include <functional>

#include "cli/exit_codes.h"
#include "os/system_text.h"
#include "flash/image_format.h"
#include "run/firmware_file.h"
#include "station/serial_store.h"
#include "station_ui/line_station.h"
#include "station_ui/station_job.h"
#include "station_ui/station_server.h"

namespace station_ui {

namespace {

// A token shorter than this is too easy to guess from the network.
constexpr std::size_t kMinViewTokenLength = 16;

// The first line of the file, without its line end or surrounding blanks.
bool ReadViewToken(const std::string& path, std::string& token, std::string& problem) {
  std::ifstream file(PathFromUtf8(path));
  if (!file) {
    problem = "cannot read the view token file " + path;
    return false;
  }
  std::getline(file, token);
  const std::size_t first = token.find_first_not_of(" \t\r");
  const std::size_t last = token.find_last_not_of(" \t\r");
  token = first == std::string::npos ? "" : token.substr(first, last - first + 1);
  // Sent back in a cookie and compared as given: printable ASCII with nothing
  // a header or a cookie would split on.
  for (char c : token) {
    if (c <= ' ' || c > '~' || c == ';' || c == ',' || c == '"' || c == '\\') {
      problem = "the view token holds a blank or a character that cannot go in a cookie";
      return false;
    }
  }
  if (token.size() < kMinViewTokenLength) {
    problem = "the view token in " + path + " has fewer than " + std::to_string(kMinViewTokenLength) + " characters";
    return false;
  }
  return true;
}

const char* VerifyWords(const std::string& verify) {
  if (verify == "full") return "whole flash";
  if (verify == "frames") return "every frame";
  return "none";
}

}  // namespace

bool PrepareStation(const StationOptions& options, StationSetup& setup, std::FILE* err) {
  if (!options.viewTokenFile.empty()) {
    std::string problem;
    if (!ReadViewToken(options.viewTokenFile, setup.viewToken, problem)) {
      std::fprintf(err, "tovrin-station: %s\n", problem.c_str());
      setup.exitCode = kUsageExit;
      return false;
    }
  }
  const bool approved = HasJob(setup.approved);
  FirmwareFile firmware = approved ? ReadFirmware(options.file, JobInput(setup.approved.job)) : ReadFirmware(options.file);
  if (!firmware.Usable()) {
    std::fprintf(err, "tovrin-station: %s: %s\n", options.file.c_str(),
                 firmware.reason.empty() ? "the file gives nothing to program" : firmware.reason.c_str());
    setup.exitCode = firmware.result;
    return false;
  }
  // A firmware that is not the job's ends the station before its page, as it
  // ends tovrin-cli batch before any board; each run checks it again.
  if (const std::string refused = JobFirmwareRefusal(setup.approved, firmware); !refused.empty()) {
    std::fprintf(err, "tovrin-station: %s\n", refused.c_str());
    setup.exitCode = exit_code::kJobFirmwareDiffers;
    return false;
  }
  JobFacts& job = setup.job;
  job.jobName = firmware.job.name;
  job.jobSigner = firmware.job.signer;
  job.fileName = Utf8FromPath(PathFromUtf8(options.file).filename());
  job.sha256 = firmware.sha256;
  job.format = FormatTitle(firmware.load.format);
  job.revision = options.revision;
  // The database's password stays out of everything the page is sent.
  const std::string store = !options.dbTarget.empty()
                                ? "database " + RedactTarget(options.dbTarget)
                                : "state file " + Utf8FromPath(PathFromUtf8(options.stateFile).filename());
  job.scan = options.scanSerials;
  job.serialSource = options.scanSerials ? "scanned at each slot, kept in " + store : store;
  if (!options.scanSerials) job.nextSerial = options.serialFrom;
  job.verify = VerifyWords(options.verify);
  job.expectHardware = options.expectHardware;
  job.count = options.count;
  return true;
}

int SetUpStation(int argc, const char* const* argv, StationOptions& options, StationSetup& setup, std::FILE* out,
                 std::FILE* err) {
  if (const int parsed = ParseStationArgs(argc, argv, options, out, err); parsed != kRunStation) return parsed;
  if (const int status = ApplyStationJob(options, setup.approved, err); status != kRunStation) return status;
  if (const std::string refused = LineRefusal(options); !refused.empty()) {
    std::fprintf(err, "tovrin-station: %s\n", refused.c_str());
    return kUsageExit;
  }
  if (!PrepareStation(options, setup, err)) return setup.exitCode;
  return kRunStation;
}

std::vector<std::string> SlotPorts(const StationOptions& options) {
  if (options.interfaces.empty()) return {"default"};
  return options.interfaces;
}

int ServeStation(const StationOptions& options, const StationSetup& setup, StationModel& model,
                 StationControl& control, std::FILE* out, std::FILE* err,
                 const std::function<void(const std::string& by)>& interrupted) {
  ServerSettings settings;
  settings.address = options.listenAddress;
  settings.port = options.listenPort;
  settings.viewToken = setup.viewToken;
  StationServer server(model, control, settings);
  std::string problem;
  if (!server.Listen(problem)) {
    std::fprintf(err, "tovrin-station: %s\n", problem.c_str());
    return kUsageExit;
  }
  server.StopOnInterrupt(interrupted);
  const bool loopback = options.listenAddress.rfind("127.", 0) == 0;
  const bool everywhere = options.listenAddress == "0.0.0.0";
  const std::string port = std::to_string(server.Port());
  const std::string page = "http://" + (loopback ? options.listenAddress : std::string("127.0.0.1")) + ":" + port + "/";
  if (loopback || everywhere) std::fprintf(out, "Tovrin Station: the operator's page is %s\n", page.c_str());
  if (!loopback) {
    std::fprintf(out, "Tovrin Station: a read-only view at http://%s:%s/?token=... (the token of %s)\n",
                 everywhere ? "THIS-PC" : options.listenAddress.c_str(), port.c_str(), options.viewTokenFile.c_str());
  }
  std::fprintf(out, "Press Ctrl+C to end the station.\n");
  std::fflush(out);
  if (!options.noBrowser && (loopback || everywhere) && !OpenInBrowser(page)) {
    std::fprintf(err, "tovrin-station: could not open a browser; open %s yourself\n", page.c_str());
  }
  server.Run();
  return 0;
}

}  // namespace station_ui
