#include "office/passwd_command.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "office/users.h"

namespace office {

namespace {

// From a terminal without echo, asked twice; else the first line of stdin.
std::string ReadNewPassword() {
  if (!isatty(STDIN_FILENO)) {
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  termios saved{};
  tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::string first;
  std::string second;
  std::cerr << "New password: " << std::flush;
  std::getline(std::cin, first);
  std::cerr << "\nAgain: " << std::flush;
  std::getline(std::cin, second);
  std::cerr << '\n';
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (first != second) throw std::runtime_error("the two passwords differ");
  return first;
}

}  // namespace

int RunPasswd(const std::vector<std::string>& args, const std::string& usersFile) {
  std::string user;
  Role role = Role::kViewer;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--role" && i + 1 < args.size()) {
      const std::optional<Role> parsed = ParseRole(args[++i]);
      if (!parsed) {
        std::cerr << "tarvo-office: --role must be viewer or pricing\n";
        return 2;
      }
      role = *parsed;
    } else if (user.empty() && args[i].rfind("--", 0) != 0) {
      user = args[i];
    } else {
      std::cerr << "tarvo-office: usage: tarvo-office passwd USER [--role viewer|pricing]\n";
      return 2;
    }
  }
  if (!IsUserName(user)) {
    std::cerr << "tarvo-office: usage: tarvo-office passwd USER [--role viewer|pricing] "
                 "(USER: letters, digits, . - _)\n";
    return 2;
  }
  try {
    SetPassword(usersFile, user, role, ReadNewPassword());
  } catch (const std::exception& error) {
    std::cerr << "tarvo-office: " << error.what() << '\n';
    return 1;
  }
  std::cerr << "tarvo-office: " << user << " (" << RoleName(role) << ") set in " << usersFile << '\n';
  return 0;
}

}  // namespace office
