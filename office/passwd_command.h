#pragma once

#include <string>
#include <vector>

namespace office {

// `passwd USER [--role viewer|pricing]` against the users file; exit status.
int RunPasswd(const std::vector<std::string>& args, const std::string& usersFile);

}  // namespace office
