#include "cli/user_language.h"

#include <libintl.h>

#include <clocale>
#include <filesystem>

#include "station/text.h"

namespace tarvo_cli {

void UseUserLanguage() {
  namespace fs = std::filesystem;
  std::setlocale(LC_ALL, "");
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error).parent_path();
  const fs::path beside = program / "locale";
  const fs::path folder = fs::is_directory(beside, error)
                              ? beside
                              : (program / TARVO_LOCALE_DIR_FROM_BIN).lexically_normal();
  bindtextdomain(station::kTextDomain, folder.c_str());
  bind_textdomain_codeset(station::kTextDomain, "UTF-8");
}

}  // namespace tarvo_cli
