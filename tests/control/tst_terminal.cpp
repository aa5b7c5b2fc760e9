// The control's members against the terminal simulator, end to end over a
// pseudo-terminal: what the terminal receives, what it answers, and what
// the members return and store.

#include "CRK40CommCtrl.h"
#include "ControlTestSupport.h"
#include "TestEnvironment.h"

#include <rk40sim/Terminal.h>

#include <QApplication>
#include <QTest>

using namespace rk40;
using namespace testsupport;
using rk40sim::Fault;

namespace {

QByteArray bytes(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

std::string eventRecord(int i)
{
    return QString("050130930C%1%2").arg(i, 8, 10, QChar('0')).arg(i % 10).toStdString();
}

} // namespace

class TestTerminal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writeEeprom_data();
    void writeEeprom();
    void readEeprom_data();
    void readEeprom();
    void terminalNotAnswering();
    void onlineBlocks_data();
    void onlineBlocks();
    void onlineBlockOf32Records();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<rk40sim::Terminal> m_sim;
    std::unique_ptr<CRK40CommCtrl> m_ctrl;
    RecordingSink m_sink;
    bool openControl(bool online);
};

void TestTerminal::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
}

void TestTerminal::init()
{
    m_sim = std::make_unique<rk40sim::Terminal>();
    qputenv("RK40_COM1", QByteArray::fromStdString(m_sim->slavePath()));
    m_ctrl = std::make_unique<CRK40CommCtrl>();
    m_ctrl->setClock([] { return QDateTime(QDate(2003, 1, 5), QTime(7, 9)); });
    m_sink.events.clear();
    m_ctrl->advise(&m_sink);
}

void TestTerminal::cleanup()
{
    m_ctrl->unadvise(&m_sink);
    m_ctrl.reset();
    m_sim.reset();
}

bool TestTerminal::openControl(bool online)
{
    put(*m_ctrl, dispid::AsciiFileName, m_env->path("reg.txt"));
    put(*m_ctrl, dispid::WorkOnLine, online);
    return call(*m_ctrl, dispid::InitTerminal, {i2(0)}).toBool();
}

void TestTerminal::writeEeprom_data()
{
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<int>("result");
    QTest::newRow("ACK") << -1 << 0;
    QTest::newRow("NAK") << int(Fault::Nak) << 3;
    QTest::newRow("other byte") << int(Fault::OtherByte) << 4;
    QTest::newRow("silence") << int(Fault::Silence) << -3;
}

void TestTerminal::writeEeprom()
{
    QFETCH(int, fault);
    QVERIFY(openControl(false));
    if (fault >= 0)
        m_sim->injectFault({Fault::Kind(fault), -1, 'b'});
    QTEST(call(*m_ctrl, dispid::WriteEEPR, {i2(10), 32768}).toInt(), "result");
    QCOMPARE(bytes(m_sim->received()), QByteArray("\x01" "bb" "0A8000" "\x79"));
    if (fault < 0)
        QCOMPARE(m_sim->word(10), std::uint16_t(0x8000));
}

void TestTerminal::readEeprom_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("lowerCase");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("stored");
    QTest::newRow("good") << -1 << -1 << false << 0 << "8C41";
    QTest::newRow("lower-case digits kept") << -1 << -1 << true << 0 << "8c41";
    QTest::newRow("bad checksum") << int(Fault::BadChecksum) << -1 << false << 3 << "old";
    QTest::newRow("stops after three bytes") << int(Fault::Truncate) << 3 << false << -3 << "old";
    QTest::newRow("silence") << int(Fault::Silence) << -1 << false << -3 << "old";
}

void TestTerminal::readEeprom()
{
    QFETCH(int, fault);
    QFETCH(int, param);
    QFETCH(bool, lowerCase);
    m_sim->setWord(10, 0x8C41);
    m_sim->setLowerCaseHex(lowerCase);
    QVERIFY(openControl(false));
    putAt(*m_ctrl, dispid::EepromLoc, 10, "old");
    if (fault >= 0)
        m_sim->injectFault({Fault::Kind(fault), param, 'a'});
    QTEST(call(*m_ctrl, dispid::ReadEEPR, {i2(10)}).toInt(), "result");
    QCOMPARE(bytes(m_sim->received()), QByteArray("\x01" "aa" "0Aq"));
    QTEST(getAt(*m_ctrl, dispid::EepromLoc, 10).toString(), "stored");
}

void TestTerminal::terminalNotAnswering()
{
    QVERIFY(openControl(false));
    m_sim->injectFault({Fault::SilenceOnOpen}, rk40sim::kPersistent);
    QCOMPARE(call(*m_ctrl, dispid::ReadEEPR, {i2(10)}).toInt(), 1);
    QCOMPARE(call(*m_ctrl, dispid::WriteEEPR, {i2(10), 1}).toInt(), 1);
    m_sim->clearFaults();
    m_sim->injectFault({Fault::NakOnOpen}, 1);
    QCOMPARE(call(*m_ctrl, dispid::WriteEEPR, {i2(10), 1}).toInt(), 1);
    // Nothing but the three SOHs went out.
    QCOMPARE(bytes(m_sim->received()), QByteArray("\x01\x01\x01"));
    QCOMPARE(m_sim->word(10), std::uint16_t(0));
}

void TestTerminal::onlineBlocks_data()
{
    QTest::addColumn<char>("kind");
    QTest::addColumn<int>("variant");
    QTest::addColumn<int>("errCode");
    QTest::newRow("S") << 'S' << 0 << 0;
    QTest::newRow("V") << 'V' << 0 << 0;
    QTest::newRow("bad checksum") << 'S' << 1 << 96;
    QTest::newRow("bad header") << 'S' << 2 << 50;
    QTest::newRow("no STX") << 'S' << 3 << 33;
    QTest::newRow("stops inside") << 'S' << 4 << 64;
    QTest::newRow("high and control bytes dropped") << 'V' << 5 << 0;
    QTest::newRow("more than the buffer") << 'S' << 6 << 80;
}

void TestTerminal::onlineBlocks()
{
    QFETCH(char, kind);
    QFETCH(int, variant);
    QFETCH(int, errCode);
    QVERIFY(openControl(true));
    rk40sim::BlockOptions o;
    switch (variant) {
    case 1: o.badChecksum = true; break;
    case 2: o.kindByte = 'Q'; break;
    case 3: o.omitStx = true; break;
    case 4: o.stopAfter = 10; break;
    case 5: o.highBytes = o.controlBytes = true; break;
    case 6: o.extraData = 1000; break;
    }
    m_sim->sendOnlineBlock(kind, {"050130930C0001234A3", "06012101520000ABCD1"}, o);
    QTRY_COMPARE_WITH_TIMEOUT(int(m_sink.events.size()), 1, 10000);
    QCOMPARE(m_sink.events.front().dispid, errCode == 0 ? int(eventid::RxRegs) : int(eventid::ErrMessage));
    QTEST(get(*m_ctrl, dispid::ErrCode).toInt(), "errCode");
    QVERIFY(m_sim->waitBlockDone(std::chrono::seconds(5)));
    QCOMPARE(m_sim->lastBlockAnswer(), errCode == 0 ? rk40sim::BlockAnswer::Ack : rk40sim::BlockAnswer::Nak);
    if (errCode == 0)
        QCOMPARE(get(*m_ctrl, dispid::Total).toInt(), 2);
}

void TestTerminal::onlineBlockOf32Records()
{
    QVERIFY(openControl(true));
    std::vector<std::string> records;
    for (int i = 0; i < 32; ++i)
        records.push_back(eventRecord(i));
    m_sim->sendOnlineBlock('S', records);
    QTRY_COMPARE_WITH_TIMEOUT(m_sink.count(eventid::RxRegs), 1, 10000);
    QCOMPARE(m_sink.events.back().args, QVariantList({i2(32)}));
    QCOMPARE(get(*m_ctrl, dispid::Total).toInt(), 32);
    QVERIFY(m_sim->waitBlockDone(std::chrono::seconds(5)));
    QCOMPARE(m_sim->lastBlockAnswer(), rk40sim::BlockAnswer::Ack);
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
