// Text tables of a language: the parser over any text, then look-ups of what
// it took through the resource layer with the table as the language
// provider, and the status box built from the table's own string 159 and
// 149 (a translation may carry any format text).
//
// Input: the table text (UTF-8).

#include "FuzzSupport.h"
#include "remote/RemoteProtocol.h"
#include "platform/resources/Resources.h"


namespace {

class TableLanguage final : public resources::ILanguageProvider {
public:
    explicit TableLanguage(resources::Table table) : m_table(std::move(table)) {}
    QString lookup(const resources::Key& key) const override
    {
        const auto it = m_table.find(key);
        return it == m_table.end() ? QString() : it->second;
    }

private:
    resources::Table m_table;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString source = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(data ? size : 0));
    resources::Table table;
    QString error;
    const bool ok = resources::parseTable(source, table, &error);
    FUZZ_CHECK(ok == error.isEmpty());
    if (!ok)
        FUZZ_CHECK(error.startsWith(QStringLiteral("line ")));

    auto language = std::make_shared<TableLanguage>(table);
    resources::setLanguageProvider(language);
    for (const auto& [key, text] : table)
        FUZZ_CHECK(resources::text(key) == text);
    // Keys the table lacks fall back to English (or to nothing).
    const resources::Key odd[] = {{resources::Kind::String, -1, 0},
                                  {resources::Kind::String, 0x7FFFFFFF, 0},
                                  {static_cast<resources::Kind>(3), 101, 0},
                                  {static_cast<resources::Kind>(-1), 101, 0},
                                  {resources::Kind::Dialog, 150, -1}};
    for (const auto& key : odd) {
        if (table.count(key) != 0)
            continue;
        const auto english = resources::englishTable().find(key);
        FUZZ_CHECK(resources::text(key) == (english == resources::englishTable().end() ? QString() : english->second));
    }

    // The status box through whatever format the table gives.
    remote::RemoteStatus status;
    status.time = QStringLiteral("12:34");
    status.date = QStringLiteral("05.01.03");
    status.dayOfWeek = 6;
    status.buffered = -7;
    status.version = QStringLiteral("06.29");
    status.dipSwitch = 255;
    const QString text = remote::statusText(status, resources::loadString(159), resources::loadString(149));
    FUZZ_CHECK(text.size() <= resources::loadString(159).size() * 1002 + 64);

    resources::setLanguageProvider(nullptr);
    return 0;
}
