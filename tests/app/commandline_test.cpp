// The command line: --help, --version and mistakes are answered before any
// window or settings file exists; --user-folder runs in the per-user folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <cstdlib>
#include <optional>
#include <vector>

#include "app/commandline.h"
#include "app/userfolder.h"
#include "app/version.h"
#include "common/test_support.h"

namespace {

CommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "jaselo");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

using Action = CommandLine::Action;

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name(name) {
    if (const char* old = std::getenv(name)) saved = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { saved ? setenv(name, saved->c_str(), 1) : unsetenv(name); }

 private:
  const char* name;
  std::optional<std::string> saved;
};

}  // namespace

TEST(CommandLine, ReadsTheProgramsOptionsAndRefusesEverythingElse) {
  EXPECT_EQ(Parse({}).action, Action::Run);
  EXPECT_FALSE(Parse({}).userFolder) << "no arguments: the current folder, as always";
  EXPECT_TRUE(Parse({"--user-folder"}).userFolder);
  EXPECT_EQ(Parse({"-h"}).action, Action::Help);
  EXPECT_EQ(Parse({"--version", "--help"}).action, Action::Help) << "help wins, whatever the order";
  EXPECT_EQ(Parse({"--user-folder", "--version"}).action, Action::Version);
  // A mistake anywhere is a mistake, even next to --help; Qt's options too.
  for (auto args : std::vector<std::vector<const char*>>{
           {"--bogus"}, {"--help", "--bogus"}, {"config.cfg"}, {"-platform", "offscreen"}, {"--user-folder=x"}}) {
    EXPECT_EQ(Parse(args).action, Action::UsageError) << args.back();
  }
}

// The real program, without a display: whatever it answers must come before
// Qt would need one, and must leave the folder it runs in empty.
TEST(CommandLine, ProgramAnswersWithoutWindowOrSettingsFile) {
  struct Case {
    QStringList args;
    int exitCode;
    const char* output;
  } cases[] = {
      {{"--help"}, 0, "Usage: jaselo"},
      {{"--version"}, 0, "jaselo " JASELO_VERSION "\n"},
      {{"--nope"}, 2, "unknown option '--nope'"},
      {{"--user-folder", "extra"}, 2, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    TempDir config;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.Path()));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(QString::fromStdString(dir.Path()));
    program.start(JASELO_PROGRAM, c.args);
    ASSERT_TRUE(program.waitForFinished(10000)) << c.args.join(' ').toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), c.exitCode) << c.args.join(' ').toStdString();
    const QString output =
        QString::fromUtf8(c.exitCode == 0 ? program.readAllStandardOutput() : program.readAllStandardError());
    EXPECT_TRUE(output.contains(QString::fromUtf8(c.output))) << output.toStdString();
    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
    EXPECT_TRUE(QDir(QString::fromStdString(dir.Path())).entryList(entries).isEmpty());
    EXPECT_TRUE(QDir(QString::fromStdString(config.Path())).entryList(entries).isEmpty());
  }
}

TEST(UserFolder, IsMadePrivateOnFirstUseAndBecomesTheCurrentFolder) {
  TempDir base;
  char buffer[4096];
  const std::string old = getcwd(buffer, sizeof buffer) ? buffer : ".";

  const std::string config = base.File("deep/config");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", config.c_str());
    std::string error;
    ASSERT_TRUE(EnterUserFolder(error)) << error;
    EXPECT_EQ(QDir::currentPath().toStdString(), config + "/jaselo");
    struct stat info {};
    ASSERT_EQ(stat((config + "/jaselo").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_TRUE(EnterUserFolder(error)) << "a second start finds it made: " << error;
  }
  {
    // A relative XDG_CONFIG_HOME does not count: the home folder's .config does.
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative");
    ScopedEnv home("HOME", base.Path().c_str());
    EXPECT_EQ(UserFolderPath(), base.Path() + "/.config/jaselo");
  }
  ASSERT_EQ(chdir(old.c_str()), 0);
}
