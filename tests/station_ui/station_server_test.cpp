// The station's web server over real sockets inside the test's own network
// namespace: who may do what (one table), the connection cap, and a viewer
// that stops reading.

#include <gtest/gtest.h>

#include <boost/asio.hpp>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "station_ui/station_control.h"
#include "station_ui/station_model.h"
#include "station_ui/station_server.h"

namespace {

using namespace station_ui;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// 127.0.0.1 reaches the station as its operator; the board's address, which
// the test's namespace carries on its loopback interface, reaches it as any
// other address of the PC would: as a viewer.
constexpr const char kOperatorAddress[] = "127.0.0.1";
constexpr const char kViewerAddress[] = "192.168.167.100";
constexpr const char kViewToken[] = "view-token-0123456789abcdef";

class CountingControl final : public StationControl {
 public:
  ControlAnswer Start() override { ++starts; return {true, "Started."}; }
  ControlAnswer Stop() override { ++stops; return {true, "Stopping."}; }
  ControlAnswer BindSerial(int, const std::string& serial) override {
    return serial == "SN0001" ? ControlAnswer{true, "Bound."} : ControlAnswer{false, "Already programmed."};
  }
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
};

// A station serving every address on a free port, on a thread of its own.
class Station {
 public:
  Station() : model({"eth1", "eth2"}) {
    ServerSettings settings;
    settings.address = "0.0.0.0";
    settings.port = 0;
    settings.viewToken = kViewToken;
    server = std::make_unique<StationServer>(model, control, settings);
    std::string error;
    if (!server->Listen(error)) ADD_FAILURE() << error;
    thread = std::thread([this] { server->Run(); });
  }
  ~Station() {
    server->Stop();
    thread.join();
  }
  std::string Port() const { return std::to_string(server->Port()); }

  StationModel model;
  CountingControl control;
  std::unique_ptr<StationServer> server;
  std::thread thread;
};

tcp::socket Connect(asio::io_context& io, const char* address, unsigned short port) {
  tcp::socket socket(io);
  socket.connect(tcp::endpoint(asio::ip::make_address(address), port));
  return socket;
}

// Sends `request` and reads the response to the connection's end.
std::string Exchange(const char* address, unsigned short port, const std::string& request) {
  asio::io_context io;
  tcp::socket socket = Connect(io, address, port);
  asio::write(socket, asio::buffer(request));
  std::string response;
  boost::system::error_code ec;
  char chunk[4096];
  while (!ec) {
    const std::size_t got = socket.read_some(asio::buffer(chunk), ec);
    response.append(chunk, got);
  }
  return response;
}

int StatusOf(const std::string& response) {
  return response.size() > 12 && response.compare(0, 5, "HTTP/") == 0 ? std::stoi(response.substr(9, 3)) : 0;
}

// Reads from a stream until `wanted` shows up or the connection ends.
std::string ReadUntil(tcp::socket& socket, const std::string& wanted) {
  std::string seen;
  boost::system::error_code ec;
  char chunk[65536];
  while (!ec && seen.find(wanted) == std::string::npos) {
    const std::size_t got = socket.read_some(asio::buffer(chunk), ec);
    seen.append(chunk, got);
  }
  return seen;
}

TEST(StationServerTest, RefusesWhatItMustAndServesTheRest) {
  Station station;
  const std::string port = station.Port();
  const std::string own = "Host: 127.0.0.1:" + port + "\r\n";
  const std::string origin = "Origin: http://127.0.0.1:" + port + "\r\n";
  const std::string token = std::string("X-Tovrin-Token: ") + station.server->OperatorToken() + "\r\n";
  const std::string viewerHost = std::string("Host: ") + kViewerAddress + ":" + port + "\r\n";
  const std::string bearer = std::string("Authorization: Bearer ") + kViewToken + "\r\n";
  const std::string close = "Connection: close\r\n";
  auto post = [&](const std::string& path, const std::string& headers) {
    return "POST " + path + " HTTP/1.1\r\n" + headers + close + "Content-Length: 2\r\n\r\n{}";
  };
  auto get = [&](const std::string& path, const std::string& headers) {
    return "GET " + path + " HTTP/1.1\r\n" + headers + close + "\r\n";
  };
  struct Case {
    const char* what;
    const char* address;
    std::string request;
    int status;
  };
  const std::vector<Case> cases = {
      {"operator reads the status", kOperatorAddress, get("/api/status", own), 200},
      {"operator by localhost", kOperatorAddress, get("/", "Host: localhost:" + port + "\r\n"), 200},
      {"a foreign Host (DNS rebinding)", kOperatorAddress, get("/api/status", "Host: tovrin.example:" + port + "\r\n"), 403},
      {"the station's name on another port", kOperatorAddress, get("/api/status", "Host: 127.0.0.1:1\r\n"), 403},
      {"no Host at all", kOperatorAddress, get("/api/status", ""), 403},
      {"Start without the run's token", kOperatorAddress, post("/api/start", own + origin), 403},
      {"Start with a wrong token", kOperatorAddress, post("/api/start", own + origin + "X-Tovrin-Token: 00\r\n"), 403},
      {"Start from a foreign origin", kOperatorAddress,
       post("/api/start", own + "Origin: http://tovrin.example\r\n" + token), 403},
      {"Start without an origin", kOperatorAddress, post("/api/start", own + token), 403},
      {"Start from the page", kOperatorAddress, post("/api/start", own + origin + token), 200},
      {"a scan refused by the line", kOperatorAddress,
       "POST /api/slots/1/serial HTTP/1.1\r\n" + own + origin + token + close +
           "Content-Length: 19\r\n\r\n{\"serial\":\"SN0009\"}",
       409},
      {"a scan for no slot", kOperatorAddress, post("/api/slots/7/serial", own + origin + token), 404},
      {"a viewer without the token", kViewerAddress, get("/api/status", viewerHost), 401},
      {"a viewer with a wrong token", kViewerAddress, get("/api/status", viewerHost + "Authorization: Bearer x\r\n"), 401},
      {"a viewer with the token", kViewerAddress, get("/api/status", viewerHost + bearer), 200},
      {"a viewer's token in the address", kViewerAddress, get(std::string("/?token=") + kViewToken, viewerHost), 200},
      {"a viewer's token in its cookie", kViewerAddress,
       get("/api/events/none", viewerHost + "Cookie: a=b; tovrin_view=" + kViewToken + "\r\n"), 404},
      {"a viewer's Start", kViewerAddress, post("/api/start", viewerHost + origin + token + bearer), 403},
      {"a viewer's Stop without the token", kViewerAddress, post("/api/stop", viewerHost), 401},
      {"a viewer naming the operator's address", kViewerAddress, get("/api/status", own + bearer), 200},
      {"a viewer naming another address", kViewerAddress, get("/api/status", "Host: 10.1.2.3:" + port + "\r\n" + bearer), 403},
      {"a request line and fields too long", kOperatorAddress,
       get("/api/status", own + "X-Filler: " + std::string(9000, 'a') + "\r\n"), 431},
      {"a body too long", kOperatorAddress,
       "POST /api/start HTTP/1.1\r\n" + own + origin + token + "Content-Length: 5000\r\n\r\n" + std::string(5000, '{'),
       413},
  };
  for (const Case& c : cases) {
    const std::string response = Exchange(c.address, station.server->Port(), c.request);
    EXPECT_EQ(StatusOf(response), c.status) << c.what << "\n" << response.substr(0, 300);
    // Nobody gets another client's token: a viewer's page holds none.
    if (std::string(c.address) == kViewerAddress) {
      EXPECT_EQ(response.find(station.server->OperatorToken()), std::string::npos) << c.what;
    }
  }
  EXPECT_EQ(station.control.starts, 1) << "only the page's own Start reaches the line";
  EXPECT_EQ(station.control.stops, 0);
}

TEST(StationServerTest, AnswersConnectionsBeyondTheCapWithServiceUnavailable) {
  Station station;
  asio::io_context io;
  std::vector<tcp::socket> held;
  for (int i = 0; i < server_const::kMaxConnections; ++i) {
    held.push_back(Connect(io, kOperatorAddress, station.server->Port()));
  }
  // The server counts a connection once it has accepted it: ask it something
  // on the last one so that all of them are counted.
  const std::string status = "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + station.Port() + "\r\n\r\n";
  asio::write(held.back(), asio::buffer(status));
  EXPECT_EQ(StatusOf(ReadUntil(held.back(), "\r\n\r\n")), 200);

  EXPECT_EQ(StatusOf(Exchange(kOperatorAddress, station.server->Port(), status)), 503);
  held.clear();
  // Once they are gone, a client is served again.
  std::string response;
  for (int attempt = 0; attempt < 50 && StatusOf(response) != 200; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    response = Exchange(kOperatorAddress, station.server->Port(),
                        "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + station.Port() + "\r\nConnection: close\r\n\r\n");
  }
  EXPECT_EQ(StatusOf(response), 200);
}

TEST(StationServerTest, AViewerThatStopsReadingHoldsUpNeitherTheLineNorOtherViewers) {
  Station station;
  const std::string host = "Host: 127.0.0.1:" + station.Port() + "\r\n";
  asio::io_context io;
  tcp::socket stuck(io);
  stuck.open(tcp::v4());
  stuck.set_option(asio::socket_base::receive_buffer_size(4096));
  stuck.connect(tcp::endpoint(asio::ip::make_address(kOperatorAddress), station.server->Port()));
  asio::write(stuck, asio::buffer("GET /api/events?since=0 HTTP/1.1\r\n" + host + "\r\n"));

  // Far more than the socket's buffers and the model's kept changes hold; the
  // line's calls return while the viewer reads nothing.
  const std::string summary(8192, 's');
  constexpr int kChanges = 3000;
  std::thread line([&] {
    for (int i = 0; i < kChanges; ++i) station.model.SlotEnded(i % 2, summary);
  });
  line.join();
  const std::uint64_t last = station.model.Sequence();
  ASSERT_EQ(last, static_cast<std::uint64_t>(kChanges));

  // Another viewer is served meanwhile, and its stream carries the newest change.
  tcp::socket other = Connect(io, kOperatorAddress, station.server->Port());
  asio::write(other, asio::buffer("GET /api/events?since=" + std::to_string(last - 1) + " HTTP/1.1\r\n" + host + "\r\n"));
  EXPECT_NE(ReadUntil(other, "id: " + std::to_string(last) + "\n").find("id: " + std::to_string(last) + "\n"),
            std::string::npos);

  // The stuck viewer, reading at last, is told to load the snapshot again
  // rather than given every change it missed.
  const std::string missed = ReadUntil(stuck, "event: resync");
  EXPECT_NE(missed.find("event: resync"), std::string::npos) << missed.size() << " bytes read";
  EXPECT_EQ(missed.find("id: " + std::to_string(last) + "\n"), std::string::npos);
}

}  // namespace
