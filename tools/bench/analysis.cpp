#include "analysis.h"

#include <algorithm>
#include <cmath>

DeliveryReport Analyse(const std::vector<SentLine>& sent, int senders, uint32_t perSender, int rounds,
                       const std::vector<const std::vector<Delivery>*>& receivers) {
  DeliveryReport r;
  for (const auto& s : sent) (s.ok ? r.sent : r.sendFailed)++;
  r.expected = r.sent * receivers.size();

  std::vector<uint32_t> receivedBy(sent.size(), 0);
  std::vector<int64_t> lastDelivery(static_cast<size_t>(rounds), INT64_MIN);
  std::vector<uint64_t> roundMissing(static_cast<size_t>(rounds), 0);
  r.latencyMs.reserve(r.expected);

  std::vector<uint8_t> seen(sent.size());
  std::vector<uint32_t> highest(static_cast<size_t>(senders));
  for (const auto* deliveries : receivers) {
    std::fill(seen.begin(), seen.end(), 0);
    std::fill(highest.begin(), highest.end(), 0);
    for (const Delivery& d : *deliveries) {
      if (d.sender >= senders || d.seq < 1 || d.seq > perSender) {
        ++r.stray;
        continue;
      }
      const size_t id = static_cast<size_t>(d.sender) * perSender + (d.seq - 1);
      if (!sent[id].ok || sent[id].sendNs != d.sendNs) {
        ++r.stray;
        continue;
      }
      if (seen[id]) {
        ++r.duplicated;
        continue;
      }
      seen[id] = 1;
      if (d.seq < highest[d.sender]) ++r.outOfOrder;
      highest[d.sender] = std::max(highest[d.sender], d.seq);
      ++receivedBy[id];
      ++r.delivered;
      r.latencyMs.push_back(static_cast<float>((d.receivedNs - d.sendNs) / 1e6));
      auto& last = lastDelivery[sent[id].round];
      last = std::max(last, d.receivedNs);
    }
  }
  for (size_t id = 0; id < sent.size(); ++id) {
    if (!sent[id].ok) continue;
    if (receivedBy[id] == receivers.size()) ++r.deliveredToAll;
    else roundMissing[sent[id].round] += receivers.size() - receivedBy[id];
  }
  r.lost = r.expected - r.delivered;

  std::vector<int64_t> roundStart(static_cast<size_t>(rounds), INT64_MAX);
  for (const auto& s : sent) {
    if (s.ok) roundStart[s.round] = std::min(roundStart[s.round], s.sendNs);
  }
  r.roundDrainMs.assign(static_cast<size_t>(rounds), -1.0);
  for (int i = 0; i < rounds; ++i) {
    if (roundMissing[i] == 0 && lastDelivery[i] != INT64_MIN) {
      r.roundDrainMs[i] = (lastDelivery[i] - roundStart[i]) / 1e6;
    }
  }
  return r;
}

double Percentile(const std::vector<float>& sorted, double p) {
  if (sorted.empty()) return 0;
  const double rank = std::ceil(p * static_cast<double>(sorted.size()));
  const size_t index = static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(sorted.size()))) - 1;
  return sorted[index];
}
