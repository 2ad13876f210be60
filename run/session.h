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

class Session {
 public:
  explicit Session(const LinkWaits& waits = kBoardWaits) : link_(waits) {}
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

  // Ties every socket of the next Opens to one network interface (a slot of a
  // station with one board per port); empty: none.
  void BindToInterface(const std::string& name) { link_.interfaceName = name; }
  const std::string& InterfaceName() const { return link_.interfaceName; }

  // A front end's view into the link's waits (a window's idle hook, a trace).
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
