#include "config/configfile.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "common/test_support.h"

namespace {

const std::string kDefaultText =
    "#Pseudo\r\n9 username\r\n#Client-Server\r\n1 0\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n27015\r\n"
    "#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n";

void Store(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every field on one line, so that a mismatch shows the whole record.
std::string Describe(const ChatSettings& s) {
  char line[160];
  std::snprintf(line, sizeof(line), "B%d I%d U%d role %d%s port %u ip %u.%u.%u.%u colour %06x police '", s.Bold,
                s.Italic, s.Underline, int{s.Role}, s.NeitherOrBothRoles ? " (neither or both)" : "", unsigned{s.Port},
                unsigned{s.Ip[0]}, unsigned{s.Ip[1]}, unsigned{s.Ip[2]}, unsigned{s.Ip[3]}, s.Color);
  return line + std::string(s.Police) + "' pseudo '" + s.Pseudo + "'";
}

ChatSettings Settings(void (*change)(ChatSettings&)) {
  ChatSettings s;
  change(s);
  return s;
}

// A file that does not match from its start: zeros and empty texts, and so
// the client role from a line naming neither.
constexpr ChatSettings kAllZero{.NeitherOrBothRoles = true, .Port = 0, .Ip = {0, 0, 0, 0}, .Police = "", .Pseudo = ""};

// An independent reader on the C library's formatted input, which the reading
// rules follow. Valid for ASCII files. Gives the flags as saved.
ChatSettings ReferenceRead(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  int size = 0, v[8] = {}, t[6] = {};
  ChatSettings s = kAllZero;
  auto text = [f](char* field, int count) {
    if (count >= 2 && std::fgets(field, std::min(count, 32), f) == nullptr) field[0] = 0;
  };
  [[maybe_unused]] int ignored = std::fscanf(f, "#Pseudo\r\n%d\r\n", &size);
  text(s.Pseudo, size);
  ignored =
      std::fscanf(f, "\r\n#Client-Server\r\n%d %d\r\n#IpAddress\r\n%d.%d.%d.%d\r\n#Port\r\n%d\r\n#Police\r\n%d\r\n",
                  &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
  text(s.Police, v[7]);
  // What the program keeps of a text read: no line break, no leading blanks.
  CopySettingText(s.Pseudo, NicknameForSettings(s.Pseudo));
  CopySettingText(s.Police, FaceNameForSettings(s.Police));
  ignored =
      std::fscanf(f, "\r\n#Couleur\r\n%d %d %d\r\n#Mode\r\n%d %d %d\r\n", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]);
  std::fclose(f);
  s.Role = v[1] != 0 ? TYPE_SERVER : TYPE_CLIENT;
  s.NeitherOrBothRoles = (v[0] != 0) == (v[1] != 0);
  for (int i = 0; i < 4; ++i) s.Ip[i] = static_cast<uint16_t>(v[2 + i]);
  s.Port = static_cast<uint16_t>(v[6]);
  s.Color = static_cast<uint32_t>((t[0] & 255) | (t[1] & 255) << 8 | (t[2] & 255) << 16);
  s.Bold = t[3] != 0;
  s.Italic = t[4] != 0;
  s.Underline = t[5] != 0;
  return s;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  ChatSettings Read() {
    ChatSettings s;
    EXPECT_TRUE(ReadConfigFile(path, s));
    return s;
  }
  ChatSettings Read(const std::string& bytes) {
    Store(path, bytes);
    return Read();
  }

  TempDir dir;
  std::string path = dir.File("config.cfg");
};

TEST_F(ConfigFileTest, MissingFileIsNotReadAndDefaultFileIsExact) {
  ChatSettings untouched{.Port = 1};
  EXPECT_FALSE(ReadConfigFile(path, untouched));
  EXPECT_FALSE(ReadConfigFile(dir.Path(), untouched)) << "a directory is no settings file";
  EXPECT_EQ(untouched.Port, 1);

  WriteDefaultConfigFile(path);
  EXPECT_EQ(Load(path), kDefaultText);
  EXPECT_EQ(Describe(Read()), Describe(ChatSettings{}));
}

TEST_F(ConfigFileTest, WritesEveryFieldAndReadsItBack) {
  const ChatSettings s{.Bold = true,
                       .Underline = true,
                       .Role = TYPE_SERVER,
                       .Port = 40000,
                       .Ip = {192, 168, 65535, 7},
                       .Color = 0x0080FF,
                       .Police = "\t Courier New",
                       .Pseudo = "   "};
  // Blanks before the texts would be skipped by the read (and a blank-only
  // nickname is the empty one); control characters would break the lines.
  WriteConfigFile(path, s);
  EXPECT_EQ(Load(path),
            "#Pseudo\r\n1 \r\n#Client-Server\r\n0 1\r\n#IpAddress\r\n192.168.-1.7\r\n#Port\r\n40000\r\n"
            "#Police\r\n12 Courier New\r\n#Couleur\r\n255 128 0\r\n#Mode\r\n1 0 1\r\n");
  ChatSettings kept = s;
  CopySettingText(kept.Police, "Courier New");
  CopySettingText(kept.Pseudo, "");
  EXPECT_EQ(Describe(Read()), Describe(kept));
  EXPECT_EQ(NicknameForSettings("  a\r\n\x7F b\t "), "a b");
  EXPECT_EQ(FaceNameForSettings(" \tArial \n"), "Arial ");
}

TEST_F(ConfigFileTest, ReadsWhatTheMatchingRulesGive) {
  const std::string role = "#Client-Server\r\n1 0\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n27015\r\n";
  const std::string rest = role + "#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n";
  auto withRole = [](const char* values) {
    std::string text = kDefaultText;
    return text.replace(text.find("1 0"), 3, values);
  };
  const ChatSettings server = Settings([](ChatSettings& s) { s.Role = TYPE_SERVER; });
  const ChatSettings both = Settings([](ChatSettings& s) { s.Role = TYPE_SERVER, s.NeitherOrBothRoles = true; });
  const struct {
    const char* name;
    std::string text;
    ChatSettings want;
  } cases[] = {
      {"mode 2 0 7", kDefaultText.substr(0, kDefaultText.size() - 7) + "2 0 7\r\n",
       Settings([](ChatSettings& s) { s.Bold = s.Underline = true; })},
      {"colour 255 128 0 and low bits",
       "#Pseudo\r\n9 username\r\n#Client-Server\r\n1 0\r\n#IpAddress\r\n-1.0.0.1\r\n"
       "#Port\r\n70000\r\n#Police\r\n6 Arial\r\n#Couleur\r\n255 128 256\r\n#Mode\r\n0 0 0\r\n",
       Settings([](ChatSettings& s) { s.Ip[0] = 65535, s.Port = 4464, s.Color = 0x0080FF; })},
      {"LF only",
       "#Pseudo\n9 username\n#Client-Server\n1 0\n#IpAddress\n127.0.0.1\n#Port\n27015\n#Police\n6 Arial\n"
       "#Couleur\n0 0 0\n#Mode\n0 0 0\n",
       ChatSettings{}},
      {"empty nickname", "#Pseudo\r\n1 \r\n" + rest, Settings([](ChatSettings& s) { CopySettingText(s.Pseudo, ""); })},
      // The blanks are skipped, so the count then reaches over the line break,
      // which is not kept.
      {"leading blanks", "#Pseudo\r\n6   bob\r\n" + rest,
       Settings([](ChatSettings& s) { CopySettingText(s.Pseudo, "bob"); })},
      {"count larger than the text", "#Pseudo\r\n20 bob\r\n" + rest,
       Settings([](ChatSettings& s) { CopySettingText(s.Pseudo, "bob"); })},
      {"count smaller than the text", "#Pseudo\r\n3 alice\r\n" + rest,
       ChatSettings{.NeitherOrBothRoles = true, .Port = 0, .Ip = {0, 0, 0, 0}, .Police = "", .Pseudo = "al"}},
      {"huge count stops at 31 bytes", "#Pseudo\r\n2147483647 " + std::string(40, 'x') + "\r\n" + rest,
       ChatSettings{.NeitherOrBothRoles = true,
                    .Port = 0,
                    .Ip = {0, 0, 0, 0},
                    .Police = "",
                    .Pseudo = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}},
      {"negative count reads no text", "#Pseudo\r\n-5 bob\r\n" + rest, kAllZero},
      // The mismatch leaves the line break unread, so the next step goes on.
      {"a lone sign is consumed",
       "#Pseudo\r\n9 username\r\n" + role + "#Police\r\n-\r\n#Couleur\r\n1 2 3\r\n#Mode\r\n1 1 1\r\n",
       Settings([](ChatSettings& s) { s.Police[0] = 0, s.Color = 0x030201, s.Bold = s.Italic = s.Underline = true; })},
      {"not a settings file", "[general]\nname=bob\n", kAllZero},
      {"wrong case", "#pseudo\r\n9 username\r\n" + rest, kAllZero},
      // Only the Server value decides the role.
      {"neither role", withRole("0 0"), ChatSettings{.NeitherOrBothRoles = true}},
      {"both roles", withRole("1 1"), both},
      {"any Server value but 0", withRole("0 -4"), server},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(Read(c.text)), Describe(c.want)) << c.name;

  std::string lf = kDefaultText;
  std::erase(lf, '\r');
  WriteConfigFile(path, Read(lf));
  EXPECT_EQ(Load(path), kDefaultText) << "LF file written back with CR LF";
  // A file naming neither role or both is written back as read.
  for (const char* pair : {"0 0", "1 1"}) {
    WriteConfigFile(path, Read(withRole(pair)));
    EXPECT_EQ(Load(path), withRole(pair));
  }

  // A negative address part stays negative through a read and a write.
  WriteConfigFile(path, Read(cases[1].text));
  EXPECT_NE(Load(path).find("\r\n-1.0.0.1\r\n"), std::string::npos) << Load(path);
}

TEST_F(ConfigFileTest, Utf8TextsAreNeverCutInsideACharacter) {
  std::string longest;  // 15 two-byte characters and one byte: 31 bytes
  for (int i = 0; i < 15; ++i) longest += "\xC3\xA9";
  longest += "x";
  ChatSettings s;
  CopySettingText(s.Pseudo, longest);
  CopySettingText(s.Police, "\xE2\x82\xAC" + longest);  // 34 bytes: ends after 14 of the two-byte ones
  EXPECT_EQ(std::string(s.Police), "\xE2\x82\xAC" + longest.substr(0, 28));
  WriteConfigFile(path, s);
  EXPECT_NE(Load(path).find("#Pseudo\r\n32 " + longest + "\r\n"), std::string::npos);
  EXPECT_EQ(Describe(Read()), Describe(s));
  // Bytes that are not UTF-8 count one by one.
  CopySettingText(s.Pseudo, std::string(40, '\x80'));
  EXPECT_EQ(std::string(s.Pseudo), std::string(31, '\x80'));

  // A count that ends inside a character leaves it unread.
  EXPECT_STREQ(Read("#Pseudo\r\n3 a\xC3\xA9\r\n").Pseudo, "a");
  EXPECT_EQ(std::string(Read("#Pseudo\r\n99 " + std::string(30, 'x') + "\xE2\x82\xAC\r\n").Pseudo),
            std::string(30, 'x'));
}

TEST_F(ConfigFileTest, AgreesWithFormattedInputOnTruncatedAndDamagedFiles) {
  const std::string valid =
      "#Pseudo\r\n4 bob\r\n#Client-Server\r\n0 1\r\n#IpAddress\r\n10.0.0.42\r\n#Port\r\n40000\r\n"
      "#Police\r\n12 Courier New\r\n#Couleur\r\n255 128 7\r\n#Mode\r\n1 0 1\r\n";
  for (size_t n = 0; n <= valid.size(); ++n) {
    const ChatSettings got = Read(valid.substr(0, n));
    EXPECT_EQ(Describe(got), Describe(ReferenceRead(path))) << "truncated to " << n;
  }
  std::mt19937 random(5);
  const std::string pool = "0123456789+-. \t\r\n\v#xP";
  for (int round = 0; round < 3000 && !HasFailure(); ++round) {
    std::string text = valid;
    for (int edits = 1 + random() % 3; edits > 0; --edits) {
      const size_t at = random() % text.size();
      const char c = pool[random() % pool.size()];
      switch (random() % 3) {
        case 0: text[at] = c; break;
        case 1: text.insert(at, 1, c); break;
        default: text.erase(at, 1 + random() % 4);
      }
    }
    const ChatSettings got = Read(text);
    EXPECT_EQ(Describe(got), Describe(ReferenceRead(path))) << text;
  }
}

TEST_F(ConfigFileTest, RandomSettingsSurviveARoundTrip) {
  std::mt19937 random(42);
  const std::string pieces[] = {"a", "Z",  "0", "#", "%s", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                " ", "\r", "\t"};
  auto text = [&] {
    std::string t;
    for (size_t want = random() % 32; t.size() < want;) {
      const std::string& piece = pieces[random() % std::size(pieces)];
      if (t.size() + piece.size() > want) break;
      t += piece;
    }
    return t;
  };
  auto bit = [&] { return random() % 2 == 1; };
  auto u16 = [&] { return static_cast<uint16_t>(random()); };
  for (int round = 0; round < 1000 && !HasFailure(); ++round) {
    ChatSettings s{.Bold = bit(),
                   .Italic = bit(),
                   .Underline = bit(),
                   .Role = bit() ? TYPE_SERVER : TYPE_CLIENT,
                   .NeitherOrBothRoles = bit(),
                   .Port = u16(),
                   .Ip = {u16(), u16(), u16(), u16()},
                   .Color = static_cast<uint32_t>(random()) & 0xFFFFFF};
    CopySettingText(s.Police, text());
    CopySettingText(s.Pseudo, text());
    WriteConfigFile(path, s);
    ChatSettings kept = s;
    CopySettingText(kept.Police, FaceNameForSettings(s.Police));
    CopySettingText(kept.Pseudo, NicknameForSettings(s.Pseudo));
    const std::string file = Load(path);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 14) << file;
    EXPECT_EQ(Describe(Read()), Describe(kept)) << file;
  }
}

TEST_F(ConfigFileTest, AFailedWriteKeepsTheOldFile) {
  Store(path, "old settings");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A file size limit makes the write fail half-way, as a full disk would.
  struct rlimit saved, small;
  getrlimit(RLIMIT_FSIZE, &saved);
  small = saved;
  small.rlim_cur = 40;
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  WriteDefaultConfigFile(path);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(Load(path), "old settings");

  WriteConfigFile(dir.File("missing/config.cfg"), ChatSettings{});  // silently nothing
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "a temporary file was left";

  // A write that succeeds keeps the permissions, and a link keeps linking.
  std::filesystem::rename(path, dir.File("real.cfg"));
  std::filesystem::create_symlink("real.cfg", path);
  WriteDefaultConfigFile(path);
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(Load(dir.File("real.cfg")), kDefaultText);
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace

namespace {

// Runs `body` in a child process without the capabilities that let root
// ignore file permissions, so that a read-only folder is read-only to it too.
// Returns the child's exit code.
int AsUnprivileged(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (syscall(SYS_capget, &header, caps) == 0) {
      for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) caps[0].effective &= ~(1u << cap);
      syscall(SYS_capset, &header, caps);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(ConfigFileTest, WritesInPlaceInAReadOnlyFolderAndThroughADanglingLink) {
  Store(path, "old settings");
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const int code = AsUnprivileged([this] {
    WriteDefaultConfigFile(path);
    return 0;
  });
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Load(path), kDefaultText);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "a temporary file was left";

  // A dangling link is written through, like opening it for writing would.
  std::filesystem::remove(path);
  std::filesystem::create_directory(dir.File("sub"));
  std::filesystem::create_symlink("sub/real.cfg", path);
  WriteDefaultConfigFile(path);
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(Load(dir.File("sub/real.cfg")), kDefaultText);
}
