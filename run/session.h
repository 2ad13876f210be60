#pragma once

// One board reached over one link, as a Connect reaches it: the link opened (UDP
// probe, TCP fallback) and the identity record read. A session owns its link and
// shares nothing with any other, so several sessions run side by side, one per
// board, each on a thread of its own.

#include <string>

#include "link/frames.h"
#include "link/link.h"
#include "link/protocol.h"
#include "vocabulary/vocabulary.h"

// How a session reaches its board: the link's waits, the network port its
// sockets are tied to (empty: whichever the routes choose) and what watches
// the link (a trace, a capture, a window's idle hook; null: nothing).
struct SessionConfig {
  LinkWaits waits = kBoardWaits;
  std::string interfaceName;
  LinkObserver* observer = nullptr;
};

class Session {
 public:
  explicit Session(const SessionConfig& config) : link_(config.waits) {
    link_.interfaceName = config.interfaceName;
    link_.observer = config.observer;
  }
  explicit Session(const LinkWaits& waits = kBoardWaits) : Session(SessionConfig{waits, "", nullptr}) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Opens the link to the board at `address` and reads its identity record. A
  // link already open is closed first. After a failed identity read the link
  // stays open, as a Connect leaves it.
  void Open(const std::string& address);
  // Closes the link: 0, or 1 when the socket library refuses (the link stays).
  int Close();

  const std::string& Address() const { return address_; }
  // The link stands (OpenLink succeeded and nothing closed it since).
  bool Connected() const { return opened_.Opened() && link_.IsOpen(); }
  const OpenOutcome& Opened() const { return opened_; }
  LinkMode Transport() const { return link_.mode; }
  bool IdentityRead() const { return identityRead_; }
  const LinkOutcome& IdentityOutcome() const { return identityOutcome_; }
  const IdentityBlock& Identity() const { return identity_; }
  IdentityTexts Texts() const { return DescribeIdentity(identity_); }
  // How long the last Open took, the probe and the identity read included.
  double OpenSeconds() const { return openSeconds_; }

  // The network interface every socket is tied to (a slot of a station with
  // one board per port); empty: none.
  const std::string& InterfaceName() const { return link_.interfaceName; }

  // A front end's view into the link's waits (a window's idle hook), for a
  // session made before its watcher.
  void Watch(LinkObserver* observer) { link_.observer = observer; }
  // The run layer's way to the board; front ends do not send commands.
  BoardLink& Link() { return link_; }

 private:
  BoardLink link_;
  std::string address_;
  OpenOutcome opened_ = OpenOutcome::Failed(-1);  // no Open yet
  bool identityRead_ = false;
  LinkOutcome identityOutcome_;
  IdentityBlock identity_{};
  double openSeconds_ = 0;
};
