// An installed Termset: the program folder lib/termset is shared, so the
// user's default.act and transfer log live in the per-user folders; the
// control is found in the system registry after the per-user one, and a
// user's registration of another module is left alone.

#include "SheetFixture.h"

#include "shell/CConfiguratorApp.h"
#include "core/CRK40Comm.h"
#include "shell/CRK40CnfPS.h"
#include "shell/CommandIds.h"
#include "platform/component/Registry.h"
#include "platform/resources/Resources.h"
#include "TestBytes.h"

#include <QAction>
#include <QProcess>
#include <QTimer>

namespace {
const QString kProgId = QString::fromLatin1(CRK40Comm::kProgId);
}

class TestInstalled : public QObject {
    Q_OBJECT

    std::unique_ptr<SheetFixture> f;

    QString userDefault() const { return f->env.path("data/Veltrona/Termset/default.act"); }
    QString installedFolder() const { return f->env.path("usr/lib/termset"); }

private slots:
    void init()
    {
        f = std::make_unique<SheetFixture>();
        QVERIFY2(f->registered, qPrintable(f->registerError));
        QDir().mkpath(installedFolder());
        apppaths::setProgramFolder(installedFolder());
    }
    void cleanup()
    {
        CRK40Comm::setOwnModule({});
        f.reset();
    }

    void defaultFileAndLogGoToTheUser()
    {
        // The shipped default is what a new user starts with.
        writeShipped("20 1111\r\n");
        auto sheet = std::make_unique<CRK40CnfPS>();
        sheet->OnInitDialog();
        QCOMPARE(sheet->registerImage().word(20), QString("1111"));

        f->prompter.messages.clear();
        sheet->registerImage().setWord(20, "2222");
        sheet->action(cmd::kSaveAsDefault)->trigger();
        QCOMPARE(f->prompter.messageTexts().size(), 1);
        QCOMPARE(f->prompter.messages[0].look, ui::Look::Information);  // string 163
        QVERIFY(testsupport::readAll(userDefault()).contains("20 2222\r\n"));
        QCOMPARE(testsupport::readAll(installedFolder() + "/default.act"), QByteArray("20 1111\r\n"));

        // The user's own default wins from now on, also for Restore Defaults.
        auto next = std::make_unique<CRK40CnfPS>();
        next->OnInitDialog();
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
        // XDG_DATA_HOME and XDG_STATE_HOME under a plain file: no folder can be made there.
        f->writeProgramFile("plain", "x");
        qputenv("XDG_DATA_HOME", f->programFile("plain").toLocal8Bit());
        qputenv("XDG_STATE_HOME", f->programFile("plain").toLocal8Bit());
        auto sheet = std::make_unique<CRK40CnfPS>();
        sheet->OnInitDialog();
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
            QCOMPARE(runRegctl({"--system", "-s", testsupport::TestEnvironment::controlModulePath()}), 0);
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

private:
    void writeShipped(const QByteArray& text) const
    {
        QFile file(installedFolder() + "/default.act");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    int runRegctl(const QStringList& args) const
    {
        QProcess p;
        p.start(testsupport::TestEnvironment::programFolder() + "/regctl", args);
        if (!p.waitForFinished(120000))
            return -1;
        if (p.exitCode() != 0)
            qWarning("regctl: %s", p.readAllStandardError().constData());
        return p.exitCode();
    }
};

QTEST_MAIN(TestInstalled)
#include "tst_installed.moc"
