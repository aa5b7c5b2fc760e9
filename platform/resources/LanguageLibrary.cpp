#include "LanguageLibrary.h"

#include "LanguageExports.h"

namespace resources {

static_assert(static_cast<int>(Kind::String) == TermsetResourceString);
static_assert(static_cast<int>(Kind::Dialog) == TermsetResourceDialog);
static_assert(static_cast<int>(Kind::Menu) == TermsetResourceMenu);

namespace {

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

// Loads `library` and reads its language name; false when it is no language
// library (it is then left loaded or not, as load() left it).
bool loadAndName(QLibrary& library, QString& name)
{
    // Resolve everything at once: a library that needs what this process
    // lacks fails here, quietly, rather than at its first call.
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library.load())
        return false;
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
    QLibrary library(path);
    probe.isLanguage = loadAndName(library, probe.name);
    if (!probe.isLanguage)
        probe.name.clear();
    if (library.isLoaded())
        library.unload();
    return probe;
}

std::shared_ptr<LibraryLanguage> LibraryLanguage::load(const QString& path)
{
    std::shared_ptr<LibraryLanguage> language(new LibraryLanguage);
    language->m_library.setFileName(path);
    if (!loadAndName(language->m_library, language->m_name)) {
        if (language->m_library.isLoaded())
            language->m_library.unload();
        return nullptr;
    }
    language->m_text = reinterpret_cast<TextFunction>(language->m_library.resolve(TERMSET_RESOURCE_TEXT_EXPORT));
    return language;
}

LibraryLanguage::~LibraryLanguage()
{
    if (m_library.isLoaded())
        m_library.unload();
}

QString LibraryLanguage::lookup(const Key& key) const
{
    if (!m_text)
        return {};
    return copyText(m_text(static_cast<int>(key.kind), key.id, key.sub));
}

} // namespace resources
