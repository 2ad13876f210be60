#include "run/interface_check.h"

#include "os/interfaces.h"
#include "os/socket.h"

InterfaceCheck CheckInterface(const std::string& name) {
  int error = 0;
  NetInterface found;
  if (SockFindInterface(name, &found, &error)) {
    if (found.up) return {true, ""};
    return {false, "the network interface " + name + " is down"};
  }
  if (error != 0) return {false, "the network interfaces cannot be listed: " + SockErrorText(error)};
  std::string known;
  for (const NetInterface& i : SockListInterfaces(&error)) {
    known += (known.empty() ? "" : ", ") + i.name + (i.up ? "" : " (down)");
  }
  return {false, "no network interface " + name + " (there are: " + (known.empty() ? "none" : known) + ")"};
}
