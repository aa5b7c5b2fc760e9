// The serial link's exchanges over a pseudo-terminal, against a scripted
// far end: what goes on the wire and which result each answer gives.

#include "ControlTestSupport.h"
#include "TestBytes.h"
#include "PtyPeer.h"
#include "control/link/TerminalLink.h"

#include <QElapsedTimer>
#include <QTest>

using namespace rk40;
using namespace rk40::protocol;
using namespace testsupport;

namespace {

QByteArray b(char c) { return QByteArray(1, c); }
// A block's checksum covers its data bytes only, not CRs or skipped bytes.
char blockSum(const QByteArray& data)
{
    std::uint8_t x = 0;
    for (char c : data)
        if (classifyBlockByte(std::uint8_t(c)) == BlockByte::Data)
            x ^= std::uint8_t(c);
    return char(finishChecksum(x));
}
} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_peer = std::make_unique<PtyPeer>();
        QVERIFY(m_peer->isValid());
        m_link = std::make_unique<TerminalLink>();
        QCOMPARE(m_link->open(m_peer->slavePath(), 9600), serial::OpenResult::Ok);
    }

    void cleanup()
    {
        m_link.reset();
        m_peer.reset();
    }

    void readByteOnClosedPortSpendsItsBudget()
    {
        TerminalLink closed;
        QElapsedTimer t;
        t.start();
        QCOMPARE(int(closed.ReadByte(20)), 0);
        // Each empty attempt costs its time-out and the pause, even without a device.
        QVERIFY2(t.elapsed() >= 20 * 3, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(closed.OpenCommand('a'), -1);
        QCOMPARE(closed.ReceiveStatusBlock(), 0);

        // A device that hung up is gone: reads fail at once (the benchmark
        // bench_removal times it), the opening as unanswered.
        m_peer->hangUp();
        QCOMPARE(int(m_link->ReadByte(20)), 0);
        QVERIFY(m_link->deviceRemoved());
        QCOMPARE(m_link->deviceStatus().reason, QString("the device was removed"));
        QCOMPARE(m_link->OpenCommand('a'), 1);
    }

    void openingSendsSohThenLetterTwice_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("ACK") << b(ACK) << 0 << QByteArray("\x01kk");
        QTest::newRow("NAK") << b(NAK) << 1 << QByteArray("\x01");
        QTest::newRow("silence") << QByteArray() << 1 << QByteArray("\x01");
    }

    void openingSendsSohThenLetterTwice()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, sent);
        // Stale input is discarded first: it is never taken for the answer.
        m_peer->sendNow("garbage");
        QTest::qSleep(50);
        m_peer->expect(1).send(answer);
        QTEST(m_link->OpenCommand('k'), "result");
        m_peer->waitReceived(int(sent.size()));
        QTest::qSleep(20);
        COMPARE_BYTES(m_peer->received(), sent);
    }

    void openingKeepsThePreviousCommandsTail()
    {
        // A command that is only an opening, followed at once by the next one:
        // its letters must still reach the terminal.
        m_peer->expect(1).send(b(ACK)).expect(3).send(b(ACK));
        QCOMPARE(m_link->OpenCommand('k'), 0);
        QCOMPARE(m_link->OpenCommand('a'), 0);
        QVERIFY(m_peer->waitReceived(6));
        COMPARE_BYTES(m_peer->received(), QByteArray("\x01kk\x01" "aa"));
    }

    void confirmedFrame_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("ACK 0") << QByteArray("\x06" "0") << 0;
        QTest::newRow("ACK 1") << QByteArray("\x06" "1") << -3;
        QTest::newRow("ACK other") << QByteArray("\x06" "x") << -5;
        QTest::newRow("NAK") << b(NAK) << -2;
        QTest::newRow("other") << QByteArray("Q") << -10;
        QTest::newRow("silence") << QByteArray() << -1;
    }

    void confirmedFrame()
    {
        QFETCH(QByteArray, answer);
        const QByteArray data("CDAB896745230105\x03");
        QVERIFY(m_link->loadFrame(std::string_view(data.constData(), size_t(data.size()))));
        m_peer->expect(int(data.size()) + 1).send(answer);
        QTEST(m_link->SendConfirmedFrame(size_t(data.size())), "result");
        COMPARE_BYTES(m_peer->received(), withChecksum(data));
    }

    void confirmedFrameResultAfterPauses()
    {
        // The terminal may carry a command out for a while before its result.
        const QByteArray data("x\x03");
        QVERIFY(m_link->loadFrame("x\x03"));
        m_peer->expect(3).send(b(ACK)).pause(std::chrono::milliseconds(1800)).send("0");
        QCOMPARE(m_link->SendConfirmedFrame(2), 0);
        QCOMPARE(m_link->SendConfirmedFrame(m_link->frame().size()), -20);
    }

    void acknowledgedText_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("ACK") << b(ACK) << 0;
        QTest::newRow("NAK") << b(NAK) << -2;
        QTest::newRow("silence") << QByteArray() << -20;
    }

    void acknowledgedText()
    {
        QFETCH(QByteArray, answer);
        const QByteArray text("05.01.03007:09");
        QVERIFY(m_link->loadFrame(text.toStdString()));
        m_peer->expect(15).send(answer);
        QTEST(m_link->SendAcknowledgedText(14), "result");
        COMPARE_BYTES(m_peer->received(), withChecksum(text));
        QCOMPARE(m_link->SendAcknowledgedText(m_link->frame().size()), -10);
    }

    void registerRead()
    {
        // Address 10 goes out as "0Aq"; the answer is lead byte, word, checksum.
        m_peer->expect(3).send(withChecksum("x8C41"));
        QCOMPARE(m_link->RegisterRead(10), 0);
        COMPARE_BYTES(m_peer->received(), QByteArray("0Aq"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(m_link->frame().data()), 6), withChecksum("x8C41"));

        m_peer->clearReceived();
        m_peer->expect(3).send("x8C");
        QCOMPARE(m_link->RegisterRead(10), -3);
    }

    void plainRecordLengthLimit_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("result");
        QTest::newRow("8 refused, checksum left unread") << 8 << 10;
        QTest::newRow("9 accepted") << 9 << 0;
        QTest::newRow("999 accepted") << 999 << 0;
        QTest::newRow("1000 refused") << 1000 << -100;
    }

    void plainRecordLengthLimit()
    {
        QFETCH(int, length);
        QFETCH(int, result);
        const QByteArray data = "1" + QByteArray(length - 1, 'r');
        const char sum = char(checksum(data.toStdString()));
        m_peer->send(data + '\x03' + sum);
        TerminalLink::Sequence seq;
        std::string got;
        QCOMPARE(m_link->ReceiveRecord(RecordKind::Plain, seq, &got), result);
        QVERIFY(m_peer->waitReceived(1));
        QCOMPARE(m_peer->received(), b(result == 0 ? ACK : NAK));
        QCOMPARE(int(got.size()), result == 0 ? length : 0);
        if (result == 10)
            QCOMPARE(char(m_link->ReadByte(TerminalLink::kStandardAttempts)), sum);
    }

    void identificationRecord_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("record");
        const QByteArray rec("12/CDAB89674523011F");
        const char sum = char(checksum(rec.toStdString()));
        QTest::newRow("plain element") << (rec + '\x03' + sum) << 0 << rec;
        QTest::newRow("blanks and high bytes skipped")
            << (QByteArray("12/ CDAB\x80" "8967\r\n45230\xFF" "11F") + '\x03' + sum) << 0 << rec;
        QTest::newRow("no slash") << (QByteArray("12CDAB") + '\x03' + char(checksum("12CDAB"))) << 10 << QByteArray();
        QTest::newRow("short, still taken") << (QByteArray("7/") + '\x03' + char(checksum("7/"))) << 0 << QByteArray("7/");
    }

    void identificationRecord()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, record);
        m_peer->send(wire);
        TerminalLink::Sequence seq;
        seq.previous = 5;
        std::string got;
        QTEST(m_link->ReceiveRecord(RecordKind::Identification, seq, &got), "result");
        QCOMPARE(QByteArray::fromStdString(got), record);
    }

    void onlineBlockNeverPastTheBuffer_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("result");
        QByteArray fifty, fiftyOne;
        for (int i = 0; i < 50; ++i)
            fifty += QByteArray::fromStdString(eventRecord(i)) + '\r';
        fiftyOne = fifty + QByteArray::fromStdString(eventRecord(50)) + '\r';
        QTest::newRow("50 records fill 1000 positions") << fifty << 0;
        QTest::newRow("51 records") << fiftyOne << 80;
        QTest::newRow("CRs alone") << QByteArray(1500, '\r') << 80;
        QTest::newRow("endless noise") << QByteArray(20000, '\x85') << 80;
    }

    void onlineBlockNeverPastTheBuffer()
    {
        QFETCH(QByteArray, data);
        m_peer->send("S\x02" + data + '\x03' + blockSum(data));
        int count = 0;
        QTEST(m_link->ReceiveOnlineBlock(&count), "result");
        QVERIFY(m_link->frameText(0).size() <= TerminalLink::kMaxBlockPositions);
    }

    void textLineLongerThanTheBuffer()
    {
        m_peer->send(QByteArray(3000, 'n') + "\r");
        std::string got;
        QCOMPARE(m_link->ReceiveTextLine(&got), 0);
        QCOMPARE(got.size(), TerminalLink::kFrameBufferSize - 1);
    }

private:
    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<TerminalLink> m_link;
};

QTEST_APPLESS_MAIN(TestLink)
#include "tst_link.moc"
