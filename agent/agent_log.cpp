#include "agent/agent_log.h"

#include "station/service_log.h"

namespace agent {

void Log(int priority, const std::string& message) { station::ServiceLog(priority, message); }

}  // namespace agent
