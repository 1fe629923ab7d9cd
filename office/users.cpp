#include "office/users.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace office {

namespace {

struct Line {
  std::string name;
  std::string role;
  std::string hash;
};

std::vector<Line> ReadLines(const std::string& file) {
  std::vector<Line> lines;
  std::ifstream in(file);
  if (!in) {
    if (errno == ENOENT) return lines;
    throw std::runtime_error(file + ": " + std::strerror(errno));
  }
  for (std::string text; std::getline(in, text);) {
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) continue;
    lines.push_back({text.substr(0, first), text.substr(first + 1, second - first - 1),
                     text.substr(second + 1)});
  }
  return lines;
}

std::string Crypt(const std::string& password, const std::string& setting) {
  crypt_data data{};
  const char* hash = crypt_rn(password.c_str(), setting.c_str(), &data, sizeof data);
  // A failed crypt gives "*" or null: a hash no password matches.
  return hash && hash[0] != '*' ? hash : "";
}

}  // namespace

std::string RoleName(Role role) { return role == Role::kPricing ? "pricing" : "viewer"; }

std::optional<Role> ParseRole(const std::string& name) {
  if (name == "viewer") return Role::kViewer;
  if (name == "pricing") return Role::kPricing;
  return std::nullopt;
}

bool IsUserName(const std::string& name) {
  return !name.empty() && name.size() <= 64 &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
         });
}

void SetPassword(const std::string& file, const std::string& name, Role role,
                 const std::string& password) {
  if (!IsUserName(name))
    throw std::runtime_error("\"" + name + "\" is not a user name (letters, digits, . - _)");
  if (password.empty()) throw std::runtime_error("the password is empty");
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting) == nullptr)
    throw std::runtime_error(std::string("cannot make a salt: ") + std::strerror(errno));
  const std::string hash = Crypt(password, setting);
  if (hash.empty()) throw std::runtime_error("crypt(3) refused to hash the password");
  std::vector<Line> lines = ReadLines(file);
  const auto same = [&](const Line& line) { return line.name == name; };
  std::erase_if(lines, same);
  lines.push_back({name, RoleName(role), hash});
  std::ostringstream text;
  for (const Line& line : lines) text << line.name << ':' << line.role << ':' << line.hash << '\n';
  const std::string temporary = file + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) throw std::runtime_error(temporary + ": " + std::strerror(errno));
  // Root setting a password leaves the file to whoever owns the folder: the
  // service's own user, which must read it.
  struct stat folder {};
  const std::string parent = file.find('/') == std::string::npos ? "." : file.substr(0, file.rfind('/'));
  if (geteuid() == 0 && stat(parent.empty() ? "/" : parent.c_str(), &folder) == 0 &&
      fchown(fd, folder.st_uid, folder.st_gid) != 0) {
    close(fd);
    unlink(temporary.c_str());
    throw std::runtime_error(temporary + ": " + std::strerror(errno));
  }
  const std::string bytes = text.str();
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                       fsync(fd) == 0;
  close(fd);
  if (!written || rename(temporary.c_str(), file.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    unlink(temporary.c_str());
    throw std::runtime_error(file + ": " + reason);
  }
}

std::optional<User> CheckPassword(const std::string& file, const std::string& name,
                                  const std::string& password) {
  std::vector<Line> lines = ReadLines(file);
  const auto found =
      std::find_if(lines.begin(), lines.end(), [&](const Line& line) { return line.name == name; });
  // An unknown name costs as long as a wrong password, so names cannot be told by time.
  static const std::string kDummy = Crypt("-", "$y$j9T$hTo9hLVxNbvDr0Q9p/9tJ.$");
  const std::string stored = found == lines.end() ? kDummy : found->hash;
  const std::string computed = Crypt(password, stored);
  if (found == lines.end() || computed.empty() || computed.size() != stored.size()) return std::nullopt;
  unsigned char differ = 0;
  for (size_t i = 0; i < stored.size(); ++i)
    differ |= static_cast<unsigned char>(stored[i] ^ computed[i]);
  const std::optional<Role> role = ParseRole(found->role);
  if (differ != 0 || !role) return std::nullopt;
  return User{name, *role};
}

}  // namespace office
