#pragma once
// The socket threads' rhythm. The relay benchmark's latency model uses the
// same values, so that the model cannot drift from the code.

#include <cstddef>

#include "protocol/packet.h"

// Every socket thread pauses this long each pass.
constexpr int PASS_PAUSE_MS = 50;
// One receive: at most one message.
constexpr size_t RECEIVE_SIZE = PACKET_CAPACITY;
// A client's socket thread takes at most this much from its server a pass,
// in receives of RECEIVE_SIZE.
constexpr size_t CLIENT_PASS_READ_LIMIT = 64 * 1024;
