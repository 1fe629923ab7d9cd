#pragma once
// A fresh random id (a UUID from the kernel): change ids and client ids.

#include <string>

namespace tarvo_fleet {

std::string RandomId();

}  // namespace tarvo_fleet
