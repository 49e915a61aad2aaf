#include "protocol/extent.h"

#include "protocol/headers.h"
#include "protocol/packet.h"

namespace {
// Walks fields over the buffered bytes without reading past them: each step
// either advances or stops because the bytes ran out or the capacity would be
// passed.
class LayoutWalker {
 public:
  LayoutWalker(const uint8_t* bytes, size_t n) : bytes_(bytes), n_(n) {}

  bool Short(uint16_t& value) {
    if (!Need(2)) return false;
    value = static_cast<uint16_t>(bytes_[offset_] | (bytes_[offset_ + 1] << 8));
    offset_ += 2;
    return true;
  }
  bool Skip(size_t count) {
    if (!Need(count)) return false;
    offset_ += count;
    return true;
  }
  bool CountedString() {
    uint16_t count = 0;
    return Short(count) && Skip(count);
  }
  bool ChatLine() { return CountedString() && CountedString() && CountedString() && Skip(12); }

  MessageExtent Result(bool walked) const {
    if (overflow_) return {ExtentKind::NoLayout, 0};
    if (!walked) return {ExtentKind::Incomplete, 0};
    return {ExtentKind::Complete, offset_};
  }

 private:
  // The capacity is tested first, so that a message which cannot fit is
  // refused at once rather than buffered while its bytes trickle in.
  bool Need(size_t count) {
    if (offset_ + count > PACKET_CAPACITY) {
      overflow_ = true;
      return false;
    }
    return offset_ + count <= n_;
  }

  const uint8_t* bytes_;
  size_t n_;
  size_t offset_ = 0;
  bool overflow_ = false;
};

// Fields after a chat header; false from `known` when the header selects no layout.
bool WalkChatBody(LayoutWalker& w, uint16_t chatHeader, bool& known) {
  known = true;
  switch (chatHeader) {
    case CHAT_SAYS:
    case CHAT_UNRELAYED:
      return w.ChatLine();
    case CHAT_PRIVATE:
      return w.CountedString() && w.ChatLine();
    case CHAT_JOINED:
    case CHAT_DISCONNECTED:
      return w.CountedString();
    default:
      known = false;
      return false;
  }
}
}  // namespace

MessageExtent FirstMessageExtent(const uint8_t* bytes, size_t n, bool toServer) {
  if (n == 0) return {ExtentKind::Incomplete, 0};
  LayoutWalker w(bytes, n);
  uint16_t header = 0;
  if (!w.Short(header)) return {ExtentKind::Incomplete, 0};

  if (header == HEADER_WELCOME && toServer) return w.Result(w.CountedString());
  if (header != HEADER_CHAT && header != HEADER_WELCOME) return {ExtentKind::NoLayout, 0};

  uint16_t chatHeader = 0;
  if (!w.Short(chatHeader)) return w.Result(false);
  bool known = true;
  const bool walked = WalkChatBody(w, chatHeader, known);
  if (!known) return {ExtentKind::NoLayout, 0};
  return w.Result(walked);
}
