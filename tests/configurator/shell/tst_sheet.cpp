// The main sheet with its real pages and control: start-up, menu states,
// passwords, files through the menu commands, the strip, exiting.

#include "SheetFixture.h"

#include "shell/CConfiguratorApp.h"
#include "shell/CRK40CnfPS.h"
#include "pages/CRK40TKPropPage.h"
#include "shell/CommandIds.h"
#include "core/PasswordChecksum.h"
#include "shell/PasswordDialogs.h"
#include "pages/PropertyPage.h"
#include "platform/resources/Resources.h"
#include "TestBytes.h"

#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>

#include <memory>

namespace {

QString str(int id) { return resources::loadString(id); }
QString info(int id) { return QStringLiteral("info:") + str(id); }
QString stop(int id) { return QStringLiteral("stop:") + str(id); }
QString plain(int id) { return QStringLiteral("plain:") + str(id); }

// The entries the password and transfers enable, as "enter change
// serialWrite remoteWrite applyMenu applyButton" less the disabled ones.
QString enabled(const CRK40CnfPS& s)
{
    const std::pair<const char*, bool> entries[] = {
        {"enter", s.action(cmd::kEnterPassword)->isEnabled()}, {"change", s.action(cmd::kChangePassword)->isEnabled()},
        {"serialWrite", s.action(cmd::kSerialWrite)->isEnabled()}, {"remoteWrite", s.action(cmd::kRemoteWrite)->isEnabled()},
        {"applyMenu", s.action(cmd::kApplyToLast)->isEnabled()}, {"applyButton", s.applyToLastButton()->isEnabled()}};
    QStringList on;
    for (const auto& [name, isOn] : entries)
        if (isOn)
            on << QString::fromLatin1(name);
    return on.join(QLatin1Char(' '));
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
        QCOMPARE(enabled(*sheet), QString("change"));
        QCOMPARE(sheet->registerImage().word(39), QString("0000"));
        QCOMPARE(sheet->lastReadText(), str(161));
    }

    // A wrong or empty password is refused and asked again with its text
    // kept; Cancel leaves the sheet locked until Enter Password succeeds.
    void passwordAtStart()
    {
        QVERIFY(Profile().setParam1(password::checksumOf("Secret")));
        QString seenSecond;
        f->prompter.dialogHandlers.push_back(typePassword("secret"));
        f->prompter.dialogHandlers.push_back(typePassword("", &seenSecond));
        auto sheet = makeSheet();  // the third dialog is cancelled
        QCOMPARE(seenSecond, QString("secret"));
        QCOMPARE(f->prompter.dialogs, (QStringList{"150", "150", "150"}));
        QCOMPARE(f->messages(), (QStringList{stop(166), stop(166), plain(167)}));
        QCOMPARE(enabled(*sheet), QString("enter"));

        f->prompter.dialogHandlers.push_back(typePassword("Secret"));
        sheet->action(cmd::kEnterPassword)->trigger();
        QVERIFY(sheet->isUnlocked());
        QCOMPARE(enabled(*sheet), QString("change serialWrite remoteWrite"));
    }

    void changePassword()
    {
        auto sheet = makeSheet();
        sheet->lastTerminal().valid = true;
        f->prompter.messages.clear();
        sheet->action(cmd::kChangePassword)->trigger();  // no handler: cancelled
        QCOMPARE(Profile().param1(0), 0);
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            auto& dlg = dynamic_cast<CNewPasswordDlg&>(d);
            for (const auto& [a, b] : {std::pair<QString, QString>{"", ""}, {"abc", "abd"}, {"aghz", "aghz"}, {"Secret", "Secret"}}) {
                dlg.setTexts(a, b);
                QTest::mouseClick(dlg.findChild<QPushButton*>("1"), Qt::LeftButton);
            }
            return dlg.result();
        });
        sheet->action(cmd::kChangePassword)->trigger();
        QCOMPARE(f->messages(), (QStringList{plain(168), plain(169), plain(195)}));
        QCOMPARE(Profile().param1(0), int(password::checksumOf("Secret")));
        // Unlocked, and Apply To Last with it since a terminal is known.
        QCOMPARE(enabled(*sheet), QString("change serialWrite remoteWrite applyMenu applyButton"));

        // The next start asks for it.
        f->prompter.messages.clear();
        f->prompter.dialogHandlers.push_back(typePassword("Secret"));
        auto next = makeSheet();
        QVERIFY(f->prompter.messages.empty());
        QVERIFY(next->isUnlocked());

        // A profile that cannot be written keeps no password: the file is
        // named, and nothing is unlocked.
        f->writeProgramFile("blocker", "");
        Profile::useFile(f->programFile("blocker/profile.ini"));
        auto locked = makeSheet();
        f->prompter.dialogHandlers.push_back([](QDialog& d) {
            dynamic_cast<CNewPasswordDlg&>(d).setTexts("Other1", "Other1");
            return int(QDialog::Accepted);
        });
        locked->action(cmd::kChangePassword)->trigger();
        QCOMPARE(enabled(*locked), QString("change"));
        QVERIFY2(f->messages().last().startsWith("stop:The setting could not be saved in \"" + f->programFile("blocker")),
                 qPrintable(f->messages().last()));
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

    void loadAndSaveThroughTheFileDialogs()
    {
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        const QString in = f->env.path("in.act");
        testsupport::writeFile(in, "39 00ff\n10 0100\n");
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
        QVERIFY(testsupport::readAll(out).endsWith("38 0000\r\n39 00FF\r\n"));
        QVERIFY(f->prompter.messages.empty());
        QCOMPARE(f->prompter.dialogs, (QStringList{"fileOpen", "fileSave"}));
    }

    void badFilesLeaveTheImage_data()
    {
        QTest::addColumn<QByteArray>("content");  // empty: a folder in the file's place
        QTest::addColumn<QString>("message");
        QTest::newRow("folder") << QByteArray() << "stop:open";
        QTest::newRow("binary garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << plain(131);
    }
    void badFilesLeaveTheImage()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        sheet->registerImage().setWord(10, "1234");
        const QString path = f->env.path("bad.act");
        if (content.isEmpty())
            QVERIFY(QDir().mkpath(path));
        else
            testsupport::writeFile(path, content);
        f->prompter.dialogHandlers.push_back(chooseFile(path));
        sheet->action(cmd::kFileLoad)->trigger();
        QCOMPARE(sheet->registerImage().word(10), QString("1234"));
        QStringList got = f->messages();
        if (got.size() == 1 && got[0].startsWith("stop:") && got[0].contains(QDir::toNativeSeparators(path)))
            got[0] = "stop:open";
        QCOMPARE(got, QStringList{message});

        // Saving into a folder fails the same way and leaves it.
        f->prompter.messages.clear();
        QVERIFY(QDir().mkpath(f->env.path("folder.act")));
        f->prompter.dialogHandlers.push_back(chooseFile(f->env.path("folder.act")));
        sheet->action(cmd::kFileSaveAs)->trigger();
        QCOMPARE(f->prompter.messages.size(), std::size_t(1));
        QCOMPARE(f->prompter.messages[0].look, ui::Look::Stop);
    }

    void exitPaths()
    {
        const std::pair<const char*, std::function<void(CRK40CnfPS&)>> ways[] = {
            {"Exit button", [](CRK40CnfPS& s) { QTest::mouseClick(s.findChild<QPushButton*>("2"), Qt::LeftButton); }},
            {"Escape", [](CRK40CnfPS& s) { QTest::keyClick(&s, Qt::Key_Escape); }},
            {"close box", [](CRK40CnfPS& s) { s.close(); }},
            {"File Exit", [](CRK40CnfPS& s) { s.action(cmd::kExit)->trigger(); }},
        };
        for (const auto& [how, exit] : ways) {
            auto sheet = makeSheet();
            sheet->show();
            QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
            exit(*sheet);
            QVERIFY2(!sheet->isVisible(), how);
            QCOMPARE(sheet->result(), int(QDialog::Rejected));
        }
    }

    void aboutBox()
    {
        auto sheet = makeSheet();
        QString version;
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            version = d.findChild<QLabel*>("1002")->text();
            return int(QDialog::Accepted);
        });
        sheet->action(cmd::kAbout)->trigger();
        QCOMPARE(f->prompter.dialogs.last(), QString("100"));
        QCOMPARE(version, QString("1.4.0"));   // without the build number
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
};

QTEST_MAIN(TestSheet)
#include "tst_sheet.moc"
