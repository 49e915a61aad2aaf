#include "common/test_support.h"

#include <cstdlib>
#include <filesystem>

#include "protocol/diagnostics.h"

DiagCapture::DiagCapture() {
  SetDiagSink([this](std::string_view line) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.emplace_back(line);
  });
}

DiagCapture::~DiagCapture() { SetDiagSink(nullptr); }

std::string DiagCapture::Text() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string all;
  for (const auto& l : lines_) all += l;
  return all;
}

int DiagCapture::Count(const std::string& line) const {
  std::lock_guard<std::mutex> guard(mutex_);
  int n = 0;
  for (const auto& l : lines_) n += (l == line);
  return n;
}

void DiagCapture::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  lines_.clear();
}

PrivateDataFolder::PrivateDataFolder() {
  setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
  setenv("XDG_CACHE_HOME", (dir.Path() + "/cache").c_str(), 1);
}

bool ToolsRequired() {
  const char* value = std::getenv("JASELO_REQUIRE_TOOLS");
  return value != nullptr && std::string(value) == "1";
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "jaselo-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}
