#pragma once
// Cutting a TCP byte stream into messages. The chat's messages carry no
// length field or delimiter, so a receiver finds where the first message ends
// by walking its layout: the transport header, then the fields the header
// announces. Our own blocks under HEADER_RESERVED say their length.

#include <cstddef>
#include <cstdint>

enum class ExtentKind {
  Complete,    // the first message is whole and `length` bytes long
  Incomplete,  // wait for more bytes
  NoLayout,    // no layout applies: take everything buffered as one block
};

struct MessageExtent {
  ExtentKind kind;
  size_t length;  // meaningful for Complete only
};

// `toServer` is the receiving role: a HEADER_WELCOME sent to a server is a
// client welcome, one sent to a client carries a chat message.
MessageExtent FirstMessageExtent(const uint8_t* bytes, size_t n, bool toServer);
