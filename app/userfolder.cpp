#include "app/userfolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::string UserFolderPath() {
  // Relative values are to be ignored, as the base directory rules say.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/jaselo";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') {
    const passwd* entry = getpwuid(getuid());
    home = entry ? entry->pw_dir : nullptr;
  }
  if (!home || home[0] != '/') return {};
  return std::string(home) + "/.config/jaselo";
}

bool EnterUserFolder(std::string& error) {
  const std::string path = UserFolderPath();
  if (path.empty()) {
    error = "no home folder is known (neither XDG_CONFIG_HOME nor HOME is set)";
    return false;
  }
  // Each missing folder is made private to the user, as configuration
  // folders should be; existing ones are left as they are.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot make " + part + ": " + std::strerror(errno);
      return false;
    }
    if (slash == std::string::npos) break;
  }
  if (chdir(path.c_str()) != 0) {
    error = "cannot enter " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
