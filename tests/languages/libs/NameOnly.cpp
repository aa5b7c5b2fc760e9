// A language library that names its language and carries no texts.
#include "platform/resources/LanguageExports.h"

extern "C" TERMSET_LANGUAGE_EXPORT const char* GetLanguageNameForTermset(void) { return "Name Only"; }
