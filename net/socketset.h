#pragma once
// The set of sockets a server waits on: a count and a fixed array, in the
// order the sockets were added.

#include <cstdint>

#include "net/sockets.h"

constexpr uint32_t SOCKET_SET_SIZE = 64;

struct SocketSet {
  uint32_t fd_count = 0;
  Socket fd_array[SOCKET_SET_SIZE] = {};

  bool Full() const { return fd_count >= SOCKET_SET_SIZE; }
  bool Contains(Socket s) const;
  // False, and nothing changes, when the set is full.
  bool Add(Socket s);
  // The sockets behind it move up one place; absent sockets change nothing.
  void Remove(Socket s);
  void Reset() { fd_count = 0; }
};
