#pragma once
// Run-time translation of the port component's texts (error texts, the setup
// dialog's captions) through GNU gettext, text domain "cport". Without a
// catalogue every text stays as it is written in the code.

#include <string>

inline constexpr const char kTextDomain[] = "cport";

// Sets the locale from the environment and binds the text domain to the folder
// that holds the catalogue of the first language in effect (LANGUAGE, else the
// messages locale) that has one: "locale" in `applicationDir`, else the
// installed share/locale relative to it, else the one of the install prefix.
// glibc binds one folder per domain, so the choice is made once, here. Files
// that are not catalogues are passed over. Catalogues are read as UTF-8.
// The program passes its own folder (QCoreApplication::applicationDirPath()).
void InitTranslation(const std::string& applicationDir);

// The text's translation in the text domain, or the text itself.
std::string Translated(const std::string& text);
