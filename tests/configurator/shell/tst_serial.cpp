// Serial status, read, write and Apply To Last end to end: the sheet with its
// real pages and control, the control on a pseudo-terminal, the terminal
// simulator at the far end (COM3).

#include "SheetFixture.h"
#include "TestBytes.h"

#include "shell/CRK40CnfPS.h"
#include "shell/CommandIds.h"
#include "shell/PasswordDialogs.h"
#include "platform/resources/Resources.h"
#include "platform/serial/SerialDevice.h"
#include "shell/TransferDialogs.h"

#include <rk40sim/Terminal.h>

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>

using testsupport::hexWord;

namespace {

QString str(int id) { return resources::loadString(id); }

constexpr int kCom = 3;  // the simulator's COM number

// Chooses a port (index 0..9) and a baud index in the port dialog.
std::function<int(QDialog&)> choosePort(int index, int baudIndex = 2, QStringList* notes = nullptr)
{
    return [=](QDialog& d) {
        auto& dlg = dynamic_cast<CPortDlg&>(d);
        if (notes) {
            *notes << QString("proposed baud %1").arg(dlg.baudList()->currentText());
            for (int i = 0; i < 10; ++i)
                if (dlg.radio(i)->isEnabled())
                    *notes << QString("enabled COM%1").arg(i + 1);
            *notes << QString("selected %1").arg(dlg.portIndex());
        }
        dlg.radio(index)->click();
        dlg.baudList()->setCurrentIndex(baudIndex);
        return int(QDialog::Accepted);
    };
}

} // namespace

class TestSerial : public QObject {
    Q_OBJECT

    std::unique_ptr<SheetFixture> f;
    std::unique_ptr<rk40sim::Terminal> sim;
    std::unique_ptr<CRK40CnfPS> sheet;

    void unlock()
    {
        f->prompter.dialogHandlers.push_back([](QDialog& d) {
            dynamic_cast<CNewPasswordDlg&>(d).setTexts("pw", "pw");
            d.accept();
            return d.result();
        });
        sheet->action(cmd::kChangePassword)->trigger();
        QVERIFY(sheet->isUnlocked());
    }

    void setImage(int address, const QString& text) { sheet->registerImage().setWord(address, text); }
    QString image(int address) const { return sheet->registerImage().word(address); }

    // Runs fn(progress) after every step of the next transfer.
    void onStep(std::function<void(CProgressDlg&, int)> fn)
    {
        connect(sheet.get(), &CRK40CnfPS::transferProgressShown, this, [fn](CProgressDlg* p) {
            connect(p, &CProgressDlg::stepped, p, [p, fn](int pos) { fn(*p, pos); });
        });
    }

    QString logText() const { return QString::fromLatin1(testsupport::readAll(f->programFile("log"))); }

private slots:
    void init()
    {
        f = std::make_unique<SheetFixture>();
        QVERIFY2(f->registered, qPrintable(f->registerError));
        sim = std::make_unique<rk40sim::Terminal>();
        // COM3 is the simulator; every other name points nowhere.
        for (int n = 1; n <= 10; ++n)
            qputenv(qPrintable(QString("RK40_COM%1").arg(n)),
                    n == kCom ? QByteArray(sim->slavePath().c_str()) : f->env.path("no-device").toLocal8Bit());
        sheet = std::make_unique<CRK40CnfPS>();
        sheet->OnInitDialog();
        sheet->show();
        f->prompter.messages.clear();
    }
    void cleanup()
    {
        sheet.reset();
        sim.reset();
        f.reset();
        for (int n = 1; n <= 10; ++n)
            qunsetenv(qPrintable(QString("RK40_COM%1").arg(n)));
    }

    void writeThenReadGivesTheImageBack()
    {
        unlock();
        f->prompter.messages.clear();
        setImage(12, "0CD8");
        setImage(39, "");  // nothing set it
        sim->setWord(39, 0xFFFF);

        QStringList notes;
        bool disabledDuring = true;
        QString lastPercent;
        onStep([&](CProgressDlg& p, int) {
            disabledDuring = disabledDuring && !sheet->isEnabled();
            lastPercent = p.percentText();
        });
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1, 2, &notes));
        sheet->action(cmd::kSerialWrite)->trigger();
        QVERIFY(f->prompter.messages.empty());
        QCOMPARE(notes, (QStringList{"proposed baud 9600", "enabled COM3", "selected 2"}));
        QVERIFY(disabledDuring);
        QVERIFY(sheet->isEnabled());
        QCOMPARE(lastPercent, QString("100%"));
        // The wire values themselves are the transfer's own tests'.
        QCOMPARE(hexWord(sim->word(12)), QString("8CD8"));
        QCOMPARE(hexWord(sim->word(39)), QString("0000"));
        QVERIFY(logText().endsWith("   COM_PORT: 03   REMOTE: None:00000\r\n"));
        QCOMPARE(sheet->lastReadText(), str(161));  // a write does not name the terminal read

        sheet->action(cmd::kClear)->trigger();
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1));
        sheet->action(cmd::kSerialRead)->trigger();
        QVERIFY(f->prompter.messages.empty());
        QCOMPARE(image(12), QString("8CD8"));
        QCOMPARE(sheet->lastReadText(), QString("COM3"));
        QCOMPARE(sheet->reader1()->portText(), QString("COM3"));
        QVERIFY(sheet->isApplyToLastEnabled());
        QCOMPARE(logText().count("\r\n"), 1);  // reads are not logged
    }

    void readWhileLockedThenApplyToLast()
    {
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1, 1));
        sheet->action(cmd::kSerialRead)->trigger();
        QCOMPARE(sheet->lastReadText(), QString("COM3"));
        QVERIFY(!sheet->isApplyToLastEnabled());
        QCOMPARE(sheet->lastTerminal().baudRate, 4800);
        unlock();
        QVERIFY(sheet->isApplyToLastEnabled());

        // Apply To Last writes to the same port without asking.
        setImage(25, "1234");
        f->prompter.dialogs.clear();
        f->prompter.messages.clear();
        QTest::mouseClick(sheet->applyToLastButton(), Qt::LeftButton);
        QVERIFY(f->prompter.dialogs.isEmpty());
        QVERIFY(f->prompter.messages.empty());
        QCOMPARE(sim->word(25), quint16(0x9234));
        QVERIFY(logText().endsWith("   COM_PORT: 03   REMOTE: None:00000\r\n"));
    }

    void applyToLastWithoutTerminal()
    {
        sheet->OnApplyToLast();
        QCOMPARE(f->prompter.messageTexts(), QStringList{str(165)});
    }

    void cancelAtWord20_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("question");
        QTest::newRow("read, Yes stops") << cmd::kSerialRead << true << 106;
        QTest::newRow("read, No goes on") << cmd::kSerialRead << false << 106;
        QTest::newRow("write, Yes stops") << cmd::kSerialWrite << true << 109;
    }
    void cancelAtWord20()
    {
        QFETCH(int, command);
        QFETCH(bool, answer);
        QFETCH(int, question);
        unlock();
        for (int a = 10; a <= 39; ++a) {
            sim->setWord(a, 0x8000);
            setImage(a, "0001");
        }
        const bool write = command == cmd::kSerialWrite;
        onStep([write](CProgressDlg& p, int pos) {
            if (pos == 10 && write)  // words 10..19 are done; the close box cancels like the button
                p.close();
            else if (pos == 10)
                p.cancelButton()->click();
        });
        f->prompter.answers.push_back(answer);
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1));
        sheet->action(command)->trigger();
        QCOMPARE(f->prompter.questions, QStringList{str(question)});
        QVERIFY(f->prompter.messages.empty());
        for (int a = 10; a <= 39; ++a) {
            const bool moved = a < 20 || !answer;
            const QString got = write ? hexWord(sim->word(a)) : image(a);
            QCOMPARE(got, moved ? QString(write ? "8001" : "8000") : QString(write ? "8000" : "0001"));
        }
        QVERIFY(logText().isEmpty());
        QCOMPARE(sheet->lastTerminal().valid, !write);
        QVERIFY(sheet->isEnabled());
    }

    void portHeldByAnotherProgramIsDisabled()
    {
        serial::SerialDevice other;
        QCOMPARE(other.open(QString::fromStdString(sim->slavePath()), 9600), serial::OpenResult::Ok);
        int index = 99;
        bool com3Enabled = true;
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            auto& dlg = dynamic_cast<CPortDlg&>(d);
            index = dlg.portIndex();
            com3Enabled = dlg.radio(kCom - 1)->isEnabled();
            return int(QDialog::Rejected);
        });
        sheet->action(cmd::kSerialStatus)->trigger();
        QVERIFY(!com3Enabled);
        QCOMPARE(index, -1);
        QVERIFY(f->prompter.messages.empty());
    }

    // The port is taken between the dialog and the opening: the message
    // names who has it, in the program's language; a failed write or status
    // leaves the last terminal, a read not.
    void portTakenAfterTheDialog_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("keepsLast");
        QTest::addColumn<QString>("heading");
        QTest::newRow("write") << cmd::kSerialWrite << true << QString();
        QTest::newRow("read") << cmd::kSerialRead << false << QString();
        QTest::newRow("status") << cmd::kSerialStatus << true << QString("HIBA\n");
    }
    void portTakenAfterTheDialog()
    {
        QFETCH(int, command);
        QFETCH(bool, keepsLast);
        QFETCH(QString, heading);
        struct Magyar : resources::ILanguageProvider {
            QString lookup(const resources::Key& key) const override
            {
                return key.id == 61734 ? "HIBA" : key.id == 61754 ? "%1 foglalja: %2" : QString();
            }
        };
        resources::setLanguageProvider(std::make_shared<Magyar>());
        const auto english = qScopeGuard([] { resources::setLanguageProvider(nullptr); });
        unlock();
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1));
        sheet->action(cmd::kSerialRead)->trigger();
        f->prompter.messages.clear();

        serial::SerialDevice other;
        f->prompter.dialogHandlers.push_back([&](QDialog& d) {
            choosePort(kCom - 1)(d);
            other.open(QString::fromStdString(sim->slavePath()), 9600);
            return int(QDialog::Accepted);
        });
        sheet->action(command)->trigger();
        QVERIFY(other.isOpen());
        const QString busy = QString("%1 foglalja: tst_shell_serial (process %2)")
                                 .arg(QString::fromStdString(sim->slavePath()))
                                 .arg(QCoreApplication::applicationPid());
        QCOMPARE(f->prompter.messageTexts(), QStringList{heading + busy});
        QCOMPARE(sheet->lastTerminal().valid, keepsLast);
        QCOMPARE(sheet->isApplyToLastEnabled(), keepsLast);
        QCOMPARE(sheet->lastReadText(), keepsLast ? QString("COM3") : str(151));
        QCOMPARE(sheet->reader1()->portText(), str(151));
        QVERIFY(logText().isEmpty());
    }

    void disconnectMidTransfer_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<char>("letter");
        QTest::newRow("write") << cmd::kSerialWrite << 'b';
        QTest::newRow("read") << cmd::kSerialRead << 'a';
    }
    void disconnectMidTransfer()
    {
        QFETCH(int, command);
        QFETCH(char, letter);
        unlock();
        f->prompter.messages.clear();
        rk40sim::Terminal* terminal = sim.get();
        onStep([=](CProgressDlg&, int pos) {
            if (pos == 7)
                terminal->injectFault({rk40sim::Fault::Disconnect, -1, letter}, 1);
        });
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1));
        sheet->action(command)->trigger();
        // The device went away, and the message says so.
        QCOMPARE(f->prompter.messageTexts(),
                 QStringList{str(132) + QString("\nthe device was removed (%1)").arg(QString::fromStdString(terminal->slavePath()))});
        QVERIFY(!sim->connected());
        QVERIFY(!sheet->lastTerminal().valid);
        QVERIFY(sheet->isEnabled());
    }

    void status()
    {
        sim->setStatus("RK40 V6.29", "08.01.03307:09", "0005");
        QStringList notes;
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1, 0));
        sheet->action(cmd::kSerialStatus)->trigger();
        QCOMPARE(f->prompter.lookTexts(), QStringList{"info:Firmware: RK40 V6.29\n Time: 08.01.03 07:09\n Buffered: 0005"});
        QCOMPARE(sheet->reader1()->portText(), QString("COM3"));
        QCOMPARE(sheet->lastReadText(), str(161));
        QVERIFY(!sheet->lastTerminal().valid);

        // The next dialog proposes 9600 again. A refused or an unanswered
        // request is an error in words, never an empty status.
        f->prompter.messages.clear();
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1, 2, &notes));
        sim->injectFault({rk40sim::Fault::Nak, -1, 'S'}, rk40sim::kPersistent);
        sheet->action(cmd::kSerialStatus)->trigger();
        QCOMPARE(notes.value(0), QString("proposed baud 9600"));
        sim->clearFaults();
        sim->injectFault({rk40sim::Fault::Silence, -1, 'S'}, rk40sim::kPersistent);
        f->prompter.dialogHandlers.push_back(choosePort(kCom - 1));
        sheet->action(cmd::kSerialStatus)->trigger();
        const QStringList texts = f->prompter.lookTexts();
        QCOMPARE(texts.size(), 2);
        QCOMPARE(texts[0], QString("plain:ERROR\nThe terminal refused the status request."));
        QVERIFY2(texts[1].startsWith("plain:ERROR\nThe terminal did not send its status"), qPrintable(texts[1]));
        QCOMPARE(sheet->reader1()->portText(), str(151));
    }
};

QTEST_MAIN(TestSerial)
#include "tst_serial.moc"
