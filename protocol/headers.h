#pragma once
// The two levels of 16-bit header that select a message on the wire.

#include <cstdint>

// Transport header: the first field of every message.
constexpr uint16_t HEADER_CHAT = 1;
constexpr uint16_t HEADER_RESERVED = 2;
constexpr uint16_t HEADER_WELCOME = 3;

// Chat header: follows HEADER_CHAT, and HEADER_WELCOME sent to a client.
// The same values are the Type of a ChatEvent.
constexpr uint16_t CHAT_SAYS = 1;
constexpr uint16_t CHAT_PRIVATE = 2;
constexpr uint16_t CHAT_JOINED = 3;
constexpr uint16_t CHAT_DISCONNECTED = 4;
constexpr uint16_t CHAT_UNRELAYED = 5;

// Endpoint roles: the one value that says which side a participant takes, as
// an endpoint, the settings and the settings dialog hold it.
enum EndpointRole : uint16_t { TYPE_SERVER = 0, TYPE_CLIENT = 1 };

// The name the server signs its shutdown notice with.
constexpr const char* SERVER_SHUTDOWN_NAME = "!!! SERVER !!!";
