#pragma once

// Whether a station can reach a board through a named network interface: the
// interface exists and is up. Asked before anything is sent, so a typing
// error does not send a probe out of the wrong port.

#include <string>

struct InterfaceCheck {
  bool usable = false;
  std::string problem;  // when not usable, in words that name the interfaces there are
};

InterfaceCheck CheckInterface(const std::string& name);
