// The control object: properties, persistence, connection states, register
// access and the on-line reception, end to end over pseudo-terminals.

#include "control/ctrl/CRK40CommCtrl.h"
#include "TestBytes.h"
#include "ControlTestSupport.h"
#include "platform/component/PropertyBag.h"
#include "PtyPeer.h"
#include "control/ctrl/RegisterFile.h"
#include "platform/serial/SerialDevice.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <latch>
#include <thread>

using namespace rk40;
using namespace testsupport;

namespace {

QByteArray b(char c) { return QByteArray(1, c); }

// Whether another process can take the file's flock at once.
bool lockFreeForOthers(const QString& path)
{
    return QProcess::execute("flock", {"-n", path, "true"}) == 0;
}
} // namespace

class TestControl : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { m_env = std::make_unique<TestEnvironment>(); }

    void init()
    {
        for (int n = 1; n <= 10; ++n)
            qunsetenv(qPrintable(QString("RK40_COM%1").arg(n)));
    }

    void cleanup() { QCOMPARE(CRK40CommCtrl::liveObjects(), 0); }

    void everyPutMarksDirty()
    {
        const component::TypeLibInfo& lib = rk40::typeLibrary();
        for (const auto& m : lib.dispatch.members) {
            if (m.kind == component::MemberKind::Method)
                continue;
            CRK40CommCtrl c;
            QVariant value = m.type == component::VarType::BStr ? QVariant("5") : m.type == component::VarType::Bool ? QVariant(false) : QVariant(1);
            const component::HRESULT hr = m.kind == component::MemberKind::IndexedProperty ? putAt(c, m.dispid, 0, value)
                                                                                            : put(c, m.dispid, value);
            QVERIFY2(component::succeeded(hr), qPrintable(m.name));
            QVERIFY2(c.isDirty(), qPrintable(m.name));
        }
    }

    void languageOfTheWeekdayNames_data()
    {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QString>("wednesday");
        QTest::newRow("English") << QStringList{"en-GB"} << "Wednesday";
        QTest::newRow("Hungarian") << QStringList{"hu-HU", "en"} << "Szerda";
        QTest::newRow("Croatian") << QStringList{"hr_HR"} << "Sreda";
        QTest::newRow("first known one") << QStringList{"de-DE", "hu"} << "Szerda";
        QTest::newRow("none known") << QStringList{"de-DE", "fr"} << "Wednesday";
    }

    void languageOfTheWeekdayNames()
    {
        QFETCH(QStringList, uiLanguages);
        const Language language = languageFor(uiLanguages);
        QTEST(controlString(103, language), "wednesday");
    }

    void registerFileInMissingFolder()
    {
        PtyPeer peer;
        pointComTo(1, peer.slavePath());
        CRK40CommCtrl c;
        put(c, dispid::AsciiFileName, m_env->path("no/such/folder/reg.txt"));
        QCOMPARE(call(c, dispid::InitTerminal, {i2(0)}), QVariant(false));
        QCOMPARE(c.statusBits(), 0);
        // The port was not touched: another program can open it.
        serial::SerialDevice other;
        QCOMPARE(other.open(peer.slavePath(), 9600), serial::OpenResult::Ok);
    }

    void baudRateWithoutAConstant()
    {
        PtyPeer peer;
        CRK40CommCtrl c;
        // A rate without a B constant is passed through; only a rate the
        // driver refuses fails.
        put(c, dispid::BaudRate, 12345);
        QCOMPARE(open(c, peer, false), true);
        QCOMPARE(c.statusBits(), 3);
        call(c, dispid::DestroyTerminal);
        put(c, dispid::BaudRate, 0);
        QCOMPARE(open(c, peer, false), false);
        QCOMPARE(c.statusBits(), 1);
    }

    void portNumbers_data()
    {
        QTest::addColumn<int>("portNum");
        QTest::addColumn<QString>("portName");
        QTest::newRow("9") << 9 << "COM10";
        QTest::newRow("10") << 10 << "COM1";
        QTest::newRow("-1") << -1 << "COM1";
    }

    void portNumbers()
    {
        QFETCH(int, portNum);
        PtyPeer peer;
        pointComTo(1, peer.slavePath());
        pointComTo(10, peer.slavePath());
        CRK40CommCtrl c;
        put(c, dispid::AsciiFileName, m_env->path("reg.txt"));
        put(c, dispid::WorkOnLine, false);
        QVERIFY(call(c, dispid::InitTerminal, {i2(portNum)}).toBool());
        QTEST(c.portName(), "portName");
        QVERIFY(!c.receptionRunning()); // off line: no reception thread
    }

    void actionArrPutOutsideTheTableKeepsTheEntry()
    {
        CRK40CommCtrl c;
        putAt(c, dispid::ActionArr, 3, "2");
        putAt(c, dispid::ActionArr, 3, "1F");
        QCOMPARE(getAt(c, dispid::ActionArr, 3).toString(), QString("T3"));
    }

    void writeEeprom_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("ACK") << b(0x06) << 0;
        QTest::newRow("NAK") << b(0x15) << 3;
        QTest::newRow("other byte") << QByteArray("0") << 4;
        QTest::newRow("silence") << QByteArray() << -3;
    }

    void writeEeprom()
    {
        QFETCH(QByteArray, answer);
        PtyPeer peer;
        CRK40CommCtrl c;
        QVERIFY(open(c, peer, false));
        peer.expect(1).send(b(0x06)).expect(2 + 7).send(answer);
        QTEST(call(c, dispid::WriteEEPR, {i2(10), 32768}).toInt(), "result");
        COMPARE_BYTES(peer.received(), QByteArray("\x01" "bb" "0A8000" "\x79"));
    }

    void getStatus_data()
    {
        QTest::addColumn<QByteArray>("answer"); // after the letters, `late` ms after them
        QTest::addColumn<int>("late");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("texts"); // Firmware, RTC, DayOfWeek, InBuffer
        const QByteArray block = QByteArray("FW:RK40 6.29\rCL:08.01.03307:09\rIB:0012\r").leftJustified(46, ' ');
        const QStringList old{"old", "old", "old", "old"};
        QTest::newRow("whole") << block << 0 << 0 << QStringList{"RK40 6.29", "08.01.03 07:09", "Wednesday", "0012"};
        QTest::newRow("binary lead bytes")
            << QByteArray("\x02\x00\x02RK40 6.29\r\x00\x01\x00" "08.01.03007:09\r\x00\x00\x00" "0012\r", 39) << 0 << 0
            << QStringList{"RK40 6.29", "08.01.03 07:09", "Sunday", "0012"};
        QTest::newRow("starts 0.3 s late") << block << 300 << 0
                                           << QStringList{"RK40 6.29", "08.01.03 07:09", "Wednesday", "0012"};
        QTest::newRow("30 bytes") << block.left(30) << 0 << 0 << QStringList{"RK40 6.29", "08.01.03 07:09", "Wednesday", ""};
        QTest::newRow("20 bytes") << block.left(20) << 0 << 0 << QStringList{"RK40 6.29", "08.0", "Error", ""};
        QTest::newRow("lone NAK") << b(0x15) << 0 << 12 << old;
        QTest::newRow("silent after the ACK") << QByteArray() << 0 << 13 << old;
    }

    void getStatus()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, late);
        PtyPeer peer;
        CRK40CommCtrl c;
        c.setLanguage(Language::English);
        QVERIFY(open(c, peer, false));
        const int properties[] = {dispid::Firmware, dispid::RTC, dispid::DayOfWeek, dispid::InBuffer};
        for (int id : properties)
            put(c, id, "old");
        peer.expect(1).send(b(0x06)).expect(2).pause(std::chrono::milliseconds(late)).send(answer);
        QTEST(call(c, dispid::GetStatus).toInt(), "result");
        QStringList texts;
        for (int id : properties)
            texts << get(c, id).toString();
        QTEST(texts, "texts");
    }

    void argumentsOutsideTheFrameAreRefused()
    {
        PtyPeer peer;
        CRK40CommCtrl c;
        QVERIFY(open(c, peer, false));
        QCOMPARE(c.ReadEEPR(256), qint16(-4));
        QCOMPARE(c.WriteEEPR(10, 65536), qint16(-4));
        QCOMPARE(peer.received(), QByteArray());
    }

    void onlineBlockIsHandedOverAndAcknowledged()
    {
        PtyPeer peer;
        CRK40CommCtrl c;
        AdvisedSink sink(c);
        QVERIFY(open(c, peer, true));
        peer.send("noise").send(onlineBlock({"050130930C0001234A3", "06012101520000ABCD1"}));
        QTRY_COMPARE(sink.count(eventid::RxRegs), 1);
        QCOMPARE(sink.events.back().args, QVariantList({i2(2)}));
        QCOMPARE(get(c, dispid::Total).toInt(), 2);
        QCOMPARE(get(c, dispid::ErrCode).toInt(), 0);
        QVERIFY(peer.waitReceived(1));
        QCOMPARE(peer.received(), b(0x06));

        // A "V" block is acknowledged right after its header, and again at its end.
        peer.clearReceived();
        peer.send(onlineBlock({"050130930C0001234A3"}, 'V'));
        QTRY_COMPARE(sink.count(eventid::RxRegs), 2);
        QVERIFY(peer.waitReceived(2));
        QCOMPARE(peer.received(), QByteArray("\x06\x06"));
        QCOMPARE(get(c, dispid::Total).toInt(), 1);
        call(c, dispid::DestroyTerminal);
    }

    void notReadyIgnoresBlocks()
    {
        PtyPeer peer;
        CRK40CommCtrl c;
        AdvisedSink sink(c);
        put(c, dispid::Ready, false);
        QVERIFY(open(c, peer, true));
        peer.send(onlineBlock({"050130930C0001234A3"}));
        QTest::qWait(1500);
        QVERIFY(sink.events.empty());
        QCOMPARE(peer.received(), QByteArray());
        call(c, dispid::DestroyTerminal);
    }

    void destroyWhileHandOverPending()
    {
        // Ended by DestroyTerminal, then by the destructor alone (thread and port).
        PtyPeer peer;
        for (bool destroy : {true, false}) {
            {
                CRK40CommCtrl c;
                AdvisedSink sink(c);
                QVERIFY(open(c, peer, true));
                peer.send(onlineBlock({"050130930C0001234A3"}));
                // No event processing here: the hand-over stays pending.
                for (int i = 0; i < 500 && !c.handOverPending(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                QVERIFY(c.handOverPending());
                if (destroy) {
                    call(c, dispid::DestroyTerminal);
                    QVERIFY(!c.receptionRunning());
                    QVERIFY(!c.handOverPending());
                    // The stale hand-over now reaches the owner thread and does nothing.
                    QTest::qWait(300);
                    QVERIFY(sink.events.empty());
                }
            }
            QTest::qWait(100);
            QCOMPARE(peer.received(), QByteArray());
        }
        // The port is free again: another program can open it.
        serial::SerialDevice other;
        QCOMPARE(other.open(peer.slavePath(), 9600), serial::OpenResult::Ok);
    }

    void typeLibraryDescribesEveryMember()
    {
        // Every dispatch identifier, and the events, have their entry.
        const component::TypeLibInfo& lib = rk40::typeLibrary();
        for (int id = 1; id <= 43; ++id)
            QVERIFY2(lib.dispatch.member(id), qPrintable(QString::number(id)));
        QVERIFY(lib.dispatch.member(-552));
        QCOMPARE(lib.dispatch.members.size(), std::size_t(44));
        QCOMPARE(lib.dispatch.member(dispid::EepromLoc)->indexCount, 256);
        QCOMPARE(lib.dispatch.member(dispid::TimeArr)->indexCount, 32);
        QVERIFY(lib.events.event(1) && lib.events.event(-600) && lib.events.event(-601));
    }

    void persistenceRoundTrip()
    {
        component::PropertyBag bag;
        {
            // The names, their order and the defaults are what stored pages hold.
            CRK40CommCtrl c;
            QCOMPARE(c.save(bag), component::S_OK);
            QCOMPARE(bag.names(), QStringList({"_Version", "_ExtentX", "_ExtentY", "_StockProps", "AsciiFileName", "Total",
                                               "TermMessage", "IDT_PrevRx", "WorkOnLine", "Ready", "BaudRate"}));
            const QVariantList defaults{QString("reg.txt"), 0, QString("'Bar dan!"), -1, true, true, 9600};
            for (int i = 0; i < defaults.size(); ++i)
                QCOMPARE(bag.read(bag.names().at(i + 4)).toString(), defaults.at(i).toString());
            put(c, dispid::AsciiFileName, "/var/log/rk40.txt");
            put(c, dispid::IDTPrevRx, i2(12));
            put(c, dispid::WorkOnLine, false);
            put(c, dispid::BaudRate, 2400);
            put(c, dispid::Firmware, "not persisted");
            QVERIFY(c.isDirty());
            c.save(bag);
            QVERIFY(!c.isDirty());
        }
        // (The bag's text form is the component layer's own test.)
        CRK40CommCtrl d;
        QCOMPARE(d.load(bag), component::S_OK);
        QCOMPARE(get(d, dispid::AsciiFileName).toString(), QString("/var/log/rk40.txt"));
        QCOMPARE(get(d, dispid::IDTPrevRx).toInt(), 12);
        QCOMPARE(get(d, dispid::WorkOnLine).toBool(), false);
        QCOMPARE(get(d, dispid::BaudRate).toInt(), 2400);
        QVERIFY(get(d, dispid::Firmware).toString().isEmpty());
        QVERIFY(!d.isDirty());

        d.initNew();
        QCOMPARE(get(d, dispid::BaudRate).toInt(), 9600);
        QCOMPARE(get(d, dispid::IDTPrevRx).toInt(), -1);

        // Missing or wrong values keep the defaults.
        component::PropertyBag odd;
        odd.write("BaudRate", QString("fast"));
        odd.write("IDT_PrevRx", 100000);
        odd.write("TermMessage", QString("Hi"));
        put(d, dispid::Ready, false);
        d.load(odd);
        QCOMPARE(get(d, dispid::BaudRate).toInt(), 9600);
        QCOMPARE(get(d, dispid::IDTPrevRx).toInt(), -1);
        QCOMPARE(get(d, dispid::TermMessage).toString(), QString("Hi"));
        QCOMPARE(get(d, dispid::Ready).toBool(), true);
        QCOMPARE(get(d, dispid::AsciiFileName).toString(), QString("reg.txt"));
    }

    void portHeldByAnotherProgram()
    {
        PtyPeer peer;
        serial::SerialDevice holder;
        QCOMPARE(holder.open(peer.slavePath(), 9600), serial::OpenResult::Ok);
        CRK40CommCtrl c;
        call(c, dispid::DestroyTerminal); // harmless without InitTerminal
        QCOMPARE(open(c, peer, false), false);
        QCOMPARE(c.statusBits(), 1);
        // Still no exchange lock.
        QCOMPARE(call(c, dispid::ReadEEPR, {i2(10)}), i2(-1));
        QCOMPARE(call(c, dispid::WriteEEPR, {i2(10), 32768}), i2(-1));
        call(c, dispid::DestroyTerminal);
    }

    void onlineBlockErrorsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("errCode");
        QTest::addColumn<int>("total");
        QTest::newRow("bad checksum") << onlineBlock({"050130930C0001234A3"}, 'S', false) << 96 << 1;
        QTest::newRow("bad header") << QByteArray("\x01X\x02") << 50 << 7;
    }

    void onlineBlockErrorsAreRefused()
    {
        QFETCH(QByteArray, block);
        PtyPeer peer;
        CRK40CommCtrl c;
        AdvisedSink sink(c);
        put(c, dispid::Total, 7);
        putAt(c, dispid::CardArr, 0, "old");
        QVERIFY(open(c, peer, true));
        const QByteArray fileBefore = readAll(m_env->path("reg.txt"));
        peer.send(block);
        QTRY_COMPARE(sink.count(eventid::ErrMessage), 1);
        QCOMPARE(sink.count(eventid::RxRegs), 0);
        QCOMPARE(getAt(c, dispid::CardArr, 0).toString(), QString("old"));
        QCOMPARE(readAll(m_env->path("reg.txt")), fileBefore);
        QTEST(get(c, dispid::ErrCode).toInt(), "errCode");
        QTEST(get(c, dispid::Total).toInt(), "total");
        QVERIFY(peer.waitReceived(1));
        QCOMPARE(peer.received(), b(0x15));
        call(c, dispid::DestroyTerminal);
    }

    void registerFileLockSharedByThreads()
    {
        // Two threads of one process, each with its own register file object
        // on the same file: every block once, and the lock is free for other
        // programs afterwards.
        const QString path = m_env->path("threads-reg.txt");
        QFile::remove(path);
        constexpr int kBlocks = 1000;
        std::latch start(2);
        auto appender = [&](char name) {
            RegisterFile file;
            QString error;
            const bool opened = file.open(path, &error);
            start.arrive_and_wait();
            for (int i = 0; i < kBlocks && opened; ++i) {
                RegisterFileLockGuard lock(file);
                std::this_thread::yield(); // let the other thread come to wait
                file.append(name + std::to_string(i) + "\r\n", &error);
            }
        };
        std::thread first(appender, 'a'), second(appender, 'b');
        first.join();
        second.join();
        const QStringList lines = QString(readAll(path)).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(QSet<QString>(lines.begin(), lines.end()).size(), 2 * kBlocks);
        QCOMPARE(lines.size(), 2 * kBlocks);
        QVERIFY(lockFreeForOthers(path));

        // A lock taken on another file while one is held, by the same object
        // reopened, releases both.
        RegisterFile file;
        QString error;
        QVERIFY(file.open(path, &error) && file.lock(&error));
        QVERIFY(file.open(m_env->path("other-reg.txt"), &error) && file.lock(&error));
        file.unlock();
        file.unlock();
        QVERIFY(lockFreeForOthers(path));
    }

private:
    void pointComTo(int com, const QString& path) { qputenv(qPrintable(QString("RK40_COM%1").arg(com)), path.toLocal8Bit()); }
    // Opens COM1 on the peer with the register file in the temporary folder.
    bool open(CRK40CommCtrl& c, PtyPeer& peer, bool online)
    {
        pointComTo(1, peer.slavePath());
        put(c, dispid::AsciiFileName, m_env->path("reg.txt"));
        put(c, dispid::WorkOnLine, online);
        return call(c, dispid::InitTerminal, {i2(0)}).toBool();
    }

    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(TestControl)
#include "tst_control.moc"
