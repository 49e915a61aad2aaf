#include "app/userfolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "trust/privatefiles.h"

std::string UserFolderPath() { return UserBaseFolder("XDG_CONFIG_HOME", ".config"); }

bool EnterUserFolder(std::string& error) {
  const std::string path = UserFolderPath();
  if (path.empty()) {
    error = "no home folder is known (neither XDG_CONFIG_HOME nor HOME is set)";
    return false;
  }
  // Configuration folders are the user's alone, as data folders are.
  if (!MakePrivateFolder(path, error)) return false;
  if (chdir(path.c_str()) != 0) {
    error = "cannot enter " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
