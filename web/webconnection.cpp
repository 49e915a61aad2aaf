#include "web/webconnection.h"

#include "protocol/packet.h"

namespace {
// The longest method this looks for ("OPTIONS", "CONNECT") and its blank.
constexpr size_t METHOD_SNIFF_BYTES = 8;
constexpr uint16_t GOING_AWAY = 1001;
}  // namespace

HttpSniff SniffHttpRequest(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n && i < METHOD_SNIFF_BYTES; ++i) {
    if (bytes[i] == ' ') return i > 0 ? HttpSniff::Yes : HttpSniff::No;
    if (bytes[i] < 'A' || bytes[i] > 'Z') return HttpSniff::No;
  }
  return n < METHOD_SNIFF_BYTES ? HttpSniff::NeedMore : HttpSniff::No;
}

WebConnection::WebConnection(const FrontDoor& door, const Doorstep& doorstep) : door(door), doorstep(doorstep) {}

bool WebConnection::Receive(const uint8_t* bytes, size_t n, const Message& message, std::vector<uint8_t>& out,
                            Clock::time_point now) {
  if (ending) return false;
  if (session) {
    ending = session->Receive(bytes, n, message, out) == WebSocketSession::Status::Closing;
    return !ending;
  }
  HttpRequestReader::State state = request.Feed(bytes, n);
  // Requests that came together are answered in turn.
  while (state == HttpRequestReader::State::Complete) {
    ++answered;
    const DoorAnswer answer = door.Answer(request.Request(), doorstep, answered < door.Settings().keepAliveRequests);
    if (answer.handOff) {
      handOff = ending = true;
      return false;
    }
    out.insert(out.end(), answer.response.begin(), answer.response.end());
    if (answer.upgrade) return Upgrade(message, out, now);
    if (!answer.keepAlive) {
      ending = true;
      return false;
    }
    deadline = now + door.Settings().keepAliveIdle;
    state = request.Next();
  }
  if (state == HttpRequestReader::State::Incomplete) return true;
  const std::string refusal = FrontDoor::Refusal(state);
  out.insert(out.end(), refusal.begin(), refusal.end());
  ending = true;
  return false;
}

bool WebConnection::Upgrade(const Message& message, std::vector<uint8_t>& out, Clock::time_point now) {
  // A chat message is one packet at most: a browser's larger message ends it.
  session = std::make_unique<WebSocketSession>(PACKET_CAPACITY);
  // Upgraded on a connection that served the page: its welcome has the time
  // a request would have had.
  if (deadline) deadline = now + door.Settings().keepAliveIdle;
  const std::vector<uint8_t> rest = request.TakeRest();
  if (rest.empty()) return true;
  return Receive(rest.data(), rest.size(), message, out, now);
}

void WebConnection::Send(const uint8_t* bytes, size_t n, std::vector<uint8_t>& out) {
  if (session) session->Send(bytes, n, out);
}

void WebConnection::Close(std::vector<uint8_t>& out) {
  if (session && !ending) session->Close(GOING_AWAY, out);
  ending = true;
}
