#include "serial/setup_dialog/translation.h"

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "serial/setup_dialog/catalogue_check.h"

namespace {

namespace fs = std::filesystem;

// The languages gettext tries for messages, in its order: the LANGUAGE list
// unless the messages locale is C or POSIX (then nothing is translated), else
// the locale's name. A C or POSIX entry ends the list.
std::vector<std::string> MessageLanguages() {
  const char* locale = std::setlocale(LC_MESSAGES, nullptr);
  const std::string name = locale ? locale : "C";
  if (name == "C" || name == "POSIX") return {};
  const char* list = std::getenv("LANGUAGE");
  const std::string text = list && *list ? list : name;
  std::vector<std::string> languages;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find(':', start), text.size());
    const std::string language = text.substr(start, end - start);
    if (language == "C" || language == "POSIX") break;
    if (!language.empty()) languages.push_back(language);
    start = end + 1;
  }
  return languages;
}

// glibc's spelling of a code set in catalogue folders: letters and digits,
// lower case ("UTF-8" is "utf8"), digits alone get "iso" in front.
std::string NormalisedCodeset(const std::string& codeset) {
  std::string normal;
  bool onlyDigits = true;
  for (const unsigned char c : codeset) {
    if (!std::isalnum(c)) continue;
    onlyDigits = onlyDigits && std::isdigit(c);
    normal += static_cast<char>(std::tolower(c));
  }
  return onlyDigits ? "iso" + normal : normal;
}

// The folder names gettext tries for "ll_CC.codeset@modifier", most specific
// first, down to "ll".
std::vector<std::string> FolderNames(const std::string& language) {
  const size_t at = language.find('@');
  const std::string modifier = at == std::string::npos ? "" : language.substr(at);
  const std::string rest = language.substr(0, at);
  const size_t dot = rest.find('.');
  const std::string codeset = dot == std::string::npos ? "" : rest.substr(dot + 1);
  const std::string base = rest.substr(0, dot);
  const size_t underscore = base.find('_');
  const std::string territory = underscore == std::string::npos ? "" : base.substr(underscore);
  const std::string code = base.substr(0, underscore);

  std::vector<std::string> codesets;
  if (!codeset.empty()) {
    codesets.push_back("." + codeset);
    const std::string normalised = NormalisedCodeset(codeset);
    if (normalised != codeset) codesets.push_back("." + normalised);
  }
  codesets.push_back("");

  std::vector<std::string> names;
  for (const std::string& withModifier : {modifier, std::string()}) {
    for (const std::string& withTerritory : {territory, std::string()}) {
      for (const std::string& withCodeset : codesets) {
        const std::string name = code + withTerritory + withCodeset + withModifier;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
      }
    }
  }
  return names;
}

// A file whose catalogue glibc reads safely. Anything else must neither be
// bound nor hide a good catalogue in another folder.
bool IsCatalogue(const fs::path& file) {
  constexpr std::uintmax_t kLargest = 16 << 20;
  std::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  if (error || size > kLargest) return false;
  std::string bytes(size, '\0');
  if (!std::ifstream(file, std::ios::binary).read(bytes.data(), size)) return false;
  return IsSafeCatalogue(bytes);
}

bool HoldsCatalogue(const fs::path& localeFolder, const std::string& language) {
  for (const std::string& name : FolderNames(language)) {
    if (IsCatalogue(localeFolder / name / "LC_MESSAGES" / (std::string(kTextDomain) + ".mo"))) {
      return true;
    }
  }
  return false;
}

fs::path CatalogueFolder(const std::string& applicationDir) {
  const fs::path program(applicationDir);
  const std::array<fs::path, 3> folders{
      program / "locale",
      (program / TARVO_LOCALE_DIR_FROM_BIN).lexically_normal(),
      TARVO_INSTALLED_LOCALE_DIR,
  };
  for (const std::string& language : MessageLanguages()) {
    for (const fs::path& folder : folders) {
      if (HoldsCatalogue(folder, language)) return folder;
    }
  }
  return folders[1];
}

}  // namespace

void InitTranslation(const std::string& applicationDir) {
  std::setlocale(LC_ALL, "");
  bindtextdomain(kTextDomain, CatalogueFolder(applicationDir).c_str());
  bind_textdomain_codeset(kTextDomain, "UTF-8");
}

std::string Translated(const std::string& text) { return dgettext(kTextDomain, text.c_str()); }
