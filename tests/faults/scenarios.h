#pragma once
// The longer faults, each in a room of its own (a fresh host and its own
// honest participants). Each prints what it saw and returns the checks that
// failed, empty when all held.

#include <string>
#include <vector>

using Failures = std::vector<std::string>;

// The host's standard output on a pipe that nobody reads.
Failures BlockedOutputScenario(const std::string& participant);
// 2, then 8 participants sending 900-character lines as fast as they can,
// for `seconds` each, while 4 honest participants say a line a second.
Failures FloodScenario(const std::string& participant, int seconds);
// 20 participants that never read, filled by loud ones, while 4 honest
// participants say a line a second for `seconds`; then closing the host.
Failures StuckReadersScenario(const std::string& participant, int seconds);
// A server that pushes 400,000 short lines at once at a participant that
// joined it: the participant's memory stays flat, a line it is given leaves
// at once, and it ends within a second of its input closing.
Failures PushedParticipantScenario(const std::string& participant);
