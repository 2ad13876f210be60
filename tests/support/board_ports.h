#pragma once

// Simulated boards on network ports of their own, for tests of a station with
// several ports (Linux only). Port i is a veth pair: the station's end "gangi"
// in the test's namespace with 192.168.167.1/24 (the same address on every
// port, rp_filter loose, as the README sets a station up), the board's end in
// a network namespace of its own, made by a thread with unshare, that holds
// 192.168.167.100/24 and a SimBoard on it. While ports exist the test's own
// loopback does not hold the board's address, so only the ports reach boards.
// Nothing is added unless the test runs in its private namespace; the
// namespaces and pairs go when the object does. Every wait is bounded.

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_board.h"
#include "tests/support/child_process.h"
#include "tests/support/private_network.h"

class BoardPorts {
 public:
  explicit BoardPorts(const std::vector<SimOptions>& boards) {
    if (!InPrivateNetwork()) {
      error_ = "not inside the test's private network namespace";
      return;
    }
    if (!Ip({"addr", "del", "192.168.167.100/32", "dev", "lo"})) return;
    loopbackMoved_ = true;
    for (std::size_t i = 0; i < boards.size() && error_.empty(); ++i) Add(boards[i]);
    if (error_.empty()) WriteFile("/proc/sys/net/ipv4/conf/all/rp_filter", "2");
  }
  ~BoardPorts() {
    for (auto& port : ports_) {
      port->board.Stop();
      {
        std::lock_guard lock(port->mutex);
        port->release = true;
      }
      port->changed.notify_all();
      if (port->thread.joinable()) port->thread.join();
      Ip({"link", "del", port->station}, false);
    }
    if (loopbackMoved_) Ip({"addr", "add", "192.168.167.100/32", "dev", "lo", "label", "lo:board"}, false);
  }
  BoardPorts(const BoardPorts&) = delete;
  BoardPorts& operator=(const BoardPorts&) = delete;

  // Empty when every port and board stands.
  const std::string& Error() const { return error_; }
  // Port i from 1: the station's interface and the board behind it.
  std::string Name(int port) const { return ports_[static_cast<std::size_t>(port - 1)]->station; }
  SimBoard& Board(int port) { return ports_[static_cast<std::size_t>(port - 1)]->board; }
  int Count() const { return static_cast<int>(ports_.size()); }

  // `ip ARGS...` in the calling thread's namespace; false (with the reason in
  // Error() when `required`) unless it succeeded.
  bool Ip(const std::vector<std::string>& args, bool required = true) {
    ChildProcess ip(IpPath(), args);
    const int status = ip.Wait(kCommandMs);
    if (status != 0 && required && error_.empty()) {
      std::string line = "ip";
      for (const std::string& a : args) line += " " + a;
      error_ = line + " failed (" + std::to_string(status) + "): " + ip.Err();
    }
    return status == 0;
  }

 private:
  static constexpr int kCommandMs = 5000;
  static constexpr auto kStepWait = std::chrono::seconds(5);

  struct Port {
    std::string station;
    std::string far;
    SimBoard board;
    std::thread thread;
    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    pid_t tid = 0;           // the board thread, once in its namespace
    bool moved = false;      // its end of the pair is in that namespace
    bool started = false;    // the board answers (or failed to start)
    bool release = false;    // the test is over
    std::string error;
  };

  static std::string IpPath() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
      if (::access(path, X_OK) == 0) return path;
    }
    return "ip";
  }

  static void WriteFile(const std::string& path, const std::string& text) {
    if (std::FILE* f = std::fopen(path.c_str(), "w")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
  }

  template <typename Ready>
  bool WaitFor(Port& port, Ready ready) {
    std::unique_lock lock(port.mutex);
    return port.changed.wait_for(lock, kStepWait, [&] { return ready(port); });
  }

  void Add(SimOptions options) {
    const int index = static_cast<int>(ports_.size()) + 1;
    ports_.push_back(std::make_unique<Port>());
    Port& port = *ports_.back();
    port.station = "gang" + std::to_string(index);
    port.far = "board" + std::to_string(index);
    options.bindAddress = "192.168.167.100";
    port.thread = std::thread([this, &port, options] { RunFarEnd(port, options); });

    if (!WaitFor(port, [](Port& p) { return p.tid != 0 || !p.error.empty(); }) || port.tid <= 0) {
      error_ = port.station + ": no namespace for the board: " + port.error;
      return;
    }
    if (!Ip({"link", "add", port.station, "type", "veth", "peer", "name", port.far}) ||
        !Ip({"link", "set", port.far, "netns", std::to_string(port.tid)}) ||
        !Ip({"addr", "add", "192.168.167.1/24", "dev", port.station}) ||
        !Ip({"link", "set", port.station, "up"})) {
      return;
    }
    WriteFile("/proc/sys/net/ipv4/conf/" + port.station + "/rp_filter", "2");
    {
      std::lock_guard lock(port.mutex);
      port.moved = true;
    }
    port.changed.notify_all();
    if (!WaitFor(port, [](Port& p) { return p.started; }) || !port.error.empty()) {
      error_ = port.station + ": " + (port.error.empty() ? "the board did not start in time" : port.error);
    }
  }

  // The board's side, on a thread whose network namespace is its own: the
  // pair's far end configured there, the board started there (its sockets
  // stay in that namespace whichever thread uses them), then a wait for the end.
  void RunFarEnd(Port& port, SimOptions options) {
    std::string error;
    const bool inside = ::unshare(CLONE_NEWNET) == 0;
    {
      std::lock_guard lock(port.mutex);
      port.tid = inside ? ::gettid() : -1;
      if (!inside) port.error = "unshare failed";
    }
    port.changed.notify_all();
    if (!inside) return;
    if (!WaitFor(port, [](Port& p) { return p.moved || p.release; }) || port.release) return;
    const bool configured = IpHere({"link", "set", "lo", "up"}, error) &&
                            IpHere({"addr", "add", "192.168.167.100/24", "dev", port.far}, error) &&
                            IpHere({"link", "set", port.far, "up"}, error);
    if (configured && !port.board.Start(options)) error = port.board.Error();
    {
      std::lock_guard lock(port.mutex);
      port.error = error;
      port.started = true;
    }
    port.changed.notify_all();
    std::unique_lock lock(port.mutex);
    // Bounded by the board's own time limit: a test never holds a port longer.
    port.changed.wait_for(lock, std::chrono::seconds(options.timeLimitSeconds), [&] { return port.release; });
  }

  static bool IpHere(const std::vector<std::string>& args, std::string& error) {
    ChildProcess ip(IpPath(), args);
    const int status = ip.Wait(kCommandMs);
    if (status != 0) error = "ip " + args[0] + " " + args[1] + " failed: " + ip.Err();
    return status == 0;
  }

  std::vector<std::unique_ptr<Port>> ports_;
  std::string error_;
  bool loopbackMoved_ = false;
};
