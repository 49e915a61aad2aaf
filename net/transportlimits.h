#pragma once

#include <chrono>
#include <cstddef>

// Bounds on how long the network may hold anybody up, and on what a server
// keeps for its readers. Tests shorten them.
struct TransportLimits {
  std::chrono::milliseconds identifyTimeout{10000};  // newcomer to send its welcome
  std::chrono::milliseconds sendTimeout{5000};       // a peer to take anything while bytes wait for it
  std::chrono::milliseconds connectTimeout{10000};   // a server to answer a connect
  int acceptedSendBuffer = 0;                        // SO_SNDBUF of accepted sockets; 0 keeps the system's
  // Unsent bytes a connection may hold before it counts as a reader that
  // cannot keep up: a burst of 20 full lines from a dozen others.
  size_t outputLimit = 256 * 1024;
  // A sender whose relays wait unsent beyond this, over all buffers, is not
  // read until they drain: TCP then pushes back on that sender alone.
  size_t senderBacklogLimit = 64 * 1024;
  // Client role: messages received and not yet taken by the poll loop beyond
  // which the socket thread stops reading, until half of them are taken: TCP
  // then makes a server that pushes faster than the window shows wait.
  uint32_t clientQueueLimit = 4096;
  // At Stop, how long the last notices may take to leave.
  std::chrono::milliseconds closingGrace{1000};
  // Watched connections one address may hold, so that one machine cannot
  // take every seat. This machine itself (127.0.0.0/8) is not counted when
  // `loopbackExempt`: the host's own user and local tools.
  size_t maxPerAddress = 8;
  bool loopbackExempt = true;
  // New connections one address may open at once, and then each second,
  // this machine included: beyond them a connection is closed as soon as it
  // is accepted. The burst lets a full room of local clients start together.
  // What one connection may send the host: `intakeBurst` bytes at once,
  // then `intakePerSecond` (a receive of 1024 bytes every 50 ms): a flooder
  // is read no faster, whatever its readers take, while a line after a quiet
  // moment is read at once.
  double intakeBurst = 16 * 1024;
  double intakePerSecond = 20 * 1024;
  double connectBurst = 64;
  double connectsPerSecond = 32;
};
