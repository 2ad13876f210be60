#include "tests/support/private_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool gInside = false;  // set once the namespace is entered and checked

[[noreturn]] void Refuse(const char* what) {
  std::fprintf(stderr, "refusing to run tests: %s (%s)\n", what, std::strerror(errno));
  std::exit(70);
}

void WriteFile(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    Refuse(path);
  }
  ::close(fd);
}

void SetAddress(int s, const char* label, const char* address, const char* mask) {
  ifreq request{};
  std::strncpy(request.ifr_name, label, IFNAMSIZ - 1);
  auto* in = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
  in->sin_family = AF_INET;
  ::inet_pton(AF_INET, address, &in->sin_addr);
  if (::ioctl(s, SIOCSIFADDR, &request) != 0) Refuse("cannot set a loopback address");
  in = reinterpret_cast<sockaddr_in*>(&request.ifr_netmask);
  in->sin_family = AF_INET;
  ::inet_pton(AF_INET, mask, &in->sin_addr);
  if (::ioctl(s, SIOCSIFNETMASK, &request) != 0) Refuse("cannot set a loopback netmask");
}

}  // namespace

void EnterPrivateNetwork() {
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) Refuse("cannot create a private network namespace");
  WriteFile("/proc/self/setgroups", "deny");
  WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
  WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");

  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) Refuse("no socket in the private namespace");
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(s, SIOCGIFFLAGS, &request) != 0) Refuse("no loopback interface");
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  if (::ioctl(s, SIOCSIFFLAGS, &request) != 0) Refuse("cannot bring loopback up");
  SetAddress(s, "lo:board", "192.168.167.100", "255.255.255.255");
  ::close(s);

  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) Refuse("cannot list interfaces");
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (std::strcmp(i->ifa_name, "lo") != 0 && std::strncmp(i->ifa_name, "lo:", 3) != 0) {
      errno = 0;
      Refuse("an interface other than loopback is visible");
    }
  }
  ::freeifaddrs(list);
  gInside = true;
}

bool InPrivateNetwork() { return gInside; }
