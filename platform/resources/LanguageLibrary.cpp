#include "platform/resources/LanguageLibrary.h"

#include "platform/resources/LanguageExports.h"
#include "platform/component/ModuleTrust.h"

#include <QFileInfo>
#include <QtDebug>

#include <map>
#include <mutex>

namespace resources {

static_assert(static_cast<int>(Kind::String) == TermsetResourceString);
static_assert(static_cast<int>(Kind::Dialog) == TermsetResourceDialog);
static_assert(static_cast<int>(Kind::Menu) == TermsetResourceMenu);

// All QLibrary objects of one file share one handle, and unloading through
// any of them can take the file away from the others. So a library that is
// already loaded in this process when we come to it (the control module,
// say, or a language library someone else holds) is only looked at, never
// unloaded here; and one language library loaded for good is shared by all
// who ask for it.

namespace {

std::mutex g_liveMutex;
std::map<QString, std::weak_ptr<LibraryLanguage>>& liveLanguages()
{
    static auto& live = *new std::map<QString, std::weak_ptr<LibraryLanguage>>;
    return live;
}

QString canonicalPath(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

// A library's text, copied before anything can unload it. An empty text is
// a real (empty) text, not a missing one.
QString copyText(const char* text)
{
    if (!text)
        return {};
    if (*text == '\0')
        return QStringLiteral("");
    return QString::fromUtf8(text);
}

// Makes sure `library` is loaded and reads its language name. Returns false
// when it is no language library (it may then be loaded or not).
bool loadAndName(QLibrary& library, QString& name)
{
    if (!library.isLoaded()) {
        // A language library is code: one that another user could have
        // put there or changed is not loaded.
        if (const QString why = component::moduleRefusal(library.fileName()); !why.isEmpty()) {
            qWarning().noquote() << "language library not loaded:" << why;
            return false;
        }
        // Resolve everything at once: a library that needs what this
        // process lacks fails here, quietly, rather than at its first call.
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (!library.load())
            return false;
    }
    auto nameFunction = reinterpret_cast<TermsetLanguageNameFunction>(library.resolve(TERMSET_LANGUAGE_NAME_EXPORT));
    if (!nameFunction)
        return false;
    name = copyText(nameFunction());
    return !name.isEmpty();
}

} // namespace

LanguageProbe probeLanguageLibrary(const QString& path)
{
    LanguageProbe probe;
    QLibrary library(canonicalPath(path));
    const bool inUse = library.isLoaded();
    probe.isLanguage = loadAndName(library, probe.name);
    if (!probe.isLanguage)
        probe.name.clear();
    if (!inUse && library.isLoaded())
        library.unload();
    return probe;
}

std::shared_ptr<LibraryLanguage> LibraryLanguage::load(const QString& path)
{
    const QString canonical = canonicalPath(path);
    std::lock_guard lock(g_liveMutex);
    auto& live = liveLanguages();
    if (auto it = live.find(canonical); it != live.end()) {
        if (auto existing = it->second.lock())
            return existing;
    }

    std::shared_ptr<LibraryLanguage> language(new LibraryLanguage);
    language->m_path = canonical;
    language->m_library.setFileName(canonical);
    language->m_ownsLoad = !language->m_library.isLoaded();
    if (!loadAndName(language->m_library, language->m_name)) {
        if (language->m_ownsLoad && language->m_library.isLoaded())
            language->m_library.unload();
        language->m_ownsLoad = false;
        return nullptr;
    }
    language->m_text = reinterpret_cast<TextFunction>(language->m_library.resolve(TERMSET_RESOURCE_TEXT_EXPORT));
    live[canonical] = language;
    language->m_listed = true;
    return language;
}

LibraryLanguage::~LibraryLanguage()
{
    if (m_listed) {
        std::lock_guard lock(g_liveMutex);
        auto& live = liveLanguages();
        if (auto it = live.find(m_path); it != live.end() && it->second.expired())
            live.erase(it);
    }
    if (m_ownsLoad && m_library.isLoaded())
        m_library.unload();
}

QString LibraryLanguage::lookup(const Key& key) const
{
    if (!m_text)
        return {};
    return copyText(m_text(static_cast<int>(key.kind), key.id, key.sub));
}

} // namespace resources
