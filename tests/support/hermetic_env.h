#pragma once

#include <string>

namespace tarvo::test {

// A private port folder (TARVO_COM_DIR) and settings folder (XDG_CONFIG_HOME)
// for one test; both are removed and the variables restored on destruction.
class HermeticEnv {
 public:
  HermeticEnv();
  ~HermeticEnv();
  HermeticEnv(const HermeticEnv&) = delete;
  HermeticEnv& operator=(const HermeticEnv&) = delete;

  const std::string& ComDir() const { return comDir_; }
  const std::string& ConfigDir() const { return configDir_; }
  // Publishes a device as COMn in the port folder, as a symbolic link.
  void Publish(const std::string& name, const std::string& device) const;

 private:
  std::string root_;
  std::string comDir_;
  std::string configDir_;
  std::string oldComDir_;
  std::string oldConfig_;
  bool hadComDir_ = false;
  bool hadConfig_ = false;
};

}  // namespace tarvo::test
