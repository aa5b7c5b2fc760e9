// The language libraries shipped beside the program: each loads and names
// its language, carries every text of the program's English tables, keeps
// the placeholders that the program fills in, and keeps the field texts
// apart so that the pages read back what they show.

#include "core/FieldCodes.h"
#include "platform/resources/LanguageLibrary.h"
#include "LanguageTestSupport.h"
#include "platform/resources/Resources.h"

#include <QRegularExpression>
#include <QTest>

using resources::Key;
using resources::Kind;

namespace {

struct Shipped {
    const char* file;
    const char* name;
};
constexpr Shipped kShipped[] = {
    {"Termset-English.so", "English"},
    {"Termset-Magyar.so", "Magyar"},
    {"Termset-Hrvatski.so", "Hrvatski"},
};

QString describe(const Key& k)
{
    static const char* const kinds[] = {"string", "dialog", "menu"};
    return QStringLiteral("%1 %2 %3").arg(QLatin1String(kinds[static_cast<int>(k.kind)])).arg(k.id).arg(k.sub);
}

// Placeholders the program fills in: printf-style ones in order, numbered
// ones in any order.
QString placeholders(const QString& text)
{
    static const QRegularExpression printfStyle(QStringLiteral("%[-0-9]*[sdXxuc]"));
    static const QRegularExpression numbered(QStringLiteral("%[1-9]"));
    QStringList ordered, anyOrder;
    for (auto it = printfStyle.globalMatch(text); it.hasNext();)
        ordered << it.next().captured();
    for (auto it = numbered.globalMatch(text); it.hasNext();)
        anyOrder << it.next().captured();
    anyOrder.sort();
    return ordered.join(QLatin1Char(' ')) + QStringLiteral(" | ") + anyOrder.join(QLatin1Char(' '));
}

std::shared_ptr<resources::LibraryLanguage> load(const char* file)
{
    return resources::LibraryLanguage::load(langtest::builtLibrary(QString::fromLatin1(file)));
}

} // namespace

class TestLanguageTables : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { resources::setLanguageProvider(nullptr); }

    void englishIsTheProgramsOwnTable()
    {
        const auto english = load("Termset-English.so");
        QVERIFY(english);
        QVERIFY(!resources::englishTable().empty());
        for (const auto& [key, text] : resources::englishTable())
            QVERIFY2(english->lookup(key) == text, qPrintable(describe(key)));
        QVERIFY(english->lookup({Kind::String, 1, 0}).isNull());
    }

    void libraryLoadsAndNamesItsLanguage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        for (const Shipped& s : kShipped)
            QTest::newRow(s.name) << QString::fromLatin1(s.file) << QString::fromUtf8(s.name);
    }

    void libraryLoadsAndNamesItsLanguage()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        const auto probe = resources::probeLanguageLibrary(langtest::builtLibrary(file));
        QVERIFY(probe.isLanguage);
        QCOMPARE(probe.name, name);
        const auto library = resources::LibraryLanguage::load(langtest::builtLibrary(file));
        QVERIFY(library);
        QCOMPARE(library->name(), name);

        // Every text of the English tables, with the placeholders the program fills in.
        QStringList wrong;
        for (const auto& [key, text] : resources::englishTable()) {
            const QString translated = library->lookup(key);
            if (translated.isNull() || (translated.trimmed().isEmpty() && !text.trimmed().isEmpty()))
                wrong << describe(key) + QStringLiteral(" missing (") + text + QLatin1Char(')');
            else if (placeholders(translated) != placeholders(text))
                wrong << describe(key) + QStringLiteral(": ") + translated;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("\n") + wrong.join(QLatin1Char('\n'))));
        // Day names: one line per day.
        QCOMPARE(library->lookup({Kind::String, 149, 0}).split(QLatin1Char('\n')).size(), 7);
    }

    void fieldTextsReadBackAsTheirCodes()
    {
        QFETCH(QString, file);
        resources::setLanguageProvider(resources::LibraryLanguage::load(langtest::builtLibrary(file)));
        QVERIFY(resources::languageProvider());
        const std::pair<const char*, QStringList> lists[] = {
            {"actions", fields::actionTexts()},
            {"relay 1 conditions", fields::conditionTexts(1)},
            {"relay 2 conditions", fields::conditionTexts(2)},
            {"LED patterns", fields::ledTexts()},
        };
        for (const auto& [what, texts] : lists) {
            QCOMPARE(texts.size(), 4);
            QCOMPARE(QSet<QString>(texts.begin(), texts.end()).size(), 4);
            for (int code = 0; code < 4; ++code) {
                QVERIFY2(!texts[code].isEmpty(), what);
                QVERIFY2(fields::FieldTextToCode(texts[code]) == code, qPrintable(QLatin1String(what) + QLatin1Char(' ') + texts[code]));
            }
        }
        // The field menus offer four different items.
        const std::pair<int, std::vector<int>> menus[] = {
            {131, {32774, 32775, 32776, 32777}},
            {132, {32778, 32779, 32780, 32781}},
            {133, {32782, 32783, 32784, 32785}},
            {140, {32786, 32787, 32790, 32788}},
        };
        for (const auto& [menu, commands] : menus) {
            QSet<QString> texts;
            for (int c : commands)
                texts.insert(resources::menuText(menu, c).remove(QLatin1Char('&')));
            QVERIFY2(texts.size() == 4, qPrintable(QString::number(menu)));
        }
    }
    void fieldTextsReadBackAsTheirCodes_data() { libraryLoadsAndNamesItsLanguage_data(); }
};

QTEST_MAIN(TestLanguageTables)
#include "tst_language_tables.moc"
