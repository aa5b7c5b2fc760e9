// The gateway simulator: its answers (malformed requests included), clients
// served side by side, the bounded request history and the program. What each connection
// behaviour does to a client is pinned by the remote tests' fault table.

#include "GatewaySimulator.h"

#include <QProcess>

#include <atomic>
#include <thread>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace gatewaysim;

namespace {

// One exchange over loopback: sends text (a byte every `gap` when one is
// given, counting the request in `sent` once it is out whole), then reads
// until the gateway closes (or 20 s of silence).
QByteArray exchange(quint16 port, const QByteArray& text, std::chrono::milliseconds gap = {},
                    std::atomic<int>* sent = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const qsizetype piece = gap.count() > 0 ? 1 : text.size();
        for (qsizetype i = 0; i < text.size(); i += piece) {
            if (i > 0)
                std::this_thread::sleep_for(gap);
            ::send(fd, text.constData() + i, static_cast<size_t>(piece), MSG_NOSIGNAL);
        }
        if (sent)
            ++*sent;
        timeval limit{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char buffer[1024];
        for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, got);
    }
    ::close(fd);
    return reply;
}

QByteArray writeRequest(char port, const QByteArray& body, const char* length = nullptr)
{
    const QByteArray size = length ? QByteArray(length) : QByteArray::number(body.size() + 1).rightJustified(7, '0');
    return "VeTr 1 " + size + " plok " + port + " sEPT " + body + '.';
}

QByteArray body(quint16 first)
{
    QByteArray text;
    for (int address = 10; address <= 39; ++address)
        text += QByteArray::number(address).rightJustified(4, '0') + ','
                + QByteArray::number(first + address).rightJustified(5, '0') + ';';
    return text;
}

} // namespace

class TestGatewaySim : public QObject {
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("ports") << QByteArray("VeTr 1 0000000 plok 1 TEST.")
                               << QByteArray("VeTr 1 0000006 plok 1 0000 TEST 2,1,2.");
        QTest::newRow("read") << QByteArray("VeTr 1 0000000 plok 2 gEPT.")
                              << QByteArray("VeTr 1 0000331 plok 2 0000 gEPT 0010,00000;");
        const QByteArray malformed("VeTr 1 0000000 plok 0 0001 ???? ");
        QTest::newRow("malformed") << QByteArray("hello.") << malformed;
        QTest::newRow("no full stop") << QByteArray("VeTr 1 0000000 plok 1 gEPT") << malformed;
        QTest::newRow("wrong tag") << QByteArray("VeTx 1 0000000 plok 1 gEPT.") << malformed;
        QTest::newRow("length not digits") << QByteArray("VeTr 1 00x0000 plok 1 gEPT.") << malformed;
        QTest::newRow("no blank before body") << QByteArray("VeTr 1 0000000 plok 1 gEPTx.") << malformed;
        QTest::newRow("empty") << QByteArray() << malformed;
        QTest::newRow("port 10") << QByteArray("VeTr 1 0000000 plok : STAT.") << QByteArray("VeTr 1 0000000 plok : 0003 STAT ");
        QTest::newRow("access word") << QByteArray("VeTr 1 0000000 plak 1 gEPT.")
                                     << QByteArray("VeTr 1 0000000 plok 1 0002 gEPT ");
        QTest::newRow("no terminal") << QByteArray("VeTr 1 0000000 plok 3 gEPT.")
                                     << QByteArray("VeTr 1 0000000 plok 3 0003 gEPT ");
        QTest::newRow("unknown command") << QByteArray("VeTr 1 0000000 plok 1 XXXX.")
                                         << QByteArray("VeTr 1 0000000 plok 1 0004 XXXX ");
        QTest::newRow("write length") << writeRequest('1', body(0), "0000330")
                                      << QByteArray("VeTr 1 0000000 plok 1 0005 sEPT ");
        QTest::newRow("write item") << writeRequest('1', body(0).replace(4, 1, ";"))
                                    << QByteArray("VeTr 1 0000000 plok 1 0005 sEPT ");
        QTest::newRow("write value") << writeRequest('1', "0010,65536;") << QByteArray("VeTr 1 0000000 plok 1 0005 sEPT ");
        QTest::newRow("write") << writeRequest('1', body(0)) << QByteArray("VeTr 1 0000001 plok 1 0000 sEPT .");
    }

    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        GatewaySimulator simulator;
        QVERIFY(simulator.answer(request).startsWith(reply));
    }

    // Two clients trickle their requests a byte every half second; a third is
    // answered while they are still at it, and then they are answered too.
    void slowClientsHoldUpNoOther()
    {
        GatewaySimulator simulator;
        QVERIFY(simulator.start());
        const QByteArray request("VeTr 1 0000000 plok 1 STAT.");
        std::atomic<int> sent{0};   // slow clients whose whole request is out
        QByteArray slowReplies[2];
        std::vector<std::thread> slow;
        for (QByteArray& reply : slowReplies)
            slow.emplace_back([&, port = simulator.port()] { reply = exchange(port, request, std::chrono::milliseconds(500), &sent); });
        QTest::qWait(1000);   // both slow clients are connected and sending
        const QByteArray quick = exchange(simulator.port(), "VeTr 1 0000000 plok 0 TEST.");
        const int slowSent = sent;
        for (std::thread& t : slow)
            t.join();
        QVERIFY2(quick.endsWith(" 0000 TEST 2,1,2."), quick.constData());
        QCOMPARE(slowSent, 0);
        for (const QByteArray& reply : slowReplies)
            QVERIFY2(reply.startsWith("VeTr 1 ") && reply.mid(22, 4) == "0000", reply.constData());
    }

    void historyIsBounded()
    {
        GatewaySimulator simulator;
        QVERIFY(simulator.start());
        for (int i = 0; i < kRequestHistory + 10; ++i)
            exchange(simulator.port(), QByteArray::number(i) + '.');
        const QList<QByteArray> kept = simulator.requests();
        QCOMPARE(kept.size(), kRequestHistory);
        // The latest ones, oldest first.
        QCOMPARE(kept.first(), QByteArray("10."));
        QCOMPARE(kept.last(), QByteArray::number(kRequestHistory + 9) + '.');
    }

    void program()
    {
        QProcess process;
        process.start(QStringLiteral(GATEWAY_SIM_PATH), {QStringLiteral("--port"), QStringLiteral("0"),
                                                         QStringLiteral("--serial-ports"), QStringLiteral("4,7")});
        QVERIFY2(process.waitForStarted(20'000), qPrintable(process.errorString()));
        QVERIFY(process.waitForReadyRead(20'000));
        bool ok = false;
        const uint port = process.readLine().trimmed().toUInt(&ok);
        QVERIFY(ok && port > 0 && port <= 65535);

        QCOMPARE(exchange(static_cast<quint16>(port), "VeTr 1 0000000 plok 1 TEST."),
                 QByteArray("VeTr 1 0000006 plok 1 0000 TEST 2,4,7."));

        // A command on its input changes the replies that follow.
        process.write("error 42\n");
        QVERIFY(process.waitForReadyRead(20'000));
        QCOMPARE(process.readLine(), QByteArray("ok\n"));
        QCOMPARE(exchange(static_cast<quint16>(port), "VeTr 1 0000000 plok 4 gEPT."),
                 QByteArray("VeTr 1 0000000 plok 4 0042 gEPT "));

        process.terminate();
        QVERIFY(process.waitForFinished(20'000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestGatewaySim)
#include "tst_gateway_sim.moc"
