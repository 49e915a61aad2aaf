// The host's store of shared files against what a sharer may send: hostile
// names, sizes past each limit, cut and wrong uploads, and a restart.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/test_support.h"
#include "sha256.h"
#include "share/filestore.h"
#include "share/sharedname.h"
#include "share/upload.h"

namespace {
const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

size_t Entries(const std::string& folder) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) n += entry.is_regular_file();
  return n;
}
}  // namespace

TEST(SharedName, OnlyTheLastPartWithoutHiddenCharactersUpTo255Bytes) {
  EXPECT_EQ(CleanSharedName("../../etc/passwd"), "passwd");
  EXPECT_EQ(CleanSharedName("C:\\Users\\bob\\slides.pdf"), "slides.pdf");
  EXPECT_EQ(CleanSharedName(std::string("a\0b\nc.txt", 9)), "abc.txt");
  EXPECT_EQ(CleanSharedName("invoice\u202Efdp.exe"), "invoicefdp.exe");
  EXPECT_EQ(CleanSharedName("report\xC0\xAF.txt"), "report.txt") << "an overlong slash is no character";
  for (const char* nothing : {"", "..", "/", "dir/", " \u200E "}) EXPECT_EQ(CleanSharedName(nothing), "file");
  const std::string long_name =
      CleanSharedName(std::string(200, 'a') + std::string(30, '\0') + "\u00e9\u00e9\u00e9" + std::string(60, 'b'));
  EXPECT_EQ(long_name.size(), 255u);
  EXPECT_EQ(long_name.substr(200, 6), "\u00e9\u00e9\u00e9");
}

TEST(FileStore, KeepsOnlyWholeCheckedFilesWithinItsLimitsAndAcrossARestart) {
  TempDir dir;
  const std::string folder = dir.File("shared");
  FileStore store;
  std::string error;
  ShareLimits limits;
  limits.largestFile = 100;
  limits.totalKept = 150;
  ASSERT_TRUE(store.Open(folder, limits, error)) << error;
  struct stat mode {};
  ASSERT_EQ(stat(folder.c_str(), &mode), 0);
  EXPECT_EQ(mode.st_mode & 0777, 0700u);

  // Refused before any byte is taken, each limit by name.
  ShareRefusal refusal = ShareRefusal::None;
  EXPECT_EQ(store.Begin("big", 101, Sha256(""), refusal), nullptr);
  EXPECT_EQ(refusal, ShareRefusal::TooLarge);
  EXPECT_EQ(RefusalText(refusal, limits), "the file is larger than the 100 bytes this chat takes");
  EXPECT_EQ(store.Begin("x", 1, "not a digest", refusal), nullptr);
  EXPECT_EQ(refusal, ShareRefusal::BadChecksum);

  // A whole, checked file is kept under a name of the host's, with the
  // sharer's name cleaned.
  const std::string slides(80, 's');
  auto upload = store.Begin("../slides.pdf", slides.size(), Sha256(slides), refusal);
  ASSERT_NE(upload, nullptr);
  EXPECT_EQ(store.Begin("more", 80, Sha256(slides), refusal), nullptr) << "room promised to an upload under way";
  EXPECT_EQ(refusal, ShareRefusal::QuotaFull);
  ASSERT_TRUE(upload->Write(Bytes(slides), 50) && upload->Write(Bytes(slides) + 50, 30));
  EXPECT_FALSE(upload->Write(Bytes(slides), 1)) << "a byte past the announced size";
  auto refused = store.Begin("again", 80, Sha256(slides), refusal);
  ASSERT_NE(refused, nullptr) << "the failed upload gave its room back";
  ASSERT_TRUE(refused->Write(Bytes(slides), 80));
  const std::optional<StoredFile> kept = refused->Finish(refusal);
  ASSERT_TRUE(kept) << static_cast<int>(refusal);
  EXPECT_EQ(kept->name, "again");
  EXPECT_EQ(kept->id.size(), 32u);
  EXPECT_EQ(std::filesystem::file_size(store.PathOf(kept->id)), 80u);

  // A wrong digest, and a body shorter than announced: nothing visible, and
  // the temporary folder empty.
  auto wrong = store.Begin("wrong", 10, Sha256("0123456789"), refusal);
  ASSERT_NE(wrong, nullptr);
  ASSERT_TRUE(wrong->Write(Bytes(std::string("9876543210")), 10));
  EXPECT_FALSE(wrong->Finish(refusal));
  EXPECT_EQ(refusal, ShareRefusal::BadChecksum);
  auto cut = store.Begin("cut", 10, Sha256("0123456789"), refusal);
  ASSERT_TRUE(cut->Write(Bytes(std::string("01234")), 5));
  EXPECT_FALSE(cut->Finish(refusal));
  EXPECT_EQ(Entries(folder + "/incoming"), 0u);
  EXPECT_EQ(store.Kept(), 80u);

  // A restart finds the kept file and clears what a crash left half written;
  // an unknown or expired identifier finds nothing.
  std::ofstream(folder + "/incoming/left-by-a-crash") << "half";
  FileStore again;
  ASSERT_TRUE(again.Open(folder, limits, error));
  ASSERT_TRUE(again.Find(kept->id));
  EXPECT_EQ(again.Find(kept->id)->sha256, Sha256(slides));
  EXPECT_FALSE(again.Find(std::string(32, '0')));
  EXPECT_EQ(Entries(folder + "/incoming"), 0u);
  limits.keptFor = std::chrono::seconds(-1);
  FileStore expired;
  ASSERT_TRUE(expired.Open(folder, limits, error));
  auto stale = expired.Begin("stale", 1, Sha256("x"), refusal);
  ASSERT_TRUE(stale->Write(Bytes(std::string("x")), 1));
  const auto gone = stale->Finish(refusal);
  EXPECT_FALSE(gone) << "kept no time at all";
  EXPECT_TRUE(expired.Find(kept->id)) << "the first file keeps the time it was given";
  expired.Expire();
  EXPECT_EQ(Entries(folder), 2u) << "the kept file and its description alone";
}
