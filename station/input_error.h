#pragma once
// Input that a program refuses before anything reaches the sign: a SPEC, a
// panel file, a request. The message says what is wrong in the user's terms.

#include <stdexcept>
#include <string>

namespace station {

class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace station
