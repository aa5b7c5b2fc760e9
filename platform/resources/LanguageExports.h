#pragma once

// The binary contract of a language library: a shared library in the program
// folder that names its language and hands out the configurator's texts by
// identifier. Plain C, so that a library can be built with any compiler and
// needs nothing of Qt; a language library includes this header only.

#ifdef __cplusplus
extern "C" {
#endif

// Exported as "GetLanguageNameForTermset": the language's name as the
// Languages menu and the profile value "Language" show it, UTF-8, zero-
// terminated, valid while the library is loaded. A library that returns a
// null pointer or an empty text is not a language library.
typedef const char* (*TermsetLanguageNameFunction)(void);

// Exported as "GetTermsetResourceText": the text of one resource, UTF-8,
// zero-terminated, valid while the library is loaded, or a null pointer when
// the library does not carry it (the configurator then shows its own English
// text).
//   kind 0 (string): id = string identifier, sub = 0
//   kind 1 (dialog): id = dialog identifier, sub = control identifier (0 = caption)
//   kind 2 (menu):   id = menu identifier, sub = command identifier (popups
//                    and captions have keys of their own, as in the tables)
// A library without this export is still a language library; every text
// then comes from the configurator's own table.
typedef const char* (*TermsetResourceTextFunction)(int kind, int id, int sub);

#define TERMSET_LANGUAGE_NAME_EXPORT "GetLanguageNameForTermset"
#define TERMSET_RESOURCE_TEXT_EXPORT "GetTermsetResourceText"

enum TermsetResourceKind {
    TermsetResourceString = 0,
    TermsetResourceDialog = 1,
    TermsetResourceMenu = 2
};

#if defined(_WIN32)
#define TERMSET_LANGUAGE_EXPORT __declspec(dllexport)
#else
#define TERMSET_LANGUAGE_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
}
#endif
