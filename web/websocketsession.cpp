#include "web/websocketsession.h"

#include <openssl/rand.h>
#include <wslay/wslay.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

WebSocketSession::WebSocketSession(size_t maxMessage, Side side) : side(side) {
  wslay_event_callbacks callbacks{};
  callbacks.recv_callback = [](wslay_event_context_ptr ctx, uint8_t* buffer, size_t length, int flags,
                               void* self) -> ssize_t { return OnRecv(ctx, buffer, length, flags, self); };
  callbacks.send_callback = [](wslay_event_context_ptr ctx, const uint8_t* data, size_t length, int flags,
                               void* self) -> ssize_t { return OnSend(ctx, data, length, flags, self); };
  callbacks.on_msg_recv_callback = [](wslay_event_context_ptr ctx, const wslay_event_on_msg_recv_arg* arg, void* self) {
    OnMessage(ctx, arg, self);
  };
  callbacks.genmask_callback = [](wslay_event_context_ptr, uint8_t* buffer, size_t length, void*) {
    return RAND_bytes(buffer, static_cast<int>(length)) == 1 ? 0 : -1;
  };
  const int made = side == Side::Host ? wslay_event_context_server_init(&context, &callbacks, this)
                                      : wslay_event_context_client_init(&context, &callbacks, this);
  if (made != 0) throw std::bad_alloc();
  wslay_event_config_set_max_recv_msg_length(context, maxMessage);
  wslay_frame_callbacks frameCallbacks{};
  frameCallbacks.send_callback = [](const uint8_t* data, size_t length, int, void* self) -> ssize_t {
    return OnSend(nullptr, data, length, 0, self);
  };
  frameCallbacks.genmask_callback = [](uint8_t* buffer, size_t length, void*) {
    return RAND_bytes(buffer, static_cast<int>(length)) == 1 ? 0 : -1;
  };
  if (wslay_frame_context_init(&frames, &frameCallbacks, this) != 0) {
    wslay_event_context_free(context);
    throw std::bad_alloc();
  }
}

WebSocketSession::~WebSocketSession() {
  wslay_frame_context_free(frames);
  wslay_event_context_free(context);
}

long WebSocketSession::OnRecv(wslay_event_context* ctx, uint8_t* buffer, size_t length, int, void* self) {
  auto* session = static_cast<WebSocketSession*>(self);
  if (session->inputLeft == 0) {
    wslay_event_set_error(ctx, WSLAY_ERR_WOULDBLOCK);
    return -1;
  }
  const size_t n = std::min(length, session->inputLeft);
  std::memcpy(buffer, session->input, n);
  session->input += n;
  session->inputLeft -= n;
  return static_cast<long>(n);
}

long WebSocketSession::OnSend(wslay_event_context*, const uint8_t* data, size_t length, int, void* self) {
  auto* session = static_cast<WebSocketSession*>(self);
  assert(session->output != nullptr);
  session->output->insert(session->output->end(), data, data + length);
  return static_cast<long>(length);
}

void WebSocketSession::OnMessage(wslay_event_context* ctx, const void* argument, void* self) {
  auto* session = static_cast<WebSocketSession*>(self);
  const auto* arg = static_cast<const wslay_event_on_msg_recv_arg*>(argument);
  if (arg->opcode == WSLAY_BINARY_FRAME) {
    session->received.emplace_back(arg->msg, arg->msg + arg->msg_length);
  } else if (arg->opcode == WSLAY_TEXT_FRAME) {
    // The chat's messages are bytes; text is not one of them.
    wslay_event_queue_close(ctx, WSLAY_CODE_UNSUPPORTED_DATA, nullptr, 0);
    wslay_event_shutdown_read(ctx);
  }
}

WebSocketSession::Status WebSocketSession::Receive(const uint8_t* bytes, size_t n, const Message& message,
                                                   std::vector<uint8_t>& out) {
  if (Current() == Status::Closing) return Status::Closing;
  input = bytes;
  inputLeft = n;
  const int failed = wslay_event_recv(context);
  input = nullptr;
  inputLeft = 0;
  if (failed != 0) wslay_event_shutdown_read(context);
  Flush(out);
  std::vector<std::vector<uint8_t>> whole;
  whole.swap(received);
  // What came before a close is still handed on: a page sends its departure
  // and its close together.
  for (const auto& m : whole) message(m.data(), m.size());
  return Current();
}

void WebSocketSession::Send(const uint8_t* bytes, size_t n, std::vector<uint8_t>& out) {
  if (!wslay_event_get_write_enabled(context) || wslay_event_get_close_sent(context)) return;
  // Nothing of the session's own waits: its answers are flushed as they come.
  output = &out;
  wslay_frame_iocb frame{1, 0, WSLAY_BINARY_FRAME, n, side == Side::Visitor ? uint8_t{1} : uint8_t{0}, bytes, n};
  // The send callback takes everything, so one call sends the frame whole.
  if (wslay_frame_send(frames, &frame) != static_cast<ssize_t>(n)) wslay_event_shutdown_write(context);
  output = nullptr;
}

void WebSocketSession::Close(uint16_t code, std::vector<uint8_t>& out) {
  wslay_event_queue_close(context, code, nullptr, 0);
  wslay_event_shutdown_read(context);
  Flush(out);
}

void WebSocketSession::Flush(std::vector<uint8_t>& out) {
  output = &out;
  // The send callback takes everything, so one call sends all that is queued.
  if (wslay_event_send(context) != 0) wslay_event_shutdown_write(context);
  output = nullptr;
}

WebSocketSession::Status WebSocketSession::Current() const {
  const bool open = wslay_event_get_read_enabled(context) && !wslay_event_get_close_received(context) &&
                    !wslay_event_get_close_sent(context);
  return open ? Status::Open : Status::Closing;
}

uint16_t WebSocketSession::CloseCodeReceived() const { return wslay_event_get_status_code_received(context); }
