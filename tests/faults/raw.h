#pragma once
// Hand-made connections to the server, many driven from one thread without
// ever blocking: they send whatever a fault needs and note when the server
// closes them. Each is a non-blocking common/raw_peer.h peer.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/raw_peer.h"

using Clock = std::chrono::steady_clock;

struct Raw {
  RawPeer peer;
  bool connected = false;
  bool closedByServer = false;
  bool reads = true;  // false: never reads what the server sends
  Clock::time_point connectedAt{};
  Clock::time_point closedAt{};
  size_t bytesIn = 0;
  std::string outbox;  // the unsent rest of the message being sent (Offer)
};

// Opens n connections to 127.0.0.1:port, one every `gap`, and waits until each
// is established or the timeout passes. receiveBuffer > 0 sets SO_RCVBUF first;
// maxSegment > 0 announces that segment size, which keeps the server's
// kernel send buffer toward this connection small (loopback's own 64 KiB
// segments let it grow to megabytes).
// The server listens with a backlog of 5: a burst faster than it accepts
// waits in the kernel's SYN retries, a second or more each, so the faults
// open theirs a little apart.
constexpr std::chrono::milliseconds ACCEPT_GAP{55};
std::vector<Raw> ConnectMany(int n, uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer = 0,
                             std::chrono::milliseconds gap = ACCEPT_GAP, int maxSegment = 0);
// Sends what the socket takes now; never waits.
void SendNow(Raw& r, const std::string& bytes);
// Sends whole messages without waiting: a message is taken only when the
// previous one has left entirely, and what the socket does not take yet stays
// in the outbox for Flush. False when the outbox is still busy.
bool Offer(Raw& r, const std::string& message);
void Flush(Raw& r);
// Bytes the kernel holds on the way from the server to this connection: the
// server socket's send queue and this socket's receive queue (/proc/net/tcp).
size_t KernelBytesToward(const Raw& r, uint16_t serverPort);
// Reads and drops whatever arrived on the reading connections; notes closes.
void Pump(std::vector<Raw>& conns);
// Closes in an orderly way, or with a reset (as a killed process's socket may end).
void CloseRaw(Raw& r);
void AbortRaw(Raw& r);
void CloseAll(std::vector<Raw>& conns);
int CountClosedByServer(const std::vector<Raw>& conns);

// A browser's side of the chat's port: the upgrade its page asks for, and one
// message as the masked binary frame it sends.
std::string BrowserUpgrade(uint16_t port);
std::string BrowserFrame(const std::string& message);
