#include "protocol/extent.h"

#include "protocol/extension.h"
#include "protocol/headers.h"
#include "protocol/packet.h"

namespace {
constexpr size_t kCount = 2;      // a string's 16-bit byte count
constexpr size_t kStyle = 6 * 2;  // Bold, Italic, Underline, Red, Green, Blue
constexpr size_t kChatLineMin = 3 * kCount + kStyle;

// Walks fields over the buffered bytes without reading past them: each step
// either advances or stops because the bytes ran out or the capacity would be
// passed.
class LayoutWalker {
 public:
  LayoutWalker(const uint8_t* bytes, size_t n) : bytes_(bytes), n_(n) {}

  bool Short(uint16_t& value) {
    if (!Need(2, 0)) return false;
    value = static_cast<uint16_t>(bytes_[offset_] | (bytes_[offset_ + 1] << 8));
    offset_ += 2;
    return true;
  }
  bool Skip(size_t count) { return Take(count, 0); }
  // `after` is the least the layout still needs behind the string, so that a
  // count which leaves no room for the fixed fields is refused when it is read.
  bool CountedString(size_t after) {
    uint16_t count = 0;
    return Short(count) && Take(count, after);
  }
  bool ChatLine() {
    return CountedString(2 * kCount + kStyle) && CountedString(kCount + kStyle) && CountedString(kStyle) &&
           Skip(kStyle);
  }

  MessageExtent Result(bool walked) const {
    if (overflow_) return {ExtentKind::NoLayout, 0};
    if (!walked) return {ExtentKind::Incomplete, 0};
    return {ExtentKind::Complete, offset_};
  }

 private:
  bool Take(size_t count, size_t after) {
    if (!Need(count, after)) return false;
    offset_ += count;
    return true;
  }
  // The capacity is tested first, so that a message which cannot fit is
  // refused at once rather than buffered while its bytes trickle in.
  bool Need(size_t count, size_t after) {
    if (offset_ + count + after > PACKET_CAPACITY) {
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
    case CHAT_UNRELAYED: return w.ChatLine();
    case CHAT_PRIVATE: return w.CountedString(kChatLineMin) && w.ChatLine();
    case CHAT_JOINED:
    case CHAT_DISCONNECTED: return w.CountedString(0);
    default: known = false; return false;
  }
}

// One of our blocks carries its own length; anything else under this header
// has no layout.
MessageExtent ReservedExtent(LayoutWalker& w) {
  uint16_t tag = 0, length = 0;
  if (!w.Short(tag)) return w.Result(false);
  if (tag != EXTENSION_TAG) return {ExtentKind::NoLayout, 0};
  if (!w.Short(length)) return w.Result(false);
  if (length < EXTENSION_FRAME_SIZE || length > PACKET_CAPACITY) return {ExtentKind::NoLayout, 0};
  return w.Result(w.Skip(length - EXTENSION_FRAME_SIZE));
}
}  // namespace

MessageExtent FirstMessageExtent(const uint8_t* bytes, size_t n, bool toServer) {
  if (n == 0) return {ExtentKind::Incomplete, 0};
  LayoutWalker w(bytes, n);
  uint16_t header = 0;
  if (!w.Short(header)) return {ExtentKind::Incomplete, 0};

  if (header == HEADER_WELCOME && toServer) return w.Result(w.CountedString(0));
  if (header == HEADER_RESERVED) return ReservedExtent(w);
  if (header != HEADER_CHAT && header != HEADER_WELCOME) return {ExtentKind::NoLayout, 0};

  uint16_t chatHeader = 0;
  if (!w.Short(chatHeader)) return w.Result(false);
  bool known = true;
  const bool walked = WalkChatBody(w, chatHeader, known);
  if (!known) return {ExtentKind::NoLayout, 0};
  return w.Result(walked);
}
