#include "run/session.h"

#include "os/host.h"

namespace {
constexpr double kMsPerSecond = 1000.0;
}

void Session::Open(const std::string& address) {
  const std::int64_t started = MonotonicMs();
  address_ = address;
  identityRead_ = false;
  identityOutcome_ = LinkOutcome{};
  identity_ = IdentityBlock{};
  opened_ = OpenLink(link_, address.c_str());
  if (opened_.Opened()) {
    identityOutcome_ = ReadIdentity(link_, identity_);
    identityRead_ = identityOutcome_.Accepted();
  }
  openSeconds_ = static_cast<double>(MonotonicMs() - started) / kMsPerSecond;
}

int Session::Close() { return CloseLink(link_); }
