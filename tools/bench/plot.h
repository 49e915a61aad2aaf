#pragma once
// Draws a run's latency distribution as a PNG.

#include <string>
#include <vector>

// The sample sorted, in ms. Returns false with a reason when gnuplot is
// missing or fails.
bool PlotLatency(const std::string& png, const std::string& title, const std::vector<float>& measured,
                 std::string& error);
