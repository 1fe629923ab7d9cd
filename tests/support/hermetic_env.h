#pragma once

#include <string>

namespace tarvo::test {

// A private port folder (TARVO_COM_DIR), settings folder (XDG_CONFIG_HOME)
// and state folder (XDG_STATE_HOME, where the journal goes) for one test, and
// ROOT/agent.sock as tarvo-agent's socket (TARVO_AGENT_SOCKET); all are
// removed and the variables restored on destruction.
class HermeticEnv {
 public:
  HermeticEnv();
  ~HermeticEnv();
  HermeticEnv(const HermeticEnv&) = delete;
  HermeticEnv& operator=(const HermeticEnv&) = delete;

  const std::string& ComDir() const { return comDir_; }
  const std::string& ConfigDir() const { return configDir_; }
  const std::string& StateDir() const { return stateDir_; }
  // The folder that holds the three, so a test can let another user in.
  const std::string& Root() const { return root_; }
  // Publishes a device as COMn in the port folder, as a symbolic link.
  void Publish(const std::string& name, const std::string& device) const;

 private:
  std::string root_;
  std::string comDir_;
  std::string configDir_;
  std::string stateDir_;
  std::string oldComDir_;
  std::string oldConfig_;
  std::string oldState_;
  bool hadComDir_ = false;
  bool hadConfig_ = false;
  bool hadState_ = false;
  std::string oldAgentSocket_;
  bool hadAgentSocket_ = false;
};

}  // namespace tarvo::test
