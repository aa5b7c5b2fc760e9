// The main sheet with its real pages and control: start-up, menu states,
// passwords, files through the menu commands, the strip, exiting. An
// installed Termset: the program folder lib/termset is shared, so the user's
// default.act and transfer log live in the per-user folders; the control is
// found in the system registry after the per-user one, and a user's
// registration of another module is left alone. The port dialog over
// recorded device descriptions.

#include "SheetFixture.h"

#include "shell/CConfiguratorApp.h"
#include "shell/CRK40CnfPS.h"
#include "shell/CommandIds.h"
#include "core/PasswordChecksum.h"
#include "shell/PasswordDialogs.h"
#include "platform/resources/Resources.h"
#include "RunProgram.h"
#include "core/CRK40Comm.h"
#include "shell/TransferDialogs.h"
#include "platform/serial/ComPorts.h"
#include "platform/serial/PortDiscovery.h"
#include "platform/serial/PortLocks.h"
#include "platform/component/Registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

const QString kProgId = QString::fromLatin1(CRK40Comm::kProgId);

struct Pty {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    QString slave;
    Pty()
    {
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { ::close(master); }
};

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
        dynamic_cast<QFileDialog&>(d).selectFile(path);
        return int(QDialog::Accepted);
    };
}

} // namespace

class TestSheet : public QObject {
    Q_OBJECT

    std::unique_ptr<SheetFixture> f;

    QString userDefault() const { return f->env.path("data/Veltrona/Termset/default.act"); }
    QString installedFolder() const { return f->env.path("usr/lib/termset"); }

    std::unique_ptr<CRK40CnfPS> makeSheet()
    {
        auto sheet = std::make_unique<CRK40CnfPS>();
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
        CRK40Comm::setOwnModule({});
        f.reset();
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

    void defaultFileAndLogGoToTheUser()
    {
        useInstalledFolder();
        // The shipped default is what a new user starts with.
        testsupport::writeFile(installedFolder() + "/default.act", "20 1111\r\n");
        auto sheet = makeSheet();
        QCOMPARE(sheet->registerImage().word(20), QString("1111"));

        f->prompter.messages.clear();
        sheet->registerImage().setWord(20, "2222");
        sheet->action(cmd::kSaveAsDefault)->trigger();
        QCOMPARE(f->messages(), QStringList{info(163)});
        QVERIFY(testsupport::readAll(userDefault()).contains("20 2222\r\n"));
        QCOMPARE(testsupport::readAll(installedFolder() + "/default.act"), QByteArray("20 1111\r\n"));

        // The user's own default wins from now on, also for Restore Defaults.
        auto next = makeSheet();
        QCOMPARE(next->registerImage().word(20), QString("2222"));
        next->registerImage().setWord(20, "0000");
        next->action(cmd::kRestoreDefaults)->trigger();
        QCOMPARE(next->registerImage().word(20), QString("2222"));

        f->prompter.messages.clear();
        next->setLogClock([] { return QDateTime(QDate(2026, 12, 6), QTime(5, 4, 31)); });
        next->AppendTransferLog(3, "None", 0);
        QVERIFY(f->prompter.messages.empty());
        QVERIFY(testsupport::readAll(f->env.path("state/Veltrona/Termset/log")).startsWith("06.12.2026. 05:04:31   COM_PORT: 03"));
        QVERIFY(!QFile::exists(installedFolder() + "/log"));
    }

    void perUserFolderThatCannotBeMade()
    {
        useInstalledFolder();
        // XDG_DATA_HOME and XDG_STATE_HOME under a plain file: no folder can be made there.
        f->writeProgramFile("plain", "x");
        qputenv("XDG_DATA_HOME", f->programFile("plain").toLocal8Bit());
        qputenv("XDG_STATE_HOME", f->programFile("plain").toLocal8Bit());
        auto sheet = makeSheet();
        f->prompter.messages.clear();
        sheet->action(cmd::kSaveAsDefault)->trigger();
        sheet->AppendTransferLog(3, "None", 0);
        QCOMPARE(f->prompter.messages.size(), std::size_t(2));
        QCOMPARE(f->prompter.messages[0].text, resources::loadString(164));
        QCOMPARE(f->prompter.messages[1].look, ui::Look::Stop);
    }

    // Where the control is looked up: the per-user registry, then the system one.
    void registryOrder_data()
    {
        QTest::addColumn<bool>("user");
        QTest::addColumn<bool>("system");
        QTest::addColumn<bool>("created");
        QTest::newRow("per-user only") << true << false << true;
        QTest::newRow("system only") << false << true << true;
        QTest::newRow("neither") << false << false << false;
    }
    void registryOrder()
    {
        QFETCH(bool, user);
        QFETCH(bool, system);
        QFETCH(bool, created);
        QFile::remove(component::Registry::defaultPath());
        if (system)
            QCOMPARE(testsupport::runProgram("regctl", {"--system", "-s", testsupport::TestEnvironment::controlModulePath()}).status, 0);
        QVERIFY(QFile::exists(f->env.path("sysconfig/Veltrona/components.ini")) == system);
        if (user)
            QVERIFY(f->env.registerControl());
        QVERIFY(!QFile::exists(component::Registry::defaultPath()) || user);

        component::HRESULT hr = component::S_OK;
        QString error;
        const bool made = component::createControl(kProgId, &hr, &error) != nullptr;
        QCOMPARE(made, created);
        if (!created) {
            QCOMPARE(hr, component::REGDB_E_CLASSNOTREG);
            QVERIFY2(error.contains(f->env.path("sysconfig/Veltrona/components.ini")), qPrintable(error));
        }
    }

    // A registration naming another module is the user's: it stays.
    void otherRegistrationStays()
    {
        component::Registry user;
        const QString clsid = user.value("ProgID/" + kProgId, "CLSID").toString();
        user.setValue("CLSID/" + clsid, "InprocServer32", f->env.path("elsewhere/libRK40COMM.so"));
        QVERIFY(user.save());
        CRK40Comm::setOwnModule(testsupport::TestEnvironment::controlModulePath());
        CRK40Comm comm;
        QVERIFY(!comm.Create());
        QCOMPARE(component::Registry().value("CLSID/" + clsid, "InprocServer32").toString(),
                 f->env.path("elsewhere/libRK40COMM.so"));
    }

    // "Termset FILE.act" (a double-click on the file): the file is loaded
    // once the sheet is up, over default.act, as File, Load would.
    void fileNamedOnTheCommandLine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("word20");
        QTest::addColumn<int>("stopMessages");
        QTest::newRow("configuration file") << "open.act" << "3333" << 0;
        QTest::newRow("missing file") << "missing.act" << "1111" << 1;  // string 192, default stays
    }
    void fileNamedOnTheCommandLine()
    {
        QFETCH(QString, file);
        QFETCH(QString, word20);
        QFETCH(int, stopMessages);
        apppaths::setProgramFolder(f->env.path("program"));
        f->writeProgramFile("default.act", "20 1111\r\n21 2222\r\n");
        f->writeProgramFile("open.act", "20 3333\r\n");
        CConfiguratorApp app;
        app.setLanguageSearch({});
        app.setStartupFile(f->programFile(file));
        QStringList seen;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* sheet = dynamic_cast<CRK40CnfPS*>(w); sheet && sheet->isVisible()) {
                    seen << sheet->registerImage().word(20) << sheet->registerImage().word(21);
                    sheet->reject();
                }
            }
        });
        QCOMPARE(app.Run(), 0);
        QCOMPARE(seen, (QStringList{word20, "2222"}));
        int stops = 0;
        for (const auto& m : f->prompter.messages)
            stops += m.look == ui::Look::Stop ? 1 : 0;
        QCOMPARE(stops, stopMessages);
    }

    // The port dialog: each COM name with its device and description, grey
    // names with the reason as their tool tip, and assigning a detected
    // device to a COM name. Pseudo-terminals stand in for the adapters,
    // described as real ones were; nothing is opened by the dialog.
    void slotsDescribedProbedAndAssigned()
    {
        Pty ftdi, ch340, cp210x;
        serial::setEnumerationSource([&] {
            return QList<serial::PortDescription>{
                {ftdi.slave, "", 0x0403, 0x6001, "FTDI", "FT232R USB UART", "A1B2C3", -1},
                {ch340.slave, "", 0x1a86, 0x7523, "QinHeng Electronics", "USB Serial", "", -1},
                {cp210x.slave, "", 0x10c4, 0xea60, "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001", -1},
                {"/dev/ttyS7", "", std::nullopt, std::nullopt, "", "", "", 0},  // no UART: left out
            };
        });
        {
            QSettings ini(serial::portsFilePath(), QSettings::IniFormat);
            ini.setValue("Ports/COM4", "/dev/does-not-exist-rk40");
            ini.setValue("Ports/COM5", "/dev/null");
        }
        // The CH340 (COM2 by detection order) is held by minicom.
        QProcess minicom;
        minicom.start("sleep", {"60"});
        QVERIFY(minicom.waitForStarted());
        testsupport::writeFile(QDir(qEnvironmentVariable("RK40_LOCK_DIR")).filePath(serial::lockFileName(ch340.slave)),
                               QByteArray::number(minicom.processId()).rightJustified(10, ' ') + " minicom root\n");

        CPortDlg dlg;
        dlg.show();
        QCOMPARE(dlg.portIndex(), 0);
        QVERIFY(dlg.slotText(0)->text().contains("FTDI FT232R USB UART, serial A1B2C3"));
        QVERIFY(dlg.slotText(0)->text().startsWith(ftdi.slave));
        QStringList tips;   // of COM2..COM6, each greyed with its reason or enabled
        for (int i = 1; i <= 5; ++i)
            tips << (dlg.radio(i)->isEnabled() ? QString("enabled") : dlg.radio(i)->toolTip());
        QCOMPARE(tips, (QStringList{QString("COM2: %1 is in use by minicom (process %2)").arg(ch340.slave).arg(minicom.processId()),
                                    "enabled", "COM4: /dev/does-not-exist-rk40 does not exist (is the device plugged in?)",
                                    "COM5: /dev/null is not a serial device", "COM6: no serial device is assigned to it"}));
        QVERIFY(dlg.slotText(2)->text().contains("Silicon Labs CP2102"));

        // The CP210x goes to COM1: stored in ports.ini, shown beside it.
        QCOMPARE(dlg.detectedList()->count(), 3);
        dlg.detectedList()->setCurrentIndex(2);
        dlg.radio(0)->click();
        QTest::mouseClick(dlg.assignButton(), Qt::LeftButton);
        QCOMPARE(QSettings(serial::portsFilePath(), QSettings::IniFormat).value("Ports/COM1").toString(), cp210x.slave);
        QVERIFY(dlg.slotText(0)->text().contains("Silicon Labs CP2102"));
        QCOMPARE(dlg.portIndex(), 0);
        QVERIFY(f->prompter.messages.empty());

        minicom.kill();
        minicom.waitForFinished();
        serial::setEnumerationSource({});
    }

private:
    // An installed program: its folder shared, under /usr/lib/termset.
    void useInstalledFolder() const
    {
        QDir().mkpath(installedFolder());
        apppaths::setProgramFolder(installedFolder());
    }
};

QTEST_MAIN(TestSheet)
#include "tst_sheet.moc"
