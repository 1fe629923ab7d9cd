#include "tests/support/hermetic_env.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace tarvo::test {

namespace {

std::string SaveEnv(const char* name, bool& had) {
  const char* value = std::getenv(name);
  had = value != nullptr;
  return had ? value : "";
}

void RestoreEnv(const char* name, bool had, const std::string& value) {
  if (had) {
    setenv(name, value.c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

HermeticEnv::HermeticEnv() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  comDir_ = root_ + "/com";
  configDir_ = root_ + "/config";
  stateDir_ = root_ + "/state";
  std::filesystem::create_directories(comDir_);
  std::filesystem::create_directories(configDir_);
  std::filesystem::create_directories(stateDir_);
  oldComDir_ = SaveEnv("TARVO_COM_DIR", hadComDir_);
  oldConfig_ = SaveEnv("XDG_CONFIG_HOME", hadConfig_);
  oldState_ = SaveEnv("XDG_STATE_HOME", hadState_);
  setenv("TARVO_COM_DIR", comDir_.c_str(), 1);
  setenv("XDG_CONFIG_HOME", configDir_.c_str(), 1);
  setenv("XDG_STATE_HOME", stateDir_.c_str(), 1);
  // No tarvo-agent of the machine's answers a test's tarvo-cli.
  oldAgentSocket_ = SaveEnv("TARVO_AGENT_SOCKET", hadAgentSocket_);
  setenv("TARVO_AGENT_SOCKET", (root_ + "/agent.sock").c_str(), 1);
}

HermeticEnv::~HermeticEnv() {
  RestoreEnv("TARVO_COM_DIR", hadComDir_, oldComDir_);
  RestoreEnv("XDG_CONFIG_HOME", hadConfig_, oldConfig_);
  RestoreEnv("XDG_STATE_HOME", hadState_, oldState_);
  RestoreEnv("TARVO_AGENT_SOCKET", hadAgentSocket_, oldAgentSocket_);
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void HermeticEnv::Publish(const std::string& name, const std::string& device) const {
  std::filesystem::create_symlink(device, comDir_ + "/" + name);
}

}  // namespace tarvo::test
