// The main sheet with its real pages and control: start-up, menu states,
// passwords, files through the menu commands, the strip, exiting.

#include "SheetFixture.h"

#include "CConfiguratorApp.h"
#include "CRK40CnfPS.h"
#include "CRK40TKPropPage.h"
#include "ClearedActFile.h"
#include "CommandIds.h"
#include "PasswordChecksum.h"
#include "PasswordDialogs.h"
#include "PropertyPage.h"
#include "Resources.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>

#include <memory>

namespace {

QString str(int id) { return resources::loadString(id); }
QString info(int id) { return QStringLiteral("info:") + str(id); }
QString stop(int id) { return QStringLiteral("stop:") + str(id); }
QString plain(int id) { return QStringLiteral("plain:") + str(id); }

// Enabled state of the entries the password and transfers change.
struct MenuStates {
    bool enter, change, serialWrite, remoteWrite, applyMenu, applyButton;
    bool operator==(const MenuStates&) const = default;
};

MenuStates states(const CRK40CnfPS& s)
{
    return {s.action(cmd::kEnterPassword)->isEnabled(), s.action(cmd::kChangePassword)->isEnabled(),
            s.action(cmd::kSerialWrite)->isEnabled(),   s.action(cmd::kRemoteWrite)->isEnabled(),
            s.action(cmd::kApplyToLast)->isEnabled(),   s.applyToLastButton()->isEnabled()};
}

// Answers the password dialog with a text and OK.
std::function<int(QDialog&)> typePassword(const QString& text, QString* seenBefore = nullptr)
{
    return [=](QDialog& d) {
        auto& dlg = dynamic_cast<CPasswordDlg&>(d);
        if (seenBefore)
            *seenBefore = dlg.password();
        dlg.setPassword(text);
        QTest::mouseClick(dlg.findChild<QPushButton*>("1"), Qt::LeftButton);
        return dlg.result();
    };
}

std::function<int(QDialog&)> chooseFile(const QString& path)
{
    return [=](QDialog& d) {
        auto& dlg = dynamic_cast<QFileDialog&>(d);
        dlg.selectFile(path);
        return int(QDialog::Accepted);
    };
}

} // namespace

QT_BEGIN_NAMESPACE
namespace QTest {
template <>
char* toString(const MenuStates& m)
{
    return qstrdup(QString::asprintf("enter=%d change=%d serialWrite=%d remoteWrite=%d applyMenu=%d applyButton=%d",
                                     m.enter, m.change, m.serialWrite, m.remoteWrite, m.applyMenu, m.applyButton)
                       .toLatin1()
                       .constData());
}
} // namespace QTest
QT_END_NAMESPACE

class TestSheet : public QObject {
    Q_OBJECT

    std::unique_ptr<SheetFixture> f;

    std::unique_ptr<CRK40CnfPS> makeSheet(bool init = true)
    {
        auto sheet = std::make_unique<CRK40CnfPS>();
        if (init)
            sheet->OnInitDialog();
        return sheet;
    }

private slots:
    void init()
    {
        f = std::make_unique<SheetFixture>();
        QVERIFY2(f->registered, qPrintable(f->registerError));
    }
    void cleanup()
    {
        f.reset();
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    }

    void firstStartWithoutProfile()
    {
        auto sheet = makeSheet();
        QVERIFY(sheet->hasControl());
        QCOMPARE(f->messages(), QStringList{info(174)});
        QVERIFY(f->prompter.dialogs.isEmpty());
        QCOMPARE(states(*sheet), (MenuStates{false, true, false, false, false, false}));
        QVERIFY(!sheet->isUnlocked());
        for (int a = 10; a <= 39; ++a)
            QCOMPARE(sheet->registerImage().word(a), QString("0000"));
        QCOMPARE(sheet->lastReadText(), str(161));
    }

    void layoutOfTheSheet()
    {
        auto sheet = makeSheet();
        QCOMPARE(sheet->windowTitle(), QString("Veltrona Termset"));
        QTabWidget* tabs = sheet->tabs();
        QCOMPARE(tabs->count(), 8);
        const QStringList titles{"Reader &1", "Reader &2", "Reader &3", "Reader &4",
                                 "&Sensors",  "&Egress",   "&LED",      "&Random"};
        const QList<int> templates{206, 209, 210, 211, 208, 207, 212, 141};
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(tabs->tabText(i), titles[i]);
            QCOMPARE(sheet->pages()[std::size_t(i)]->dialogId(), templates[i]);
        }
        QCOMPARE(tabs->currentIndex(), 0);

        // The strip and the one button.
        QCOMPARE(sheet->findChild<QLabel*>("111")->text(), QString("Last read:"));
        QVERIFY(sheet->findChild<QLabel*>("111")->font().bold());
        QCOMPARE(sheet->findChild<QLabel*>("112")->text(), QString("Not selected"));
        QCOMPARE(sheet->findChild<QPushButton*>("32808")->text(), QString("Apply To Last"));
        QVERIFY(sheet->findChild<QWidget*>("105"));
        for (const char* hidden : {"106", "107", "108", "109"})
            QVERIFY(sheet->findChild<QLabel*>(hidden)->isHidden());
        QStringList buttons;
        for (QPushButton* b : sheet->findChildren<QPushButton*>())
            if (!b->isHidden() && !tabs->isAncestorOf(b))
                buttons << b->text();
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"Apply To Last", "Exit"}));

        // The menu: popups, entries and their identifiers.
        QMenuBar* bar = sheet->menuBar();
        QStringList popups;
        for (QAction* a : bar->actions())
            popups << a->text();
        QCOMPARE(popups, (QStringList{"&File", "&Configuration", "&Help"}));
        const QList<int> ids{32806, 32807, 130, 129, 32803, 57665, 32771, 32772, 32773,
                             32793, 32791, 32792, 32799, 32800, 32808, 32796};
        for (int id : ids) {
            QAction* a = sheet->action(id);
            QVERIFY2(a, qPrintable(QString::number(id)));
            QCOMPARE(a->data().toInt(), id);
            QVERIFY(!a->text().isEmpty());
        }
        QMenu* configuration = bar->actions()[1]->menu();
        QCOMPARE(configuration->actions().last()->text(), QString("Languages"));
        QCOMPARE(configuration->actions().last()->menu(), sheet->languagesMenu());
    }

    void passwordCancelled()
    {
        Profile().setParam1(password::checksumOf("Secret"));
        auto sheet = makeSheet();
        QCOMPARE(f->prompter.dialogs, QStringList{"150"});
        QCOMPARE(f->messages(), QStringList{plain(167)});
        QCOMPARE(states(*sheet), (MenuStates{true, false, false, false, false, false}));
        QVERIFY(!sheet->isUnlocked());

        // The menu entry asks again; the right password unlocks.
        f->prompter.dialogHandlers.push_back(typePassword("Secret"));
        sheet->action(cmd::kEnterPassword)->trigger();
        QVERIFY(sheet->isUnlocked());
        QCOMPARE(states(*sheet), (MenuStates{false, true, true, true, false, false}));
    }

    void wrongPasswordAsksAgainWithTextKept()
    {
        Profile().setParam1(password::checksumOf("Secret"));
        QString seenFirst = "unset", seenSecond;
        f->prompter.dialogHandlers.push_back(typePassword("secret", &seenFirst));
        f->prompter.dialogHandlers.push_back(typePassword("Secret", &seenSecond));
        auto sheet = makeSheet();
        QCOMPARE(seenFirst, QString());
        QCOMPARE(seenSecond, QString("secret"));  // the wrong text is still there
        QCOMPARE(f->messages(), QStringList{stop(166)});
        QVERIFY(sheet->isUnlocked());
        QCOMPARE(states(*sheet), (MenuStates{false, true, true, true, false, false}));
    }

    void passwordsWithTheSameChecksum_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("dad") << "dad" << 0xA469;
        QTest::newRow("haa") << "haa" << 0xA469;
        QTest::newRow("high bits of the profile value") << "dad" << 0x1A469;
    }
    void passwordsWithTheSameChecksum()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        Profile().setParam1(stored);
        f->prompter.dialogHandlers.push_back(typePassword(typed));
        auto sheet = makeSheet();
        QVERIFY(f->prompter.messages.empty());
        QVERIFY(sheet->isUnlocked());
    }

    void emptyPasswordNeverMatches()
    {
        Profile().setParam1(password::checksumOf("Secret"));
        f->prompter.dialogHandlers.push_back(typePassword(""));
        auto sheet = makeSheet();  // then the dialog is cancelled
        QCOMPARE(f->messages(), (QStringList{stop(166), plain(167)}));
        QVERIFY(!sheet->isUnlocked());
    }

    void changePassword()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            auto& dlg = dynamic_cast<CNewPasswordDlg&>(d);
            auto* ok = dlg.findChild<QPushButton*>("1");
            for (const auto& [a, b] : {std::pair<QString, QString>{"", ""}, {"abc", "abd"}, {"aghz", "aghz"}}) {
                dlg.setTexts(a, b);
                QTest::mouseClick(ok, Qt::LeftButton);
                if (dlg.result() == QDialog::Accepted)
                    return int(QDialog::Accepted);
            }
            dlg.setTexts("Secret", "Secret");
            QTest::mouseClick(ok, Qt::LeftButton);
            return dlg.result();
        });
        sheet->action(cmd::kChangePassword)->trigger();
        QCOMPARE(f->messages(), (QStringList{plain(168), plain(169), plain(195)}));
        QCOMPARE(Profile().param1(0), int(password::checksumOf("Secret")));
        QVERIFY(sheet->isUnlocked());
        QCOMPARE(states(*sheet), (MenuStates{false, true, true, true, false, false}));

        // The next start asks for it.
        f->prompter.messages.clear();
        f->prompter.dialogHandlers.push_back(typePassword("Secret"));
        auto next = makeSheet();
        QVERIFY(f->prompter.messages.empty());
        QVERIFY(next->isUnlocked());
    }

    void changePasswordCancelledChangesNothing()
    {
        Profile().setParam1(password::checksumOf("Secret"));
        f->prompter.dialogHandlers.push_back(typePassword("Secret"));
        auto sheet = makeSheet();
        sheet->action(cmd::kChangePassword)->trigger();  // no handler: cancelled
        QCOMPARE(Profile().param1(0), int(password::checksumOf("Secret")));
    }

    void unlockingEnablesApplyToLastOnlyForAKnownTerminal()
    {
        auto sheet = makeSheet();
        sheet->lastTerminal().valid = true;
        QCOMPARE(states(*sheet), (MenuStates{false, true, false, false, false, false}));
        f->prompter.dialogHandlers.push_back([](QDialog& d) {
            dynamic_cast<CNewPasswordDlg&>(d).setTexts("pw", "pw");
            d.accept();
            return d.result();
        });
        sheet->action(cmd::kChangePassword)->trigger();
        QCOMPARE(states(*sheet), (MenuStates{false, true, true, true, true, true}));
    }

    void restoreDefaults_data()
    {
        QTest::addColumn<QByteArray>("defaultFile");  // empty: none
        QTest::addColumn<QString>("word10");
        QTest::addColumn<QString>("word11");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("no default.act clears") << QByteArray() << "0000" << "0000" << QStringList();
        QTest::newRow("valid default.act") << QByteArray("10 1234\r\n") << "1234" << "AAAA" << QStringList();
        QTest::newRow("invalid line: message, no clearing")
            << QByteArray("10 1234\r\n40 0000\r\n11 5555\r\n") << "1234" << "AAAA" << QStringList{plain(131)};
    }
    void restoreDefaults()
    {
        QFETCH(QByteArray, defaultFile);
        QFETCH(QString, word10);
        QFETCH(QString, word11);
        QFETCH(QStringList, messages);
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        for (int a = 10; a <= 39; ++a)
            sheet->registerImage().setWord(a, "AAAA");
        if (!defaultFile.isEmpty())
            f->writeProgramFile("default.act", defaultFile);
        sheet->action(cmd::kRestoreDefaults)->trigger();
        QCOMPARE(sheet->registerImage().word(10), word10);
        QCOMPARE(sheet->registerImage().word(11), word11);
        QCOMPARE(f->messages(), messages);
    }

    void saveAsDefaultIsLoadedAtStart()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        sheet->registerImage().setWord(20, "beef");
        sheet->registerImage().setWord(10, "0100");
        sheet->action(cmd::kSaveAsDefault)->trigger();
        QCOMPARE(f->messages(), QStringList{info(163)});
        QByteArray expected = clearedActFile();
        expected.replace("20 0000", "20 BEEF").replace("10 0000", "10 0100");
        QCOMPARE(f->readFile(f->programFile("default.act")), expected);

        f->prompter.messages.clear();
        auto next = makeSheet();
        QCOMPARE(next->registerImage().word(20), QString("BEEF"));
        // The showing page (Reader 1) shows word 10's registration box ticked.
        QVERIFY(next->pages()[0]->findChild<QCheckBox*>("1045")->isChecked());
    }

    void saveAsDefaultFailure()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        // A folder where the file should be: it cannot be created.
        QVERIFY(QDir().mkpath(f->programFile("default.act")));
        sheet->action(cmd::kSaveAsDefault)->trigger();
        QCOMPARE(f->messages(), QStringList{stop(164)});
    }

    void invalidDefaultAtStart()
    {
        f->writeProgramFile("default.act", "12 00FF\r\n9 0000\r\n");
        auto sheet = makeSheet();
        QCOMPARE(f->messages(), (QStringList{info(174), plain(131)}));
        QCOMPARE(sheet->registerImage().word(12), QString("00FF"));
        QCOMPARE(sheet->registerImage().word(38), QString());  // nothing set it
    }

    void loadAndSaveThroughTheFileDialogs()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        const QString in = f->env.path("in.act");
        {
            QFile file(in);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("39 00ff\n10 0100\n");
        }
        f->prompter.dialogHandlers.push_back(chooseFile(in));
        sheet->action(cmd::kFileLoad)->trigger();
        QCOMPARE(sheet->registerImage().word(39), QString("00FF"));
        QVERIFY(sheet->pages()[0]->findChild<QCheckBox*>("1045")->isChecked());  // refreshed

        QString proposed;
        const QString out = f->env.path("out.act");
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            auto& dlg = dynamic_cast<QFileDialog&>(d);
            proposed = QFileInfo(dlg.selectedFiles().value(0)).fileName();
            dlg.selectFile(out);
            return int(QDialog::Accepted);
        });
        sheet->action(cmd::kFileSaveAs)->trigger();
        QCOMPARE(QFileInfo(proposed).completeBaseName(), QString("config"));
        QByteArray expected = clearedActFile();
        expected.replace("39 0000", "39 00FF").replace("10 0000", "10 0100");
        QCOMPARE(f->readFile(out), expected);
        QVERIFY(f->prompter.messages.empty());
        QCOMPARE(f->prompter.dialogs, (QStringList{"fileOpen", "fileSave"}));
    }

    void badFilesLeaveTheImage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("missing file") << "missing" << QStringList{"stop:open"};
        QTest::newRow("folder") << "folder" << QStringList{"stop:open"};
        QTest::newRow("binary garbage") << "garbage" << QStringList{plain(131)};
    }
    void badFilesLeaveTheImage()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, messages);
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        for (int a = 10; a <= 39; ++a)
            sheet->registerImage().setWord(a, "1234");
        QString path = f->env.path("bad.act");
        if (kind == "folder")
            QVERIFY(QDir().mkpath(path));
        if (kind == "garbage") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray junk(4096, '\0');
            for (int i = 0; i < junk.size(); ++i)
                junk[i] = char((i * 7919) % 251);
            file.write(junk);
        }
        f->prompter.dialogHandlers.push_back(chooseFile(path));
        sheet->action(cmd::kFileLoad)->trigger();
        for (int a = 10; a <= 39; ++a)
            QCOMPARE(sheet->registerImage().word(a), QString("1234"));
        QStringList got = f->messages();
        if (!got.isEmpty() && got[0].startsWith("stop:") && got[0].contains(QDir::toNativeSeparators(path)))
            got[0] = "stop:open";
        QCOMPARE(got, messages);
    }

    void saveAsFailureKeepsTheEarlierFile()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        const QString path = f->env.path("folder.act");
        QVERIFY(QDir().mkpath(path));
        f->prompter.dialogHandlers.push_back(chooseFile(path));
        sheet->action(cmd::kFileSaveAs)->trigger();
        QCOMPARE(f->prompter.messages.size(), std::size_t(1));
        QCOMPARE(f->prompter.messages[0].look, ui::Look::Stop);
        QVERIFY(QFileInfo(path).isDir());
    }

    void clearSetsEveryWord()
    {
        auto sheet = makeSheet();
        for (int a = 10; a <= 39; ++a)
            sheet->registerImage().setWord(a, "FFFF");
        sheet->action(cmd::kClear)->trigger();
        for (int a = 10; a <= 39; ++a)
            QCOMPARE(sheet->registerImage().word(a), QString("0000"));
        QVERIFY(!sheet->pages()[0]->findChild<QCheckBox*>("1045")->isChecked());
    }

    void transferLogInTheProgramFolder()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        sheet->setLogClock([] { return QDateTime(QDate(2026, 12, 6), QTime(5, 4, 31)); });
        sheet->AppendTransferLog(3, "None", 0);
        sheet->AppendTransferLog(3, "None", 0);
        QCOMPARE(f->readFile(f->programFile("log")),
                 QByteArray("06.12.2026. 05:04:31   COM_PORT: 03   REMOTE: None:00000\r\n"
                            "06.12.2026. 05:04:31   COM_PORT: 03   REMOTE: None:00000\r\n"));
        QVERIFY(f->prompter.messages.empty());

        QVERIFY(QFile::remove(f->programFile("log")));
        QVERIFY(QDir().mkpath(f->programFile("log")));  // a folder in the way
        sheet->AppendTransferLog(3, "None", 0);
        QCOMPARE(f->prompter.messages.size(), std::size_t(1));
        QCOMPARE(f->prompter.messages[0].look, ui::Look::Stop);
    }

    void exitPaths_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Exit button") << "button";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close box") << "close";
        QTest::newRow("File Exit") << "menu";
    }
    void exitPaths()
    {
        QFETCH(QString, how);
        auto sheet = makeSheet();
        sheet->show();
        QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
        if (how == "button")
            QTest::mouseClick(sheet->findChild<QPushButton*>("2"), Qt::LeftButton);
        else if (how == "escape")
            QTest::keyClick(sheet.get(), Qt::Key_Escape);
        else if (how == "close")
            sheet->close();
        else
            sheet->action(cmd::kExit)->trigger();
        QVERIFY(!sheet->isVisible());
        QCOMPARE(sheet->result(), int(QDialog::Rejected));
    }

    void aboutBox()
    {
        auto sheet = makeSheet();
        QString version, title;
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            title = d.windowTitle();
            version = d.findChild<QLabel*>("1002")->text();
            return int(QDialog::Accepted);
        });
        sheet->action(cmd::kAbout)->trigger();
        QCOMPARE(f->prompter.dialogs.last(), QString("100"));
        QCOMPARE(title, QString("About Termset"));
        QCOMPARE(version, QString("1.4.0"));
    }

    void programWithoutControlSaysSoAndEnds()
    {
        f.reset();
        f = std::make_unique<SheetFixture>(false);
        CConfiguratorApp app;
        QCOMPARE(app.Run(), 1);
        const QStringList texts = f->prompter.messageTexts();
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0], QString("No languages found, or no default language library found.\nUsing English."));
        QVERIFY2(texts[1].startsWith("The communication control RK40COMM cannot be created:"), qPrintable(texts[1]));
        QCOMPARE(f->prompter.messages[1].look, ui::Look::Stop);
        QVERIFY(f->prompter.dialogs.isEmpty());
    }

    void remoteCommandsWithoutNetworkDialog()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        for (int id : {cmd::kRemoteStatus, cmd::kRemoteRead})
            sheet->action(id)->trigger();
        QCOMPARE(f->messages(), (QStringList{plain(190), plain(190)}));

        int mode = -1;
        sheet->setNetworkDialogRunner([&](ISheetServices&, int m) { mode = m; });
        sheet->action(cmd::kRemoteRead)->trigger();
        QCOMPARE(mode, 0);
        sheet->action(cmd::kRemoteStatus)->trigger();
        QCOMPARE(mode, 2);
    }
};

QTEST_MAIN(TestSheet)
#include "tst_sheet.moc"
