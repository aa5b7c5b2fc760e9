// A library that has the name export but gives an empty name.
#include "platform/resources/LanguageExports.h"

extern "C" TERMSET_LANGUAGE_EXPORT const char* GetLanguageNameForTermset(void) { return ""; }
extern "C" TERMSET_LANGUAGE_EXPORT const char* GetTermsetResourceText(int, int, int) { return "empty"; }
