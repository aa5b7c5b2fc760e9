// A shared library that is no language library: it exports something else.
#include "platform/resources/LanguageExports.h"

extern "C" TERMSET_LANGUAGE_EXPORT const char* GetLanguageName(void) { return "Not Termset"; }
