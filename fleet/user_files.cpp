#include "fleet/user_files.h"

#include <cstdlib>

namespace tarvo_fleet {

std::string UserFile(const char* variable, const char* fallback, const std::string& name) {
  const char* folder = std::getenv(variable);
  const char* home = std::getenv("HOME");
  const std::string base =
      folder && *folder ? folder : std::string(home ? home : "") + "/" + fallback;
  return base + "/tarvo/" + name;
}

}  // namespace tarvo_fleet
