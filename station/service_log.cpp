#include "station/service_log.h"

#include <cstdio>

namespace station {

void ServiceLog(int priority, const std::string& message) {
  // One write per line, so lines of a crash and of the loop never interleave.
  const std::string line = "<" + std::to_string(priority) + ">" + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace station
