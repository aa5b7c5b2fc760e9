// The resource look-up of a loaded language library, with any identifiers:
// kinds outside the three known, negative and huge identifiers. Whatever the
// library answers is either nothing or a text it really carries (the same
// text from its own table, read by the generator).
//
// Input: triples of 32-bit kind, id and sub.

#include "FuzzSupport.h"
#include "platform/resources/LanguageLibrary.h"
#include "platform/resources/Resources.h"

#include <QFile>

#include <cstring>

#ifndef FUZZ_LANGUAGE_LIBRARY
#error "FUZZ_LANGUAGE_LIBRARY names the language library to load"
#endif
#ifndef FUZZ_LANGUAGE_TABLE
#error "FUZZ_LANGUAGE_TABLE names the table the library was built from"
#endif

namespace {

struct Loaded {
    std::shared_ptr<resources::LibraryLanguage> library;
    resources::Table table;
};

const Loaded& loaded()
{
    static const Loaded l = [] {
        Loaded made;
        made.library = resources::LibraryLanguage::load(QStringLiteral(FUZZ_LANGUAGE_LIBRARY));
        QFile f(QStringLiteral(FUZZ_LANGUAGE_TABLE));
        if (!made.library || !f.open(QIODevice::ReadOnly)
            || !resources::parseTable(QString::fromUtf8(f.readAll()), made.table))
            fuzzsupport::fail("the language library or its table cannot be loaded", __FILE__, __LINE__);
        return made;
    }();
    return l;
}

std::int32_t word(fuzzsupport::Input& in)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | in.byte();
    std::int32_t s;
    std::memcpy(&s, &v, sizeof s);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Loaded& l = loaded();
    fuzzsupport::Input in(data, size);
    do {
        const std::int32_t kind = word(in);
        const std::int32_t id = word(in);
        const std::int32_t sub = word(in);
        const resources::Key key{static_cast<resources::Kind>(kind), id, sub};
        const QString text = l.library->lookup(key);
        const auto it = l.table.find(key);
        if (it == l.table.end())
            FUZZ_CHECK(text.isNull());
        else
            FUZZ_CHECK(text == it->second);
        // Through the resource layer: the library first, then English.
        resources::setLanguageProvider(l.library);
        const QString shown = resources::text(key);
        resources::setLanguageProvider(nullptr);
        FUZZ_CHECK(it != l.table.end() ? shown == it->second : shown == resources::text(key));
    } while (in.left() >= 12);
    return 0;
}
