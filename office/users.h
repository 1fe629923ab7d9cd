#pragma once
// The head office's users: one "name:role:hash" line each in the users file,
// the hash yescrypt's (crypt(3) of libcrypt). Roles: viewer sees, pricing
// also pushes and sets groups.

#include <optional>
#include <string>

namespace office {

enum class Role { kViewer, kPricing };

struct User {
  std::string name;
  Role role = Role::kViewer;
};

std::string RoleName(Role role);
std::optional<Role> ParseRole(const std::string& name);
// Letters, digits, ".", "-" and "_", 1..64 of them.
bool IsUserName(const std::string& name);

// Sets (or adds) the user's password and role, replacing the file whole.
// Throws std::runtime_error for a file that cannot be read or written.
void SetPassword(const std::string& file, const std::string& name, Role role,
                 const std::string& password);
// The user when the password is theirs; the file is read each time, so a
// changed password counts at once.
std::optional<User> CheckPassword(const std::string& file, const std::string& name,
                                  const std::string& password);

}  // namespace office
