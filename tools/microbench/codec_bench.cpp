// Nanoseconds per message built, read and cut: the work every chat line
// costs the sender, the server (read, relay) and each receiver (cut, read).
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>
#include <vector>

#include "net/passtiming.h"
#include "protocol/decodepacket.h"
#include "protocol/diagnostics.h"
#include "protocol/extent.h"
#include "protocol/messages.h"

namespace {
// A chat line with `textBytes` characters of text, as the window sends it.
struct Line {
  explicit Line(size_t textBytes) {
    view.SetName("bench12");
    view.SetPolice("Courier New");
    view.SetText(std::string(textBytes, 'x'));
    view.Style() = {.Bold = 1, .Red = 200};
  }
  ChatLine view;
};

CPacket Says(size_t textBytes) {
  CPacket packet;
  BuildSays(Line(textBytes).view, packet);
  return packet;
}

void BM_BuildSays(benchmark::State& state) {
  const Line line(static_cast<size_t>(state.range(0)));
  CPacket packet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildSays(line.view, packet));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * packet.length);
}
BENCHMARK(BM_BuildSays)->Arg(32)->Arg(200)->Arg(900);

// What a receiver does with one cut message: skip the transport header, read
// the chat header and the chat line.
void BM_ReadSays(benchmark::State& state) {
  const CPacket packet = Says(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    CDecodePacket decoder;
    decoder.Initialize(packet);
    uint16_t header = 0, chatHeader = 0;
    ChatLine fields;
    const bool ok = decoder.GetShortValue(header) && decoder.GetShortValue(chatHeader) && ReadChatLine(decoder, fields);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(fields);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * packet.length);
}
BENCHMARK(BM_ReadSays)->Arg(32)->Arg(200)->Arg(900);

// The server's relay: the queued payload with its transport header put back.
void BM_BuildRelay(benchmark::State& state) {
  const CPacket message = Says(static_cast<size_t>(state.range(0)));
  CPacket payload;
  payload.SetData(message.data + 2, static_cast<uint16_t>(message.length - 2));
  CPacket relay;
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildRelay(payload, relay));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildRelay)->Arg(32)->Arg(900);

// Finding where the first message of a buffer ends.
void BM_ExtentOne(benchmark::State& state) {
  const CPacket packet = Says(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(FirstMessageExtent(packet.data, packet.length, false));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExtentOne)->Arg(32)->Arg(900);

// Cutting a whole receive (RECEIVE_SIZE bytes) of back-to-back messages, as a
// client's socket thread does in a burst; the last message is left incomplete.
void BM_CutReceive(benchmark::State& state) {
  const CPacket packet = Says(static_cast<size_t>(state.range(0)));
  std::vector<uint8_t> block;
  while (block.size() < RECEIVE_SIZE) block.insert(block.end(), packet.data, packet.data + packet.length);
  block.resize(RECEIVE_SIZE);
  int64_t messages = 0;
  for (auto _ : state) {
    size_t at = 0;
    for (;;) {
      const MessageExtent e = FirstMessageExtent(block.data() + at, block.size() - at, false);
      if (e.kind != ExtentKind::Complete) break;
      at += e.length;
      ++messages;
    }
    benchmark::DoNotOptimize(at);
  }
  state.SetItemsProcessed(messages);
  state.counters["messages_per_receive"] =
      benchmark::Counter(static_cast<double>(messages) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CutReceive)->Arg(32)->Arg(200);

// The diagnostic line the endpoint writes for every received message, into a
// sink that drops it (as the benchmark and a quiet host run).
void BM_DiagLineSilenced(benchmark::State& state) {
  SetDiagSink([](std::string_view) {});
  for (auto _ : state) Diag("ProcessIncomingData : Header = %d\n", 1);
  SetDiagSink({});
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiagLineSilenced);
}  // namespace
