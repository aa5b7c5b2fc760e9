// The language libraries shipped beside the program: each loads and names
// its language, carries every text of the program's English tables, keeps
// the placeholders that the program fills in, keeps mnemonics unique, and
// keeps the field texts apart so that the pages read back what they show.

#include "FieldCodes.h"
#include "LanguageLibrary.h"
#include "LanguageTestSupport.h"
#include "Resources.h"

#include <QRegularExpression>
#include <QTest>

#include <map>
#include <set>

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

// The mnemonic of a text (the character after a single '&'), or a null QChar.
QChar mnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return {};
}

// Groups of texts shown together, whose mnemonics must differ.
struct Group {
    const char* what;
    std::vector<Key> keys;
};

std::vector<Group> mnemonicGroups()
{
    auto menu = [](int menuId, std::initializer_list<int> commands) {
        std::vector<Key> keys;
        for (int c : commands)
            keys.push_back({Kind::Menu, menuId, c});
        return keys;
    };
    std::vector<Group> groups{
        {"menu bar", menu(149, {1, 2, 3})},
        {"File", menu(149, {32806, 32807, 130, 129, 32803, 57665})},
        {"Configuration", menu(149, {4, 5, 32799, 32800, 32808})},
        {"Serial", menu(149, {32771, 32772, 32773})},
        {"Remote", menu(149, {32793, 32791, 32792})},
        {"relay 1 condition", menu(131, {32774, 32775, 32776, 32777})},
        {"relay 2 condition", menu(132, {32778, 32779, 32780, 32781})},
        {"relay action", menu(133, {32782, 32783, 32784, 32785})},
    };
    Group tabs{"page tabs", {}};
    for (int page : {206, 209, 210, 211, 208, 207, 212, 141})
        tabs.keys.push_back({Kind::Dialog, page, 0});
    groups.push_back(tabs);
    // The controls of each dialog.
    std::map<int, Group> dialogs;
    for (const auto& [key, text] : resources::englishTable()) {
        if (key.kind != Kind::Dialog || key.sub == 0)
            continue;
        Group& g = dialogs[key.id];
        g.what = "dialog";
        g.keys.push_back(key);
    }
    for (auto& [id, g] : dialogs)
        groups.push_back(g);
    return groups;
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

    void englishIsTheProgramsOwnTable();
    void libraryLoadsAndNamesItsLanguage_data();
    void libraryLoadsAndNamesItsLanguage();
    void mnemonicsAreUnique_data() { libraryLoadsAndNamesItsLanguage_data(); }
    void mnemonicsAreUnique();
    void fieldTextsReadBackAsTheirCodes_data() { libraryLoadsAndNamesItsLanguage_data(); }
    void fieldTextsReadBackAsTheirCodes();
};

void TestLanguageTables::englishIsTheProgramsOwnTable()
{
    const auto english = load("Termset-English.so");
    QVERIFY(english);
    QVERIFY(!resources::englishTable().empty());
    for (const auto& [key, text] : resources::englishTable())
        QVERIFY2(english->lookup(key) == text, qPrintable(describe(key)));
    QVERIFY(english->lookup({Kind::String, 1, 0}).isNull());
}

void TestLanguageTables::libraryLoadsAndNamesItsLanguage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("name");
    for (const Shipped& s : kShipped)
        QTest::newRow(s.name) << QString::fromLatin1(s.file) << QString::fromUtf8(s.name);
}

void TestLanguageTables::libraryLoadsAndNamesItsLanguage()
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

void TestLanguageTables::mnemonicsAreUnique()
{
    QFETCH(QString, file);
    resources::setLanguageProvider(resources::LibraryLanguage::load(langtest::builtLibrary(file)));
    QVERIFY(resources::languageProvider());
    QStringList clashes;
    for (const Group& g : mnemonicGroups()) {
        std::map<QChar, QString> seen;
        for (const Key& k : g.keys) {
            const QString text = resources::text(k);
            const QChar m = mnemonic(text);
            if (m.isNull())
                continue;
            const auto [it, fresh] = seen.emplace(m, text);
            if (!fresh)
                clashes << QStringLiteral("%1 (%2): \"%3\" and \"%4\"")
                               .arg(QLatin1String(g.what), describe(k), it->second, text);
        }
    }
    QVERIFY2(clashes.isEmpty(), qPrintable(QStringLiteral("\n") + clashes.join(QLatin1Char('\n'))));
}

void TestLanguageTables::fieldTextsReadBackAsTheirCodes()
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
    // Every field of a row word and of the LED word reads back unchanged.
    for (const std::uint16_t word : {std::uint16_t(0x0000), std::uint16_t(0x3FFF), std::uint16_t(0xB6E4),
                                     std::uint16_t(0x2A55), std::uint16_t(0xFFFF), std::uint16_t(0x1B93)}) {
        fields::RowFields row;
        for (int r = 0; r < 4; ++r)
            row.actions[static_cast<std::size_t>(r)] = fields::FieldTextToCode(fields::DecodeField(word, fields::kRelay1Action + r));
        row.registration = fields::DecodeField(word, fields::kRegistration) == fields::kTrue;
        row.conditions[0] = fields::FieldTextToCode(fields::DecodeField(word, fields::kRelay1Condition));
        row.conditions[1] = fields::FieldTextToCode(fields::DecodeField(word, fields::kRelay2Condition));
        QCOMPARE(fields::EncodeRow(row), std::uint16_t(word & 0x37FF));

        fields::LedFields led;
        for (int n = 0; n < 4; ++n) {
            led.green[static_cast<std::size_t>(n)] = fields::FieldTextToCode(fields::DecodeField(word, fields::kLed1Green + 2 * n));
            led.red[static_cast<std::size_t>(n)] = fields::FieldTextToCode(fields::DecodeField(word, fields::kLed1Red + 2 * n));
        }
        QCOMPARE(fields::EncodeLed(led), word);
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

QTEST_MAIN(TestLanguageTables)
#include "tst_language_tables.moc"
