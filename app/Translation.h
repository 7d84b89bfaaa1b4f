// The language of the user interface: the Japanese texts of the sources, or
// the English translation embedded in the program.
#pragma once

#include <QString>

namespace pelo {

enum class UiLanguage { Japanese, English };

// English when the first language the environment names is English:
// LANGUAGE (its first entry), else LC_ALL, LC_MESSAGES, LANG; Japanese
// otherwise.
UiLanguage LanguageFromEnvironment();

// Installs the translation for the language (removing the one installed
// before); false when the English catalogue could not be loaded.
bool UseLanguage(UiLanguage language);

} // namespace pelo
