#pragma once
// How much a socket thread reads at once.

#include <cstddef>

#include "protocol/packet.h"

// One receive: at most one message.
constexpr size_t RECEIVE_SIZE = PACKET_CAPACITY;
// A client's socket thread takes at most this much from its server a wake-up,
// in receives of RECEIVE_SIZE.
constexpr size_t CLIENT_PASS_READ_LIMIT = 64 * 1024;
