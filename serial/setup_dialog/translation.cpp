#include "serial/setup_dialog/translation.h"

#include <libintl.h>

#include <clocale>
#include <filesystem>
#include <system_error>

namespace {

bool HoldsCatalogue(const std::filesystem::path& localeFolder) {
  std::error_code error;
  for (const auto& language : std::filesystem::directory_iterator(localeFolder, error)) {
    if (std::filesystem::exists(language.path() / "LC_MESSAGES" / "cport.mo", error)) return true;
  }
  return false;
}

}  // namespace

void InitTranslation(const std::string& applicationDir) {
  std::setlocale(LC_ALL, "");
  const std::filesystem::path beside = std::filesystem::path(applicationDir) / "locale";
  const std::string folder = HoldsCatalogue(beside) ? beside.string() : TARVO_INSTALLED_LOCALE_DIR;
  bindtextdomain(kTextDomain, folder.c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
}

std::string Translated(const std::string& text) { return dgettext(kTextDomain, text.c_str()); }
