#pragma once

// The station's web server: the page, the API and the live stream over HTTP,
// on one thread of its own (Run). It reads the model, calls the control for
// the operator's requests, and guards itself (request_guard.h). Limits on
// requests, times and connections are in server_const.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "station_ui/station_control.h"
#include "station_ui/station_model.h"

namespace station_ui {

namespace server_const {
constexpr std::size_t kMaxHeaderBytes = 8 * 1024;   // a request's line and fields
constexpr std::size_t kMaxBodyBytes = 4 * 1024;     // a POST's body: a serial number at most
constexpr std::chrono::seconds kReadTimeout{10};    // for a whole request
constexpr std::chrono::seconds kWriteTimeout{10};   // for a response, or one write of the stream
constexpr std::chrono::seconds kHeartbeat{15};      // a comment on an idle stream
constexpr int kMaxConnections = 64;                 // a line's viewers and the office; beyond: 503 and closed
constexpr const char kApiVersion[] = "1";
}  // namespace server_const

struct ServerSettings {
  std::string address = "127.0.0.1";
  unsigned short port = 8765;   // 0: any free port (tests)
  std::string viewToken;        // empty: no viewers
  std::string operatorToken;    // empty: a random one for this run
};

class StationServer {
 public:
  StationServer(StationModel& model, StationControl& control, ServerSettings settings);
  ~StationServer();
  StationServer(const StationServer&) = delete;
  StationServer& operator=(const StationServer&) = delete;

  // Binds and listens; false with the reason when the address cannot be had.
  bool Listen(std::string& error);
  unsigned short Port() const;
  const std::string& OperatorToken() const;

  // Ctrl+C or SIGTERM stops the server, once `first` has run with its name
  // ("Ctrl+C", "SIGTERM") as a record gives it (the line's adapter stops the
  // line there and waits for it).
  void StopOnInterrupt(std::function<void(const std::string& by)> first);

  // Serves on the calling thread until Stop.
  void Run();
  // From any thread.
  void Stop();

  struct Impl;  // opaque: Asio and Beast stay out of this header

 private:
  std::unique_ptr<Impl> impl_;
};

// 32 random bytes as hex, from the system's generator.
std::string RandomToken();

}  // namespace station_ui
