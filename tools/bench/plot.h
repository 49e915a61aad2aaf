#pragma once
// Draws a run's latency distribution against the loop floor as a PNG.

#include <string>
#include <vector>

// Both samples sorted, in ms. Returns false with a reason when gnuplot is
// missing or fails.
bool PlotLatency(const std::string& png, const std::string& title, const std::vector<float>& measured,
                 const std::vector<float>& floor, std::string& error);
