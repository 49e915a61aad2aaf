#include "plot.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace {
// Share of the sample in each 1 ms bin up to `bins`.
std::vector<double> Histogram(const std::vector<float>& sample, size_t bins) {
  std::vector<double> h(bins, 0.0);
  for (float v : sample) {
    const size_t b = static_cast<size_t>(std::clamp(std::floor(v), 0.0f, static_cast<float>(bins - 1)));
    h[b] += 1.0;
  }
  for (auto& x : h) x /= std::max<size_t>(sample.size(), 1);
  return h;
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}
}  // namespace

bool PlotLatency(const std::string& png, const std::string& title, const std::vector<float>& measured,
                 std::string& error) {
  char dir[] = "/tmp/jaselo-bench-plot-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    error = "could not make a temporary folder";
    return false;
  }
  const std::string data = std::string(dir) + "/latency.dat";
  const std::string script = std::string(dir) + "/latency.gp";

  const size_t bins = static_cast<size_t>(std::ceil(measured.empty() ? 0.0f : measured.back())) + 2;
  const auto h = Histogram(measured, bins);
  {
    std::ofstream out(data);
    double cumulative = 0;
    for (size_t b = 0; b < bins; ++b) {
      cumulative += h[b];
      out << b + 0.5 << ' ' << h[b] * 100 << ' ' << cumulative * 100 << '\n';
    }
  }
  {
    std::ofstream gp(script);
    gp << "set terminal pngcairo size 1000,800 font 'Sans,10'\n"
       << "set output " << Quoted(png) << "\n"
       << "set multiplot layout 2,1 title " << Quoted(title) << "\n"
       << "set grid\nset key off\nset xrange [0:" << bins << "]\n"
       << "set xlabel 'latency, send call to receiver event (ms)'\n"
       << "set ylabel 'deliveries per 1 ms bin (%)'\n"
       << "plot " << Quoted(data) << " using 1:2 with boxes fill solid 0.5 lc rgb '#3b6ea8'\n"
       << "set ylabel 'deliveries at or below (%)'\nset yrange [0:100]\n"
       << "plot " << Quoted(data) << " using 1:3 with lines lw 2 lc rgb '#3b6ea8'\n"
       << "unset multiplot\n";
  }
  pid_t pid = -1;
  std::string a0 = "gnuplot", a1 = script;
  char* argv[] = {a0.data(), a1.data(), nullptr};
  int status = -1;
  const bool spawned = posix_spawnp(&pid, "gnuplot", nullptr, nullptr, argv, environ) == 0;
  if (spawned) waitpid(pid, &status, 0);
  std::remove(data.c_str());
  std::remove(script.c_str());
  rmdir(dir);
  if (!spawned || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = spawned ? "gnuplot failed" : "gnuplot not found (apt-get install gnuplot-nox)";
    return false;
  }
  return true;
}
