// Replays every committed input of each fuzz target, seeds and past findings
// (files named regress-*) alike, so every ordinary and sanitizer build keeps
// them fixed. A broken property aborts with the file named.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_support.h"

namespace {

const char* replaying = "";

void NameInputOnAbort(int) {
  std::fprintf(stderr, "while replaying %s\n", replaying);
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
}

// Runs the target on each file of its corpus; returns how many it ran.
size_t Replay(const char* target, int (*run)(const uint8_t*, size_t)) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(JASELO_FUZZ_CORPUS) / target)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::signal(SIGABRT, NameInputOnAbort);
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = file.string();
    replaying = name.c_str();
    run(bytes.data(), bytes.size());
  }
  std::signal(SIGABRT, SIG_DFL);
  return files.size();
}

TEST(FuzzCorpus, Codec) { EXPECT_GT(Replay("codec", fuzz::CodecTarget), 0u); }
TEST(FuzzCorpus, Server) { EXPECT_GT(Replay("server", fuzz::ServerTarget), 0u); }
TEST(FuzzCorpus, Client) { EXPECT_GT(Replay("client", fuzz::ClientTarget), 0u); }
TEST(FuzzCorpus, Config) { EXPECT_GT(Replay("config", fuzz::ConfigTarget), 0u); }
TEST(FuzzCorpus, Web) { EXPECT_GT(Replay("web", fuzz::WebTarget), 0u); }

}  // namespace
