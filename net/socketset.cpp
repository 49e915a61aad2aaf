#include "net/socketset.h"

bool SocketSet::Contains(Socket s) const {
  for (uint32_t i = 0; i < fd_count; ++i) {
    if (fd_array[i] == s) return true;
  }
  return false;
}

bool SocketSet::Add(Socket s) {
  if (Full()) return false;
  fd_array[fd_count++] = s;
  return true;
}

void SocketSet::Remove(Socket s) {
  for (uint32_t i = 0; i < fd_count; ++i) {
    if (fd_array[i] != s) continue;
    for (uint32_t j = i + 1; j < fd_count; ++j) fd_array[j - 1] = fd_array[j];
    --fd_count;
    return;
  }
}
