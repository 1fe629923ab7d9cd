// The first store creates the settings folder; the folder's entry must reach
// the disk with the file, as the replacement's own folder does, or a power
// cut takes both away. The test stands in for fsync to see which folders
// were flushed, since nothing else shows it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/CPort.h"
#include "tests/support/hermetic_env.h"

namespace {

std::vector<std::string>* flushedFolders = nullptr;  // set while a test watches

}  // namespace

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const auto real = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  struct stat info {};
  if (flushedFolders != nullptr && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (readlink(link.c_str(), path, sizeof path - 1) > 0) flushedFolders->push_back(path);
  }
  return real(fd);
}

namespace {

TEST(NewSettingsFolder, EveryFolderTheStoreCreatesIsFlushedInItsParent) {
  tarvo::test::HermeticEnv env;
  // The configuration folder itself is missing too, as on a new account.
  const std::string config = env.ConfigDir() + "/home/.config";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  std::vector<std::string> flushed;
  flushedFolders = &flushed;
  TComPort port;
  port.SetName("ComPort");
  port.SavePortSettings(false, "HKEY_LOCAL_MACHINE\\Software\\TARVO");
  flushedFolders = nullptr;

  for (const std::string& parent : {env.ConfigDir(), env.ConfigDir() + "/home", config}) {
    EXPECT_TRUE(std::find(flushed.begin(), flushed.end(), parent) != flushed.end())
        << "the new folder in " << parent << " was not flushed";
  }
}

}  // namespace
