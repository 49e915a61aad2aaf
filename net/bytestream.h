#pragma once
// How one connection's bytes travel: as they are, inside TLS, or (a
// browser's) in WebSocket frames over either. A kind turns what the socket
// brings into the chat's messages and the chat's messages into what goes to
// the socket, and it may have bytes of its own to send (a handshake's, an
// HTTP response). The relay, the limits and the once-per-pass write see only the
// chat's messages and never know which kind carries them.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Bytes from the socket. The chat's bytes they carry are appended to
  // `opened`, and bytes this kind must send of its own to `own`. False when
  // the stream can no longer be trusted (a bad record, a failed handshake, a
  // close alert): the connection is to go.
  virtual bool Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) = 0;
  // The chat's messages, back to back in `messages` (`ends` says where each
  // one ends, for a kind that frames them one by one), made ready for the
  // socket and appended to `sealed`. Only once Ready.
  virtual bool Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>& ends,
                    std::vector<uint8_t>& sealed) = 0;
  // The chat's messages may flow: a handshake, if any, is done.
  virtual bool Ready() const = 0;
  virtual bool Encrypted() const = 0;
  // Sealing leaves the chat's bytes as they are.
  virtual bool Transparent() const { return false; }
  // Seals one message by itself into `sealed`, for a kind that seals each
  // message alone (as it is, or in a frame of its own): it is then written
  // as it comes, without staging. False for a kind that seals messages
  // together at the write (TLS records).
  virtual bool SealAlone(const uint8_t*, size_t, std::vector<uint8_t>&) { return false; }
  // The stream has said its last (an answer that closes, a WebSocket closed):
  // the connection ends once its output has left, and nothing more is read.
  virtual bool Finished() const { return false; }
  // When a peer that has not identified itself must have said more, in place
  // of the server's limit on newcomers (a browser's kept-alive connection
  // has a time for each request); none: that limit holds.
  virtual std::optional<std::chrono::steady_clock::time_point> Deadline() const { return std::nullopt; }
  // Nothing is under way: the peer may only send a next request, and the
  // connection may go without anything lost (a browser sends that request
  // on another connection).
  virtual bool Idle() const { return false; }
  // The server is stopping: a kind that has a last word of its own for the
  // peer (a browser's WebSocket close) appends it to `own`, sealed, and
  // says its last. Nothing of the chat's is sealed after it.
  virtual bool HasGoodbye() const { return false; }
  // The connection is no longer the chat's: a request for a shared file
  // came, and the connection is to go to the file door as it is.
  virtual bool HandsOff() const { return false; }
  virtual bool Goodbye(std::vector<uint8_t>& /*own*/) { return false; }
};

// The chat's messages as they are, byte for byte.
class PlainStream : public ByteStream {
 public:
  bool Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) override;
  bool Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>& ends,
            std::vector<uint8_t>& sealed) override;
  bool Ready() const override { return true; }
  bool Encrypted() const override { return false; }
  bool Transparent() const override { return true; }
  bool SealAlone(const uint8_t* bytes, size_t n, std::vector<uint8_t>& sealed) override {
    sealed.insert(sealed.end(), bytes, bytes + n);
    return true;
  }
};

// What a server makes of the first bytes of a new connection.
enum class StreamKind {
  Undecided,  // too few bytes yet to tell
  Plain,      // the chat's own messages (a welcome, or anything else the transport judges)
  Tls,        // a TLS handshake record
  Web,        // an HTTP request: a browser
};
StreamKind KindOfFirstBytes(const uint8_t* bytes, size_t n);
