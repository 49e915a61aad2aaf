#include "net/connectionoutput.h"

ConnectionOutput::Next ConnectionOutput::Append(const uint8_t* bytes, size_t n, uint64_t origin, ByteStream& stream,
                                                bool inBatch, size_t limit) {
  if (state == State::Failed) return Next::Nothing;
  const bool wasEmpty = Empty();
  const OutputBuffer::Mark mark{origin, n};
  // Sealed alone where nothing staged waits before it: one copy, as the
  // bytes will leave.
  const auto alone = [&](std::vector<uint8_t>& out) { return stream.SealAlone(bytes, n, out); };
  if (!staged.empty() || !sealed.AppendSealed(&mark, 1, alone)) {
    staged.insert(staged.end(), bytes, bytes + n);
    stagedEnds.push_back(staged.size());
    stagedMarks.push_back(mark);
  }
  return Decide(wasEmpty, inBatch, limit);
}

ConnectionOutput::Next ConnectionOutput::AppendOwn(const std::vector<uint8_t>& bytes, bool inBatch, size_t limit) {
  if (state == State::Failed || bytes.empty()) return Next::Nothing;
  const bool wasEmpty = Empty();
  sealed.Append(bytes.data(), bytes.size(), nullptr, 0);
  return Decide(wasEmpty, inBatch, limit);
}

ConnectionOutput::Next ConnectionOutput::Decide(bool wasEmpty, bool inBatch, size_t limit) {
  // The send limit counts from when bytes began to wait.
  if (wasEmpty) lastProgress = Clock::now();
  // Past the bound the write is not put off: it decides at once whether the
  // reader keeps up.
  if (!inBatch || Size() > limit) return Next::Write;
  if (state == State::Pending) return Next::Nothing;
  state = State::Pending;
  return Next::ListPending;
}

bool ConnectionOutput::Seal(ByteStream& stream) {
  if (staged.empty()) return true;
  // Messages go only to connections whose stream is ready: a server writes to
  // identified connections alone, and a client connects before it sends.
  assert(stream.Ready());
  const bool done = sealed.AppendSealed(stagedMarks.data(), stagedMarks.size(), [&](std::vector<uint8_t>& out) {
    return stream.Seal(staged, stagedEnds, out);
  });
  if (!done) return false;
  staged.clear();
  stagedEnds.clear();
  stagedMarks.clear();
  return true;
}
