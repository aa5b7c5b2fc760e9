// Termset's start with language libraries in its program folder: the
// message without a library, the texts of the chosen library on the pages,
// menus and messages, the Languages popup, and the cycling fields storing
// the same words in every language.

#include "core/AppPaths.h"
#include "shell/CConfiguratorApp.h"
#include "shell/CLanguageList.h"
#include "shell/CRK40CnfPS.h"
#include "pages/CyclingEdit.h"
#include "LanguageTestSupport.h"
#include "pages/PropertyPage.h"
#include "core/Profile.h"
#include "RecordingPrompter.h"
#include "core/RegisterImage.h"
#include "platform/component/Registry.h"
#include "platform/resources/Resources.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTabWidget>
#include <QTest>

#include <memory>

namespace {

const QString kNoLanguage = QStringLiteral("No languages found, or no default language library found.\nUsing English.");
const QString kShipped[] = {QStringLiteral("Termset-English.so"), QStringLiteral("Termset-Magyar.so"),
                            QStringLiteral("Termset-Hrvatski.so")};

// One start of Termset in a world of its own, up to the initialised sheet.
struct Start {
    testsupport::TestEnvironment env;
    testsupport::RecordingPrompter prompter;
    langtest::ProgramFolder folder;
    std::unique_ptr<CConfiguratorApp> app;
    CLanguageList* list = nullptr;
    std::unique_ptr<CRK40CnfPS> sheet;

    // `language`: the profile value "Language" (null: not set).
    // `libraries`: the shipped libraries to put into the program folder.
    // `control`: where the control module is registered from.
    enum class Control {
        BuildFolder,        // the built module, outside the program folder
        ProgramFolder,      // a copy in the program folder, registered (and so loaded) by this process
        ProgramFolderTool,  // a copy in the program folder, registered by regctl: first loaded by the search
    };
    bool run(const QString& language, const QStringList& libraries, Control control = Control::BuildFolder)
    {
        QString error = QStringLiteral("regctl failed");
        const QString module = folder.file(QStringLiteral("libRK40COMM.so"));
        if (control != Control::BuildFolder
            && !folder.copy(testsupport::TestEnvironment::controlModulePath(), QStringLiteral("libRK40COMM.so")))
            return false;
        const bool registered = control == Control::BuildFolder ? env.registerControl(&error)
                              : control == Control::ProgramFolder
                                  ? component::succeeded(component::registerModule(module, false, &error))
                                  : QProcess::execute(langtest::builtLibrary(QStringLiteral("regctl")), {module}) == 0;
        if (!registered) {
            qWarning("control not registered from %s: %s", qPrintable(module), qPrintable(error));
            return false;
        }
        for (const QString& lib : libraries)
            if (!folder.copy(langtest::builtLibrary(lib), lib))
                return false;
        apppaths::setProgramFolder(folder.path());
        Profile::useFile(env.path(QStringLiteral("profile.ini")));
        if (!language.isNull() && !Profile().setLanguage(language))
            return false;

        app = std::make_unique<CConfiguratorApp>();
        list = &app->languageList();
        app->InitInstance();
        sheet = app->CreateSheet();
        if (!sheet->hasControl()) {
            qWarning("no control: %s", qPrintable(sheet->controlError()));
            return false;
        }
        sheet->show();
        sheet->OnInitDialog();
        return true;
    }

    ~Start()
    {
        sheet.reset();
        if (app)
            app->ExitInstance();
        app.reset();
        resources::setLanguageProvider(nullptr);
        Profile::useFile({});
        apppaths::setProgramFolder({});
    }


    QStringList languageItems() const
    {
        QStringList out;
        if (QMenu* m = sheet->languagesMenu()) {
            emit m->aboutToShow();
            for (const QAction* a : m->actions())
                out << a->text() + (a->isChecked() ? QStringLiteral("*") : QString());
        }
        return out;
    }

    // The same edits whatever the language: steps on the Reader 1 page, menu
    // choices on the LED page. Returns the words 10..39 afterwards.
    QStringList editAndReadWords()
    {
        auto* reader1 = sheet->pages().at(0);
        const auto fields = reader1->findChildren<CCyclingEdit*>();
        for (qsizetype k = 0; k < fields.size(); ++k) {
            for (qsizetype n = 0; n <= k % 3; ++n)
                QTest::keyClick(fields[k], k % 2 ? Qt::Key_Down : Qt::Key_Up);
        }
        sheet->tabs()->setCurrentIndex(6);  // LED
        const auto leds = sheet->pages().at(6)->findChildren<CCyclingEdit*>();
        for (qsizetype k = 0; k < leds.size(); ++k) {
            const auto items = leds[k]->menuItems();
            leds[k]->OnCommand(items[static_cast<std::size_t>(k) % items.size()].command);
        }
        sheet->tabs()->setCurrentIndex(0);
        QStringList words;
        for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
            words << sheet->registerImage().word(a);
        return words;
    }
};

} // namespace

class TestLanguageStartup : public QObject {
    Q_OBJECT
private slots:
    void withoutTheLanguageSaysSoAndRunsInEnglish_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("libraries");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("no library") << QString() << QStringList() << QStringList();
        QTest::newRow("profile names a missing language")
            << QStringLiteral("Deutsch") << QStringList{kShipped[0], kShipped[1]}
            << QStringList{QStringLiteral("English"), QStringLiteral("Magyar")};
    }

    void withoutTheLanguageSaysSoAndRunsInEnglish()
    {
        QFETCH(QString, language);
        QFETCH(QStringList, libraries);
        QFETCH(QStringList, items);
        Start start;
        QVERIFY(start.run(language, libraries));
        QCOMPARE(start.prompter.messageTexts().value(0), kNoLanguage);
        QCOMPARE(start.prompter.messages.front().look, ui::Look::Plain);
        QVERIFY(!resources::languageProvider());
        QCOMPARE(start.sheet->windowTitle(), QStringLiteral("Veltrona Termset"));
        QCOMPARE(start.languageItems(), items);
    }

    void shippedLibrariesStartInEnglishWithoutMessage_data()
    {
        QTest::addColumn<int>("control");
        QTest::newRow("control module elsewhere") << int(Start::Control::BuildFolder);
        QTest::newRow("control module in the folder, in use") << int(Start::Control::ProgramFolder);
        QTest::newRow("control module in the folder, not yet loaded") << int(Start::Control::ProgramFolderTool);
    }

    void shippedLibrariesStartInEnglishWithoutMessage()
    {
        QFETCH(int, control);
        Start start;
        // Where the control module sits beside them, as in the real program
        // folder, the search looks at it before the sheet creates the control.
        QVERIFY(start.run(QString(), QStringList(std::begin(kShipped), std::end(kShipped)), Start::Control(control)));
        QVERIFY(!start.prompter.messageTexts().contains(kNoLanguage));
        QCOMPARE(start.languageItems(),
                 (QStringList{QStringLiteral("English*"), QStringLiteral("Hrvatski"), QStringLiteral("Magyar")}));
        QCOMPARE(start.list->entries()[static_cast<std::size_t>(start.list->loadedIndex())].fileName,
                 QStringLiteral("Termset-English.so"));
    }

    void hungarianStart()
    {
        Start start;
        QVERIFY(start.run(QStringLiteral("Magyar"), QStringList(std::begin(kShipped), std::end(kShipped))));
        const auto magyar = resources::LibraryLanguage::load(langtest::builtLibrary(QStringLiteral("Termset-Magyar.so")));
        QVERIFY(magyar);
        auto hu = [&](resources::Kind kind, int id, int sub) { return magyar->lookup({kind, id, sub}); };
        using resources::Kind;

        // No "using English" message; the no-password notice in Hungarian.
        QCOMPARE(start.prompter.messageTexts(), QStringList{hu(Kind::String, 174, 0)});
        QVERIFY(hu(Kind::String, 174, 0) != resources::englishTable().at({Kind::String, 174, 0}));

        QCOMPARE(start.sheet->windowTitle(), hu(Kind::String, 102, 0));
        QCOMPARE(start.sheet->tabs()->tabText(7), hu(Kind::Dialog, 141, 0));
        const QList<QAction*> bar = start.sheet->menuBar()->actions();
        QCOMPARE(bar.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(bar[i]->text(), hu(Kind::Menu, 149, i + 1));
        QCOMPARE(start.sheet->action(32799)->text(), hu(Kind::Menu, 149, 32799));
        QCOMPARE(start.languageItems(),
                 (QStringList{QStringLiteral("English"), QStringLiteral("Hrvatski"), QStringLiteral("Magyar*")}));
    }

    void cyclingFieldsStoreTheSameWordsInEveryLanguage()
    {
        QStringList english, shown;
        for (const QString& language : {QStringLiteral("English"), QStringLiteral("Magyar"), QStringLiteral("Hrvatski")}) {
            Start start;
            QVERIFY(start.run(language, QStringList(std::begin(kShipped), std::end(kShipped))));
            QCOMPARE(start.list->currentLanguage(), language);
            QVERIFY(start.list->isLoaded());
            const QStringList words = start.editAndReadWords();
            QCOMPARE(words.size(), image::kWordCount);
            if (english.isEmpty()) {
                english = words;
                // The edits did change the rows of Reader 1 and the LED word.
                QVERIFY2(words.first() != QStringLiteral("0000"), qPrintable(words.join(' ')));
                QVERIFY2(words.at(image::kLedWord - image::kFirstWord) != QStringLiteral("0000"), qPrintable(words.join(' ')));
            } else {
                QCOMPARE(words, english);
            }
            shown << start.sheet->pages().at(0)->findChildren<CCyclingEdit*>().value(0)->text();
        }
        // The fields did show the texts of each language.
        QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), 3);
    }

    void screenshots_data()
    {
        QTest::addColumn<QString>("language");
        for (const char* l : {"English", "Magyar", "Hrvatski"})
            QTest::newRow(l) << QString::fromLatin1(l);
    }

    // Pictures of a page in each language, for people to look at. Only when
    // TERMSET_SCREENSHOT_DIR names a folder.
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("TERMSET_SCREENSHOT_DIR is not set");
        QFETCH(QString, language);
        Start start;
        QVERIFY(start.run(language, QStringList(std::begin(kShipped), std::end(kShipped))));
        start.sheet->resize(start.sheet->sizeHint().expandedTo(start.sheet->size()));
        start.editAndReadWords();  // every kind of field text on show
        for (int tab : {0, 4, 7}) {
            start.sheet->tabs()->setCurrentIndex(tab);
            QApplication::processEvents();
            const QString file = QStringLiteral("%1/%2-page%3.png").arg(dir, language).arg(tab + 1);
            QVERIFY2(start.sheet->grab().save(file), qPrintable(file));
        }
        // The Configuration menu with the Languages popup.
        QMenu* configuration = start.sheet->menuBar()->actions().at(1)->menu();
        configuration->popup(start.sheet->mapToGlobal(QPoint(40, 20)));
        QApplication::processEvents();
        QVERIFY(configuration->grab().save(QStringLiteral("%1/%2-menu.png").arg(dir, language)));
        configuration->close();
    }
};

QTEST_MAIN(TestLanguageStartup)
#include "tst_language_startup.moc"
