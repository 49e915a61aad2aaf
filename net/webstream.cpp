#include "net/webstream.h"

#include <algorithm>

#include "protocol/extent.h"
#include "protocol/packet.h"

WebStream::WebStream(std::unique_ptr<ByteStream> inner, const FrontDoor& door, const Doorstep& doorstep)
    : inner(std::move(inner)), web(door, doorstep) {}

bool WebStream::Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) {
  std::vector<uint8_t> plain;
  if (!inner->Open(bytes, n, plain, own)) return false;
  return plain.empty() || OpenInner(plain, opened, own);
}

bool WebStream::OpenInner(const std::vector<uint8_t>& plain, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) {
  std::vector<uint8_t> answer;
  const bool open = web.Receive(
      plain.data(), plain.size(),
      [&opened](const uint8_t* m, size_t n) {
        // A frame carries one message: bytes past its last field are not
        // another, and a frame that holds no whole message holds nothing.
        const MessageExtent extent = FirstMessageExtent(m, n, true);
        if (extent.kind != ExtentKind::Complete || extent.length > PACKET_CAPACITY) return;
        opened.insert(opened.end(), m, m + extent.length);
      },
      answer);
  if (!open) finished = true;
  // The answer (a response, a pong, a close) goes out through the inner stream.
  return answer.empty() || inner->Seal(answer, {answer.size()}, own);
}

bool WebStream::Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>& ends,
                     std::vector<uint8_t>& sealed) {
  // Over a plain stream the frames are the bytes that leave: made in place.
  const bool inPlace = inner->Transparent();
  std::vector<uint8_t>& out = inPlace ? sealed : framed;
  framed.clear();
  frameEnds.clear();
  size_t from = 0;
  for (const size_t end : ends) {
    web.Send(messages.data() + from, end - from, out);
    if (!inPlace) frameEnds.push_back(framed.size());
    from = end;
  }
  return inPlace || inner->Seal(framed, frameEnds, sealed);
}

bool WebStream::SealAlone(const uint8_t* bytes, size_t n, std::vector<uint8_t>& sealed) {
  if (!inner->Transparent() || !Ready()) return false;
  web.Send(bytes, n, sealed);
  return true;
}

bool WebStream::Goodbye(std::vector<uint8_t>& own) {
  if (!HasGoodbye()) return false;
  std::vector<uint8_t> close;
  web.Close(close);
  finished = true;
  return inner->Seal(close, {close.size()}, own);
}
