// The host's settings beyond config.cfg, in their own private file.
#include "config/hostsettings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "common/test_support.h"

TEST(HostSettings, KeptBesideConfigCfgForTheUserAloneAndReadBack) {
  TempDir dir;
  const std::string path = HostSettingsPath(dir.File("config.cfg"));
  EXPECT_EQ(path, dir.File("host-settings.cfg"));
  HostSettings read;
  std::string error;
  ASSERT_TRUE(ReadHostSettings(path, read, error)) << "a missing file gives the defaults";
  EXPECT_EQ(read, HostSettings());

  const HostSettings set{"s3cret = with spaces \xC3\xA9", true, false, 10, 20, 30};
  ASSERT_TRUE(WriteHostSettings(path, set, error)) << error;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(ReadHostSettings(path, read, error)) << error;
  EXPECT_EQ(read, set);

  EXPECT_FALSE(WriteHostSettings(path, {"two\nlines", false}, error));
  EXPECT_FALSE(WriteHostSettings(path, {std::string(MAX_PASSWORD_BYTES + 1, 'p'), false}, error));
  ASSERT_TRUE(ReadHostSettings(path, read, error));
  EXPECT_EQ(read, set) << "a refused write leaves the file as it was";

  // A limit out of its range, or no number, leaves that limit as it was.
  std::ofstream(path) << "share-largest-mib=0\nshare-total-mib=12x\nshare-hours=8761\n";
  ASSERT_TRUE(ReadHostSettings(path, read, error)) << error;
  EXPECT_EQ(read, HostSettings());
}

TEST(HostSettings, APasswordFileGivesItsFirstLine) {
  TempDir dir;
  std::string password, error;
  std::ofstream(dir.File("pw")) << "open sesame\r\nsecond line\n";
  ASSERT_TRUE(ReadPasswordFile(dir.File("pw"), password, error)) << error;
  EXPECT_EQ(password, "open sesame");
  std::ofstream(dir.File("empty")) << "\n";
  EXPECT_FALSE(ReadPasswordFile(dir.File("empty"), password, error));
  EXPECT_FALSE(ReadPasswordFile(dir.File("missing"), password, error));
}
