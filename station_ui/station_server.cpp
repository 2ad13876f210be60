#include "station_ui/station_server.h"

#include <atomic>
#include <csignal>
#include <optional>
#include <list>
#include <random>
#include <string_view>
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include "station_ui/page_files.h"
#include "station_ui/request_guard.h"

namespace station_ui {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using namespace server_const;

namespace {

// Only the station itself: no inline script or style, nothing from elsewhere.
constexpr const char kSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
constexpr const char kTokenPlaceholder[] = "@TOKEN@";
constexpr const char kRolePlaceholder[] = "@ROLE@";
constexpr const char kTooMany[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\nRetry-After: 5\r\n\r\n";

struct Target {
  std::string path;
  std::string since;  // ?since=
  std::string token;  // ?token=
};

// Path and the two query parameters the station reads; values are taken as
// they are (a token and a number need no unescaping).
Target SplitTarget(std::string_view target) {
  Target out;
  const std::size_t question = target.find('?');
  out.path = std::string(target.substr(0, question));
  if (question == std::string_view::npos) return out;
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (pair.substr(0, 6) == "since=") out.since = std::string(pair.substr(6));
    if (pair.substr(0, 6) == "token=") out.token = std::string(pair.substr(6));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return out;
}

std::uint64_t ParseSince(const std::string& text) {
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::string ErrorJson(const std::string& words) {
  return nlohmann::json{{"error", words}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string AnswerJson(const ControlAnswer& answer) {
  return nlohmann::json{{"accepted", answer.accepted}, {"words", answer.words}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// /api/slots/N/serial -> N; -1 otherwise.
int SlotOfSerialPath(std::string_view path, int slots) {
  constexpr std::string_view kPrefix = "/api/slots/";
  constexpr std::string_view kSuffix = "/serial";
  if (path.substr(0, kPrefix.size()) != kPrefix || path.size() <= kPrefix.size() + kSuffix.size()) return -1;
  if (path.substr(path.size() - kSuffix.size()) != kSuffix) return -1;
  const std::string_view number = path.substr(kPrefix.size(), path.size() - kPrefix.size() - kSuffix.size());
  if (number.empty() || number.size() > 4) return -1;
  int slot = 0;
  for (char c : number) {
    if (c < '0' || c > '9') return -1;
    slot = slot * 10 + (c - '0');
  }
  return slot < slots ? slot : -1;
}

}  // namespace

std::string RandomToken() {
  std::random_device device;
  std::string token;
  constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) {
    const unsigned byte = device() & 0xFFu;
    token += kHex[byte >> 4];
    token += kHex[byte & 0xFu];
  }
  return token;
}

class Connection;

struct StationServer::Impl {
  Impl(StationModel& m, StationControl& c, ServerSettings s)
      : model(m), control(c), settings(std::move(s)), acceptor(io), heartbeat(io) {
    if (settings.operatorToken.empty()) settings.operatorToken = RandomToken();
  }

  void Accept();
  void WakeStreams();
  void Beat();

  StationModel& model;
  StationControl& control;
  ServerSettings settings;
  GuardSettings guard;
  // Declared before the io_context: the connections its handlers hold count
  // themselves out here when it is destroyed.
  int connections = 0;
  // The live streams, to be woken on a change; held here between writes, when
  // nothing else holds them, and let go when they close.
  std::list<std::shared_ptr<Connection>> streams;
  std::atomic<bool> wakePending{false};
  asio::io_context io;
  tcp::acceptor acceptor;
  asio::steady_timer heartbeat;
  std::optional<asio::signal_set> signals;
};

// One client connection: requests one after another, until it turns into a
// live stream (GET /api/events) that lasts as long as the client.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(StationServer::Impl& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)) {
    ++server_.connections;
    beast::error_code ec;
    const tcp::endpoint local = stream_.socket().local_endpoint(ec);
    if (!ec) {
      loopback_ = local.address().is_loopback();
      localAddress_ = local.address().to_string();
    }
  }
  ~Connection() { --server_.connections; }

  void Start() { ReadRequest(); }

  // Sends what the model changed since the client's cursor; one write at a time.
  void Pump(bool heartbeat) {
    if (!streaming_ || writing_) return;
    const EventsSince changes = server_.model.ChangesSince(cursor_);
    std::string text;
    bool last = false;
    if (changes.resync) {
      // Too far behind: the client reloads the snapshot and opens a new stream.
      text = "event: resync\ndata: {}\n\n";
      last = true;
    } else {
      for (const ModelEvent& event : changes.events) {
        text += "id: " + std::to_string(event.seq) + "\nevent: change\ndata: " + event.json + "\n\n";
      }
      cursor_ = changes.last;
    }
    if (text.empty() && heartbeat) text = ": still here\n\n";
    if (text.empty()) return;
    WriteStream(std::make_shared<std::string>(std::move(text)), last);
  }

 private:
  void ReadRequest() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    parser_->body_limit(kMaxBodyBytes);
    stream_.expires_after(kReadTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
  }

  void OnRead(beast::error_code ec) {
    if (ec == http::error::body_limit) return Refuse(http::status::payload_too_large, "The request is too large.");
    if (ec == http::error::header_limit) {
      return Refuse(http::status::request_header_fields_too_large, "The request is too large.");
    }
    if (ec) return Close();  // gone, timed out, or not HTTP
    Handle(parser_->get());
  }

  void Refuse(http::status status, const std::string& words) {
    http::response<http::string_body> response{status, 11};
    response.body() = ErrorJson(words);
    response.set(http::field::content_type, "application/json");
    response.keep_alive(false);
    Send(std::move(response));
  }

  void Handle(const http::request<http::string_body>& request) {
    const Target target = SplitTarget(request.target());
    const bool post = request.method() == http::verb::post;
    RequestFacts facts;
    facts.loopback = loopback_;
    facts.localAddress = localAddress_;
    facts.stateChanging = request.method() != http::verb::get && request.method() != http::verb::head;
    facts.host = std::string(request[http::field::host]);
    facts.origin = std::string(request[http::field::origin]);
    facts.tokenHeader = std::string(request[kTokenHeader]);
    facts.cookie = std::string(request[http::field::cookie]);
    facts.authorization = std::string(request[http::field::authorization]);
    facts.queryToken = target.token;
    viewCookie_.clear();
    const GuardVerdict verdict = CheckRequest(server_.guard, facts);
    if (verdict.status != 200) return Reply(request, static_cast<http::status>(verdict.status), ErrorJson(verdict.reason));
    viewCookie_ = verdict.setViewCookie ? server_.settings.viewToken : "";
    const bool viewer = verdict.role == Role::kViewer;

    if (post) return HandlePost(request, target.path);
    if (request.method() != http::verb::get) {
      return Reply(request, http::status::method_not_allowed, ErrorJson("Not here."));
    }
    if (target.path == "/api/events") return StartStream(target.since);
    if (target.path == "/api/status") return Reply(request, http::status::ok, StatusJson(viewer));
    if (target.path == "/api/history") return Reply(request, http::status::ok, server_.model.HistoryJson());
    if (target.path == "/api/shift.csv") {
      return Reply(request, http::status::ok, server_.model.ShiftCsv(), "text/csv; charset=utf-8", "shift.csv");
    }
    if (target.path == "/api/log") {
      return Reply(request, http::status::ok, server_.model.RunLog(), "application/x-ndjson", "run-log.jsonl");
    }
    const PageFile* file = FindPageFile(target.path);
    if (file == nullptr) return Reply(request, http::status::not_found, ErrorJson("Not here."));
    std::string body(reinterpret_cast<const char*>(file->data), file->size);
    if (std::string_view(file->path) == "/index.html") {
      // The operator's page carries the run's token; a viewer's page none.
      Substitute(body, kTokenPlaceholder, viewer ? "" : server_.settings.operatorToken);
      Substitute(body, kRolePlaceholder, viewer ? "viewer" : "operator");
    }
    Reply(request, http::status::ok, std::move(body), ContentTypeOf(file->path));
  }

  void HandlePost(const http::request<http::string_body>& request, const std::string& path) {
    ControlAnswer answer;
    if (path == "/api/start") {
      answer = server_.control.Start();
    } else if (path == "/api/stop") {
      answer = server_.control.Stop();
    } else if (const int slot = SlotOfSerialPath(path, server_.model.SlotCount()); slot >= 0) {
      const nlohmann::json body = nlohmann::json::parse(request.body(), nullptr, false);
      if (!body.is_object() || !body.contains("serial") || !body["serial"].is_string()) {
        return Reply(request, http::status::bad_request, ErrorJson("Send {\"serial\": \"...\"}."));
      }
      answer = server_.control.BindSerial(slot, body["serial"].get<std::string>());
    } else {
      return Reply(request, http::status::not_found, ErrorJson("Not here."));
    }
    Reply(request, answer.accepted ? http::status::ok : http::status::conflict, AnswerJson(answer));
  }

  std::string StatusJson(bool viewer) const {
    std::string snapshot = server_.model.SnapshotJson();
    // {"seq":...} -> {"apiVersion":"1","role":"...","seq":...}
    return std::string("{\"apiVersion\":\"") + kApiVersion + "\",\"role\":\"" + (viewer ? "viewer" : "operator") +
           "\"," + snapshot.substr(1);
  }

  static void Substitute(std::string& text, std::string_view placeholder, const std::string& value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }

  void CommonHeaders(http::fields& fields, const char* type) {
    fields.set(http::field::server, "tovrin-station");
    fields.set(http::field::content_type, type);
    fields.set(http::field::cache_control, "no-store");
    fields.set("Content-Security-Policy", kSecurityPolicy);
    fields.set("X-Content-Type-Options", "nosniff");
    fields.set("X-Frame-Options", "DENY");
    fields.set("Referrer-Policy", "no-referrer");
    if (!viewCookie_.empty()) {
      fields.set(http::field::set_cookie,
                 std::string(kViewCookie) + "=" + viewCookie_ + "; Path=/; HttpOnly; SameSite=Strict");
    }
  }

  void Reply(const http::request<http::string_body>& request, http::status status, std::string body,
             const char* type = "application/json", const char* download = nullptr) {
    http::response<http::string_body> response{status, request.version()};
    CommonHeaders(response.base(), type);
    if (download != nullptr) {
      response.set(http::field::content_disposition, std::string("attachment; filename=\"") + download + "\"");
    }
    response.body() = std::move(body);
    response.keep_alive(request.keep_alive() && static_cast<int>(status) < 400);
    Send(std::move(response));
  }

  void Send(http::response<http::string_body>&& response) {
    response.prepare_payload();
    auto held = std::make_shared<http::response<http::string_body>>(std::move(response));
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, *held, [self = shared_from_this(), held](beast::error_code ec, std::size_t) {
      if (ec || !held->keep_alive()) return self->Close();
      self->ReadRequest();
    });
  }

  void StartStream(const std::string& since) {
    streaming_ = true;
    const std::uint64_t last = server_.model.Sequence();
    // Without a cursor the client starts from now; it loads the snapshot first.
    cursor_ = since.empty() ? last : ParseSince(since);
    http::response<http::empty_body> head{http::status::ok, 11};
    CommonHeaders(head.base(), "text/event-stream");
    head.set(http::field::connection, "close");
    std::string text;
    for (const auto& field : head.base()) {
      text += std::string(field.name_string()) + ": " + std::string(field.value()) + "\r\n";
    }
    text = "HTTP/1.1 200 OK\r\n" + text + "\r\n: stream\n\n";
    server_.streams.push_back(shared_from_this());
    WriteStream(std::make_shared<std::string>(std::move(text)), false);
  }

  // A client that does not read within kWriteTimeout is dropped; the model and
  // the other clients never wait for it.
  void WriteStream(std::shared_ptr<std::string> text, bool last) {
    writing_ = true;
    stream_.expires_after(kWriteTimeout);
    asio::async_write(stream_, asio::buffer(*text),
                      [self = shared_from_this(), text, last](beast::error_code ec, std::size_t) {
                        self->writing_ = false;
                        if (ec || last) return self->Close();
                        self->Pump(false);
                      });
  }

  void Close() {
    if (streaming_) server_.streams.remove_if([this](const std::shared_ptr<Connection>& c) { return c.get() == this; });
    streaming_ = false;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  StationServer::Impl& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool loopback_ = false;
  std::string localAddress_;
  std::string viewCookie_;
  bool streaming_ = false;
  bool writing_ = false;
  std::uint64_t cursor_ = 0;
};

void StationServer::Impl::Accept() {
  acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) {
      if (connections >= kMaxConnections) {
        // Said without waiting: the short answer fits any socket's buffer.
        beast::error_code ignored;
        socket.non_blocking(true, ignored);
        socket.write_some(asio::buffer(kTooMany, sizeof kTooMany - 1), ignored);
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
      } else {
        std::make_shared<Connection>(*this, std::move(socket))->Start();
      }
    }
    Accept();
  });
}

void StationServer::Impl::WakeStreams() {
  wakePending = false;
  const std::list<std::shared_ptr<Connection>> woken = streams;
  for (const auto& stream : woken) stream->Pump(false);
}

void StationServer::Impl::Beat() {
  heartbeat.expires_after(kHeartbeat);
  heartbeat.async_wait([this](beast::error_code ec) {
    if (ec) return;
    const std::list<std::shared_ptr<Connection>> woken = streams;
    for (const auto& stream : woken) stream->Pump(true);
    Beat();
  });
}

StationServer::StationServer(StationModel& model, StationControl& control, ServerSettings settings)
    : impl_(std::make_unique<Impl>(model, control, std::move(settings))) {}

StationServer::~StationServer() {
  impl_->model.SetListener({});
  // The streams go before the io_context does; what its handlers still hold
  // goes with it.
  impl_->streams.clear();
}

bool StationServer::Listen(std::string& error) {
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(impl_->settings.address, ec);
  if (ec) {
    error = "not an IPv4 address: " + impl_->settings.address;
    return false;
  }
  const tcp::endpoint endpoint(address, impl_->settings.port);
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + impl_->settings.address + ":" + std::to_string(impl_->settings.port) + ": " +
            ec.message();
    return false;
  }
  impl_->guard.port = impl_->acceptor.local_endpoint().port();
  impl_->guard.operatorToken = impl_->settings.operatorToken;
  impl_->guard.viewToken = impl_->settings.viewToken;
  // The model's threads only post a wake-up, once until it has run.
  Impl* impl = impl_.get();
  impl_->model.SetListener([impl] {
    if (!impl->wakePending.exchange(true)) asio::post(impl->io, [impl] { impl->WakeStreams(); });
  });
  impl_->Accept();
  impl_->Beat();
  return true;
}

unsigned short StationServer::Port() const { return impl_->guard.port; }
const std::string& StationServer::OperatorToken() const { return impl_->settings.operatorToken; }
void StationServer::StopOnInterrupt(std::function<void()> first) {
  Impl* impl = impl_.get();
  impl->signals.emplace(impl->io, SIGINT, SIGTERM);
  impl->signals->async_wait([impl, first = std::move(first)](beast::error_code ec, int) {
    if (ec) return;
    if (first) first();
    impl->io.stop();
  });
}

void StationServer::Run() { impl_->io.run(); }
void StationServer::Stop() { impl_->io.stop(); }

}  // namespace station_ui
