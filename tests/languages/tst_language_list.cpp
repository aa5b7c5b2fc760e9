// The language list: the start-up search of a program folder, the loaded
// library as the source of texts, the Languages popup and choosing.

#include "shell/CLanguageList.h"
#include "LanguageTestSupport.h"
#include "RecordingPrompter.h"
#include "platform/resources/Resources.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QLibrary>
#include <QMenu>
#include <QTest>

using langtest::ProgramFolder;
using langtest::testLibrary;

namespace {
const QString kEnglish175 = QStringLiteral("In order for the new language to take effect, you need to restart application.");
const QString kTwinA175 = QStringLiteral("Twin A: restart to use the new language.");
const QString kTwinB175 = QStringLiteral("Twin B: restart to use the new language.");
const QString kOther175 = QStringLiteral("Other: restart to use the new language.");
const QString kNoLanguage = QStringLiteral("Twin");

// Item texts of a popup with a '*' after the checked ones.
QStringList items(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions())
        out << a->text() + (a->isChecked() ? QStringLiteral("*") : QString());
    return out;
}
} // namespace

class TestLanguageList : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        // A failed test must not leave its library in use for the next one.
        resources::setLanguageProvider(nullptr);
    }

    // The search of a program folder: which files are listed, whether the
    // profile's language is found and loaded, and the Languages popup.
    void search_data()
    {
        QTest::addColumn<QStringList>("files");  // test library=name in the folder
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QStringList>("shown");  // checked ones with '*'
        QTest::addColumn<QString>("text175");
        const QStringList twins{"Twin-A.so=Twin-1.so", "Other.so=Twin-2.so", "Twin-B.so=Twin-3.so"};
        QTest::newRow("no library") << QStringList() << "English" << false << QStringList() << kEnglish175;
        QTest::newRow("same name twice: the last loads")
            << twins << "Twin" << true << QStringList{"Twin*", "Other", "Twin*"} << kTwinB175;
        QTest::newRow("lower case") << twins << "twin" << false << QStringList{"Twin", "Other", "Twin"} << kEnglish175;
        QTest::newRow("trailing blank") << twins << "Twin " << false << QStringList{"Twin", "Other", "Twin"} << kEnglish175;
        QTest::newRow("texts it lacks come from English")
            << QStringList{"NameOnly.so=NameOnly.so"} << "Name Only" << true << QStringList{"Name Only*"} << kEnglish175;
    }

    void search()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, language);
        QFETCH(bool, found);
        QFETCH(QStringList, shown);
        QFETCH(QString, text175);
        testsupport::TestEnvironment env;
        ProgramFolder folder;
        QVERIFY(folder.write(QStringLiteral("readme.txt"), "not a library"));
        for (const QString& f : files)
            QVERIFY(folder.copy(testLibrary(f.section('=', 0, 0)), f.section('=', 1)));
        CLanguageList list;
        QCOMPARE(list.Search(folder.path(), language), found);
        QCOMPARE(list.isLoaded(), found);
        QCOMPARE(resources::loadString(175), text175);
        QCOMPARE(list.currentLanguage(), language);

        QMenu configuration;
        QCOMPARE(items(list.AppendMenu(&configuration, nullptr)), shown);
        for (qsizetype i = 0; i <= shown.size(); ++i)
            QCOMPARE(list.IsChecked(CLanguageList::kFirstCommand + int(i)), shown.value(i).endsWith('*'));
    }

    void skipsFilesThatAreNoLanguageLibrary_data()
    {
        QTest::addColumn<QString>("source");  // empty: random bytes
        QTest::addColumn<QString>("as");
        QTest::addColumn<bool>("openToAll");  // the file may be changed by any user

        QTest::newRow("random bytes") << QString() << QStringLiteral("Broken.so") << false;
        QTest::newRow("no export") << testLibrary(QStringLiteral("NoExport.so")) << QStringLiteral("NoExport.so") << false;
        QTest::newRow("empty name") << testLibrary(QStringLiteral("EmptyName.so")) << QStringLiteral("EmptyName.so") << false;
        QTest::newRow("null name") << testLibrary(QStringLiteral("NullName.so")) << QStringLiteral("NullName.so") << false;
        QTest::newRow("control module") << testsupport::TestEnvironment::controlModulePath() << QStringLiteral("libRK40COMM.so") << false;
        QTest::newRow("empty file") << QStringLiteral("-") << QStringLiteral("Empty.so") << false;
        QTest::newRow("writable by others") << testLibrary(QStringLiteral("Twin-B.so")) << QStringLiteral("Open.so") << true;
    }

    void skipsFilesThatAreNoLanguageLibrary()
    {
        QFETCH(QString, source);
        QFETCH(QString, as);
        QFETCH(bool, openToAll);
        testsupport::TestEnvironment env;
        testsupport::RecordingPrompter prompter;
        ProgramFolder folder;
        if (source.isEmpty())
            QVERIFY(folder.writeRandom(as, 20000));
        else if (source == QLatin1String("-"))
            QVERIFY(folder.write(as, {}));
        else if (!QFile::exists(source))
            QSKIP("the library for this row was not built");
        else
            QVERIFY(folder.copy(source, as));
        if (openToAll)
            QVERIFY(QFile::setPermissions(folder.file(as), QFile::permissions(folder.file(as)) | QFile::WriteOther));
        // Language libraries before and after the bad file: the search goes on.
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Other.so")), QStringLiteral("A-Other.so")));
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Twin-A.so")), QStringLiteral("Z-Twin.so")));

        CLanguageList list;
        QVERIFY(list.Search(folder.path(), QStringLiteral("Twin")));
        QStringList names;
        for (const auto& e : list.entries())
            names << e.fileName + QLatin1Char('=') + e.languageName;
        QCOMPARE(names, (QStringList{QStringLiteral("A-Other.so=Other"), QStringLiteral("Z-Twin.so=Twin")}));
        QCOMPARE(list.loadedIndex(), 1);
        QCOMPARE(resources::loadString(175), kTwinA175);
        QVERIFY(prompter.messages.empty());
    }

    void choosingKeepsTextsAndMovesTheCheckMark()
    {
        testsupport::TestEnvironment env;
        testsupport::RecordingPrompter prompter;
        ProgramFolder folder;
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Other.so")), QStringLiteral("Other.so")));
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Twin-B.so")), QStringLiteral("Twin-B.so")));

        QStringList stored;
        CLanguageList list;
        QString refusal;   // what the store says when it cannot keep the name
        list.setNameStore([&](const QString& name) {
            stored << name;
            return refusal;
        });
        QVERIFY(list.Search(folder.path(), QStringLiteral("Twin")));
        QWidget owner;
        QMenu configuration;
        QMenu* languages = list.AppendMenu(&configuration, &owner);
        QCOMPARE(items(languages), (QStringList{QStringLiteral("Other"), QStringLiteral("Twin*")}));

        // Through the menu item, as the user chooses.
        list.action(37376)->trigger();
        QCOMPARE(stored, QStringList{QStringLiteral("Other")});
        QCOMPARE(list.currentLanguage(), QStringLiteral("Other"));
        QCOMPARE(prompter.lookTexts(), QStringList{"info:" + kTwinB175});  // the language still in use
        QCOMPARE(items(languages), (QStringList{QStringLiteral("Other*"), QStringLiteral("Twin")}));
        // The texts change only at the next start.
        QCOMPARE(resources::loadString(175), kTwinB175);
        QCOMPARE(list.loadedIndex(), 1);

        // The same choice again: stored and told all the same.
        QVERIFY(list.OnCommand(37376, &owner));
        QCOMPARE(stored, (QStringList{QStringLiteral("Other"), QStringLiteral("Other")}));
        QCOMPARE(prompter.messages.size(), std::size_t(2));

        // Back to the language in use; the popup shows it when opened.
        QVERIFY(list.OnCommand(37377, &owner));
        emit languages->aboutToShow();
        QCOMPARE(items(languages), (QStringList{QStringLiteral("Other"), QStringLiteral("Twin*")}));

        // Commands outside the entries do nothing.
        QVERIFY(!list.OnCommand(37378, &owner));
        QVERIFY(!list.OnCommand(37375, &owner));
        QVERIFY(!list.OnCommand(32771, &owner));
        QCOMPARE(prompter.messages.size(), std::size_t(3));

        // A name the profile cannot keep: said why, and nothing is chosen.
        refusal = QStringLiteral("not stored");
        QVERIFY(list.OnCommand(37376, &owner));
        QCOMPARE(prompter.lookTexts().last(), QStringLiteral("stop:not stored"));
        QCOMPARE(list.currentLanguage(), QStringLiteral("Twin"));
    }

    void menuIsRebuiltAndGoesWithTheList()
    {
        testsupport::TestEnvironment env;
        ProgramFolder folder;
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Twin-A.so")), QStringLiteral("Twin-A.so")));
        auto list = std::make_unique<CLanguageList>();
        QVERIFY(list->Search(folder.path(), QStringLiteral("Twin")));
        QCOMPARE(resources::loadString(175), kTwinA175);
        // The search runs once per run.
        QVERIFY(list->Search(folder.path(), QStringLiteral("Other")));
        QCOMPARE(list->count(), 1);

        // A popup made by the caller is filled in place.
        QMenu own(QStringLiteral("Languages"));
        own.addAction(QStringLiteral("stale"));
        list->FillMenu(&own, nullptr);
        QCOMPARE(items(&own), QStringList{QStringLiteral("Twin*")});
        QCOMPARE(own.actions().first()->data().toInt(), 37376);

        QMenu configuration;
        configuration.addAction(QStringLiteral("&Clear"));
        QPointer<QMenu> first = list->AppendMenu(&configuration, nullptr);
        QMenu* second = list->AppendMenu(&configuration, nullptr);
        QVERIFY(!first);  // the previous popup is gone
        QCOMPARE(configuration.actions().size(), 2);
        QCOMPARE(configuration.actions().last()->menu(), second);
        QCOMPARE(items(second), QStringList{QStringLiteral("Twin*")});
        list.reset();
        QVERIFY(!resources::languageProvider());
        QCOMPARE(resources::loadString(175), kEnglish175);
        QCOMPARE(configuration.actions().size(), 1);  // the popup went with the list
    }

    void keepsTheFirstHundred()
    {
        testsupport::TestEnvironment env;
        ProgramFolder folder;
        for (int i = 0; i <= CLanguageList::kCapacity; ++i)
            QVERIFY(folder.copy(testLibrary(QStringLiteral("Other.so")), QStringLiteral("lang%1.so").arg(i, 3, 10, QLatin1Char('0'))));
        // Found after the hundredth: not listed, so not loaded either.
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Twin-A.so")), QStringLiteral("zz-Twin.so")));

        CLanguageList list;
        QVERIFY(!list.Search(folder.path(), kNoLanguage));
        QCOMPARE(list.count(), CLanguageList::kCapacity);
        QCOMPARE(list.entries().back().fileName, QStringLiteral("lang099.so"));

        QMenu configuration;
        QMenu* languages = list.AppendMenu(&configuration, nullptr);
        QCOMPARE(languages->actions().size(), CLanguageList::kCapacity);
        QCOMPARE(languages->actions().last()->data().toInt(), 37475);
    }

    // QLibrary objects of one file share one handle: neither the search nor a
    // second user of a language library may unload it from under its holder.
    void librariesInUseStayLoaded()
    {
        testsupport::TestEnvironment env;
        ProgramFolder folder;
        QVERIFY(folder.copy(testLibrary(QStringLiteral("Other.so")), QStringLiteral("Other.so")));
        QVERIFY(folder.copy(testLibrary(QStringLiteral("NoExport.so")), QStringLiteral("NoExport.so")));

        // Held by someone else (as the component layer holds the control module).
        QLibrary holder(folder.file(QStringLiteral("NoExport.so")));
        QVERIFY(holder.load());
        QLibrary other(folder.file(QStringLiteral("Other.so")));
        QVERIFY(other.load());
        {
            CLanguageList list;
            QVERIFY(list.Search(folder.path(), QStringLiteral("Other")));
        }
        QVERIFY(holder.isLoaded());
        QVERIFY(holder.resolve("GetLanguageName"));
        QVERIFY(other.isLoaded());
        QVERIFY(other.resolve("GetLanguageNameForTermset"));
        holder.unload();
        other.unload();

        // One provider per file while it lives.
        auto first = resources::LibraryLanguage::load(folder.file(QStringLiteral("Other.so")));
        auto second = resources::LibraryLanguage::load(folder.path() + QStringLiteral("./Other.so"));
        QVERIFY(first);
        QCOMPARE(first, second);
        first.reset();
        QCOMPARE(second->lookup({resources::Kind::String, 175, 0}), kOther175);
    }

};

QTEST_MAIN(TestLanguageList)
#include "tst_language_list.moc"
