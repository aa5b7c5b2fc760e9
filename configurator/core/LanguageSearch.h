#pragma once

// The start-up search for the language libraries beside the program: it
// lists them and loads the one the profile names as the source of the
// program's texts. Termset's Languages popup and termset-cli's --language
// both use it.

#include "platform/resources/LanguageLibrary.h"

#include <QString>

#include <memory>
#include <vector>

class LanguageSearch {
public:
    static constexpr int kCapacity = 100;   // entries the list holds

    struct Entry {
        QString fileName;      // as the folder search gave it, without the folder
        QString languageName;  // as the library names its language
    };

    LanguageSearch() = default;
    // Takes the loaded library out of use and frees it.
    ~LanguageSearch();
    LanguageSearch(const LanguageSearch&) = delete;
    LanguageSearch& operator=(const LanguageSearch&) = delete;

    // Looks at every shared library of `programFolder` in name order (at
    // most kCapacity language libraries are kept; files that are no language
    // library are passed over silently), selects the last one whose name
    // equals `currentName` exactly, loads it for the run and makes it the
    // source of the program's texts. Returns true when a library was loaded;
    // false leaves the program's own texts in use (the caller says so).
    // Runs once; later calls return the first result.
    bool Search(const QString& programFolder, const QString& currentName);

    const std::vector<Entry>& entries() const { return m_entries; }
    int count() const { return static_cast<int>(m_entries.size()); }
    // The entry whose library is loaded, or -1.
    int loadedIndex() const { return m_loadedIndex; }
    bool isLoaded() const { return m_loaded != nullptr; }

private:
    bool m_searched = false;
    bool m_searchResult = false;
    std::vector<Entry> m_entries;
    int m_loadedIndex = -1;
    std::shared_ptr<resources::LibraryLanguage> m_loaded;
};
