// The serial transfer without any window, as a command-line program runs it:
// the control made from the registry, the terminal simulator on COM3, an
// observer that records what the transfer asks for.

#include "core/AppPaths.h"
#include "core/CRK40Comm.h"
#include "FakeControl.h"
#include "core/SerialTransfer.h"
#include "TestBytes.h"
#include "TestEnvironment.h"

#include <rk40sim/Terminal.h>

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using serialxfer::Outcome;

namespace {

constexpr int kCom = 3;

struct RecordingObserver : serialxfer::ITransferObserver {
    std::vector<int> pauses;  // milliseconds asked for, in order

    void portOpened(int) override {}
    bool stopRequested() override { return false; }
    void wordDone(int) override {}
    void pause(std::chrono::milliseconds d) override { pauses.push_back(int(d.count())); }

    int count(int ms) const { return int(std::count(pauses.begin(), pauses.end(), ms)); }
};

} // namespace

class TestTransfer : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestEnvironment> env;
    std::unique_ptr<rk40sim::Terminal> sim;
    std::unique_ptr<CRK40Comm> comm;
    std::unique_ptr<translog::TransferLog> log;
    LastTerminal record;

    serialxfer::SerialTransfer transfer() { return serialxfer::SerialTransfer(*comm, record, log.get()); }
    static serialxfer::PortChoice com3(int baud = 9600) { return {kCom - 1, baud}; }
    QByteArray logBytes() const { return testsupport::readAll(log->path()); }

private slots:
    void init()
    {
        env = std::make_unique<testsupport::TestEnvironment>();
        QString error;
        QVERIFY2(env->registerControl(&error), qPrintable(error));
        sim = std::make_unique<rk40sim::Terminal>();
        qputenv("RK40_COM3", sim->slavePath().c_str());
        comm = std::make_unique<CRK40Comm>();
        QVERIFY2(comm->Create(), qPrintable(comm->errorText()));
        comm->SetWorkOnLine(false);
        log = std::make_unique<translog::TransferLog>(env->path("log"),
                                                      [] { return QDateTime(QDate(2026, 12, 6), QTime(5, 4, 31)); });
        record = {};
        for (int a = 10; a <= 39; ++a)
            comm->setWord(a, "0000");
    }
    void cleanup()
    {
        comm.reset();
        sim.reset();
        env.reset();
        qunsetenv("RK40_COM3");
    }

    void wireValues_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("wire");
        QTest::newRow("row, bit 14 set") << 10 << "4001" << 0x8001;
        QTest::newRow("row, all bits") << 37 << "FFFF" << 0xBFFF;
        QTest::newRow("row, zero") << 20 << "0000" << 0x8000;
        QTest::newRow("LED unchanged") << 38 << "FFFF" << 0xFFFF;
        QTest::newRow("random unchanged") << 39 << "C123" << 0xC123;
        QTest::newRow("LED never set") << 38 << "" << 0x0000;
        QTest::newRow("random never set") << 39 << "" << 0x0000;
    }
    void wireValues()
    {
        QFETCH(int, address);
        QFETCH(QString, text);
        QFETCH(int, wire);
        QCOMPARE(int(serialxfer::wireValue(address, text)), wire);
    }

    void repeatedAttemptsAreSpacedAndCounted()
    {
        sim->injectFault({rk40sim::Fault::Nak, -1, 'b'}, 2);
        RecordingObserver obs;
        Outcome out = transfer().write(com3(), obs);
        QCOMPARE(out.status, Outcome::Done);
        QCOMPARE(obs.count(100), 2);
        QCOMPARE(std::vector<int>(obs.pauses.begin(), obs.pauses.begin() + 3), (std::vector<int>{100, 100, 25}));
        QCOMPARE(sim->commandCount('b'), 32);

        record.valid = true;
        sim->injectFault({rk40sim::Fault::Nak, -1, 'b'}, rk40sim::kPersistent);
        RecordingObserver failing;
        out = transfer().write(com3(), failing);
        QCOMPARE(out.status, Outcome::WordFailed);
        QCOMPARE(out.failedAddress, 10);
        QVERIFY(out.lastResult != 0);
        QCOMPARE(failing.pauses, (std::vector<int>{100, 100}));
        QCOMPARE(sim->commandCount('b'), 35);
        QVERIFY(!record.valid);
        QCOMPARE(logBytes().count('\n'), 1);  // only the first, successful write
    }

    // A word the control will not give stops the write before anything is
    // sent: the record and the log stay as they were.
    void refusedWordSendsNothing()
    {
        auto state = std::make_shared<testpages::FakeState>();
        state->refuseEeprom = true;
        comm = std::make_unique<CRK40Comm>(std::make_unique<testpages::FakeControl>(state));
        record = {true, false, 3, 9600, {}, 0};
        RecordingObserver obs;
        const Outcome out = transfer().write(com3(), obs);
        QVERIFY(out.status == Outcome::WordFailed && out.imageRefused);
        QCOMPARE(out.failedAddress, 10);
        QCOMPARE(out.reason, QStringLiteral("refused by the fake"));
        QVERIFY(record.valid);
        QVERIFY(!QFile::exists(log->path()));
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
