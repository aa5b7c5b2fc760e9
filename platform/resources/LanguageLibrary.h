#pragma once

// A language library loaded for the run: the provider that the resource
// look-up asks first while the library is in use.

#include "platform/resources/Resources.h"

#include <QLibrary>
#include <QString>

#include <memory>

namespace resources {

// What a look at one library found.
struct LanguageProbe {
    bool isLanguage = false;  // loaded, exports the name function, gave a name
    QString name;             // the language name (a copy)
};

// Loads the library at `path`, asks it for its language name and unloads it
// again (a library this process had loaded already stays loaded). A file
// that does not load, lacks the export or gives no name (null or empty)
// yields isLanguage == false; nothing is reported.
LanguageProbe probeLanguageLibrary(const QString& path);

class LibraryLanguage final : public ILanguageProvider {
public:
    // Loads the library at `path` for as long as the provider lives; asked
    // again for the same file while it lives, returns the same provider.
    // Returns nullptr when it does not load or is no language library.
    static std::shared_ptr<LibraryLanguage> load(const QString& path);

    ~LibraryLanguage() override;
    LibraryLanguage(const LibraryLanguage&) = delete;
    LibraryLanguage& operator=(const LibraryLanguage&) = delete;

    // The text the library carries for `key` (copied), or a null QString.
    QString lookup(const Key& key) const override;

    QString name() const { return m_name; }
    QString fileName() const { return m_library.fileName(); }

private:
    LibraryLanguage() = default;

    QLibrary m_library;
    QString m_name;
    using TextFunction = const char* (*)(int, int, int);
    TextFunction m_text = nullptr;
    QString m_path;           // canonical path, the key among the live providers
    bool m_ownsLoad = false;  // loaded by us, so ours to unload
    bool m_listed = false;    // among the live providers
};

} // namespace resources
