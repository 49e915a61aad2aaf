#include "net/localaddresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

#include "net/sockets.h"

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> addresses, loopback;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_UP) == 0) continue;
    const std::string text = DottedAddress(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    if (text.empty()) continue;
    auto& into = (i->ifa_flags & IFF_LOOPBACK) != 0 ? loopback : addresses;
    if (std::find(into.begin(), into.end(), text) == into.end()) into.emplace_back(text);
  }
  freeifaddrs(list);
  return addresses.empty() ? loopback : addresses;
}
