#include "fleet_push/random_id.h"

#include <fstream>

namespace tarvo_fleet {

std::string RandomId() {
  std::ifstream uuid("/proc/sys/kernel/random/uuid");
  std::string id;
  std::getline(uuid, id);
  return id;
}

}  // namespace tarvo_fleet
