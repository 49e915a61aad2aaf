#pragma once
// What the receivers got, set against what was sent.

#include <cstdint>
#include <vector>

struct SentLine {
  int sender = 0;
  uint32_t seq = 0;  // 1, 2, ... per sender
  int64_t sendNs = 0;
  uint32_t bytes = 0;  // message size on the wire
  int round = 0;
  bool ok = false;  // the send call succeeded
};

struct Delivery {
  uint16_t sender;
  uint32_t seq;
  int64_t sendNs;
  int64_t receivedNs;
};

struct DeliveryReport {
  uint64_t sent = 0;  // send calls that succeeded
  uint64_t sendFailed = 0;
  uint64_t deliveredToAll = 0;  // lines that every receiver got
  uint64_t expected = 0;        // sent lines times receivers
  uint64_t delivered = 0;       // distinct (line, receiver) pairs
  uint64_t lost = 0;
  uint64_t duplicated = 0;
  uint64_t outOfOrder = 0;           // a line that came after a later line of the same sender
  uint64_t stray = 0;                // deliveries of lines never sent (corrupt text)
  std::vector<float> latencyMs;      // first delivery of each (line, receiver)
  std::vector<double> roundDrainMs;  // first send to last delivery; negative when incomplete
};

// `sent` indexed by sender * perSender + (seq - 1).
DeliveryReport Analyse(const std::vector<SentLine>& sent, int senders, uint32_t perSender, int rounds,
                       const std::vector<const std::vector<Delivery>*>& receivers);

// Nearest-rank percentile of a sorted sample; 0 for an empty one.
double Percentile(const std::vector<float>& sorted, double p);
