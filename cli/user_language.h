#pragma once
// The user's language for tarvo-cli's human output: the locale of the
// environment and the catalogue of the text domain "tarvo-cli", from
// locale/ beside the program (a build), else the installed share/locale.

namespace tarvo_cli {

void UseUserLanguage();

}  // namespace tarvo_cli
