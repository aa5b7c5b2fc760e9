#include "core/LanguageSearch.h"

#include "platform/resources/Resources.h"

#include <QDir>

namespace {

// Shared libraries as the platform names them.
#ifdef Q_OS_WIN
const QString kLibraryPattern = QStringLiteral("*.dll");
#else
const QString kLibraryPattern = QStringLiteral("*.so");
#endif

} // namespace

LanguageSearch::~LanguageSearch()
{
    // Nothing may ask the library for a text once it is unloaded.
    if (m_loaded && resources::languageProvider() == m_loaded)
        resources::setLanguageProvider(nullptr);
    m_loaded.reset();
}

bool LanguageSearch::Search(const QString& programFolder, const QString& currentName)
{
    if (m_searched)
        return m_searchResult;
    m_searched = true;

    const QDir folder(programFolder);
    int selected = -1;
    const QStringList files = folder.entryList({kLibraryPattern}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        if (count() >= kCapacity)
            break;
        const resources::LanguageProbe probe = resources::probeLanguageLibrary(folder.absoluteFilePath(file));
        if (!probe.isLanguage)
            continue;
        m_entries.push_back({file, probe.name});
        // Exact comparison; a later library of the same name wins.
        if (probe.name == currentName)
            selected = count() - 1;
    }

    if (selected >= 0) {
        const auto index = static_cast<std::size_t>(selected);
        m_loaded = resources::LibraryLanguage::load(folder.absoluteFilePath(m_entries[index].fileName));
        if (m_loaded) {
            m_loadedIndex = selected;
            resources::setLanguageProvider(m_loaded);
        }
    }
    m_searchResult = m_loaded != nullptr;
    return m_searchResult;
}
