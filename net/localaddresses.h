#pragma once
// The machine's own IPv4 addresses, where a host that listens on every
// address can be reached: what it tells people to open on their phones.

#include <string>
#include <vector>

// Dotted addresses of the interfaces that are up, in the system's order,
// loopback left out unless it is the only one.
std::vector<std::string> LocalIPv4Addresses();
