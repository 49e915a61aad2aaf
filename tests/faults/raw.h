#pragma once
// Hand-made connections to the server: they send whatever a fault needs and
// note when the server closes them.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

struct Raw {
  int fd = -1;
  bool connected = false;
  bool closedByServer = false;
  bool reads = true;  // false: never reads what the server sends
  Clock::time_point connectedAt{};
  Clock::time_point closedAt{};
  size_t bytesIn = 0;
};

// Opens n connections to 127.0.0.1:port, one every `gap`, and waits until each
// is established or the timeout passes. receiveBuffer > 0 sets SO_RCVBUF first.
// The server accepts one connection per 50 ms pass with a backlog of 5: a
// burst faster than that waits in the kernel's SYN retries for many seconds,
// so the faults open theirs at about the accept rate.
constexpr std::chrono::milliseconds ACCEPT_GAP{55};
std::vector<Raw> ConnectMany(int n, uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer = 0,
                             std::chrono::milliseconds gap = ACCEPT_GAP);
// Sends what the socket takes now; never waits.
void SendNow(Raw& r, const std::string& bytes);
// Reads and drops whatever arrived on the reading connections; notes closes.
void Pump(std::vector<Raw>& conns);
// Closes in an orderly way, or with a reset (as a killed process's socket may end).
void CloseRaw(Raw& r);
void AbortRaw(Raw& r);
void CloseAll(std::vector<Raw>& conns);
int CountClosedByServer(const std::vector<Raw>& conns);
