// A library that has the name export but gives no name at all.
#include "platform/resources/LanguageExports.h"

extern "C" TERMSET_LANGUAGE_EXPORT const char* GetLanguageNameForTermset(void) { return nullptr; }
