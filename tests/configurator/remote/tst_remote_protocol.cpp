// Request texts, reply layout and field readers of the gateway protocol.

#include "core/MemoryImage.h"
#include "core/RemoteTransfer.h"
#include "remote/RemoteProtocol.h"

#include <QTest>

using namespace remote;

Q_DECLARE_METATYPE(std::set<quint8>)

using image::MemoryImage;

namespace {

QByteArray thirtyItems()
{
    QByteArray data;
    for (int address = 10; address <= 39; ++address)
        data += configItem(address, static_cast<quint16>(address * 1000));
    return data;
}

// A reply as a gateway sends it: 22 bytes of head, code, 6 bytes, data.
QByteArray reply(const char* code, const QByteArray& data = {})
{
    return QByteArray("VeTr 1 0000000 plok 1 ") + code + " gEPT " + data;
}

} // namespace

class TestRemoteProtocol : public QObject {
    Q_OBJECT

private slots:
    void requestTexts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("read port 1") << readConfigRequest(1) << QByteArray("VeTr 1 0000000 plok 1 gEPT.");
        QTest::newRow("status port 1") << statusRequest(1) << QByteArray("VeTr 1 0000000 plok 1 STAT.");
        QTest::newRow("port list") << listPortsRequest() << QByteArray("VeTr 1 0000000 plok 1 TEST.");
        QTest::newRow("read port 10") << readConfigRequest(10) << QByteArray("VeTr 1 0000000 plok : gEPT.");
        QTest::newRow("status port 0") << statusRequest(0) << QByteArray("VeTr 1 0000000 plok 0 STAT.");
        QTest::newRow("read port 207") << readConfigRequest(207) << QByteArray("VeTr 1 0000000 plok \xff gEPT.");
        QTest::newRow("read port 208 wraps") << readConfigRequest(208) << QByteArray("VeTr 1 0000000 plok \0 gEPT.", 27);
    }

    void requestTexts()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(text.toHex(' '), expected.toHex(' '));
    }

    // The body carries all thirty words in decimal; the request frames it.
    void writeRequest()
    {
        ConfigValues values{};
        values[2] = 0xFFFF;
        values[3] = 0x0012;
        values[29] = 0xFFFF;
        const QByteArray body = writeConfigBody(values);
        QCOMPARE(body.size(), 330);
        QCOMPARE(body.mid(0, 11), QByteArray("0010,00000;"));
        QCOMPARE(body.mid(22, 11), QByteArray("0012,65535;"));
        QCOMPARE(body.mid(33, 11), QByteArray("0013,00018;"));
        QVERIFY(body.endsWith("0039,65535;"));

        const QByteArray text = writeConfigRequest(3, body);
        QCOMPARE(text, "VeTr 1 0000331 plok 3 sEPT " + body + '.');
    }

    void fieldReaders_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("decimal");
        QTest::newRow("digits") << QByteArray("0007") << 0 << 4 << 7;
        QTest::newRow("hex letters") << QByteArray("0aF1") << 0 << 4 << 1;
        QTest::newRow("blanks count as 0") << QByteArray(" 1 2") << 0 << 4 << 102;
        QTest::newRow("past the end") << QByteArray("12") << 0 << 4 << 1200;
        QTest::newRow("start past the end") << QByteArray("12") << 22 << 4 << 0;
        QTest::newRow("offset") << QByteArray("xx65535") << 2 << 5 << 65535;
        QTest::newRow("empty") << QByteArray() << 0 << 5 << 0;
        QTest::newRow("wide field clamps") << QByteArray("99999999999999999999") << 0 << 20 << INT_MAX;
    }

    void fieldReaders()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, start);
        QFETCH(int, count);
        QTEST(decimalField(text, start, count), "decimal");
    }

    void leadingNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QByteArray("255") << 255;
        QTest::newRow("blanks and sign") << QByteArray("  +12x") << 12;
        QTest::newRow("negative") << QByteArray("\t-3") << -3;
        QTest::newRow("no digits") << QByteArray("abc") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("huge") << QByteArray("123456789012345678901234567890") << INT_MAX;
        QTest::newRow("huge negative") << QByteArray("-123456789012345678901234567890") << INT_MIN;
    }

    void leadingNumbers()
    {
        QFETCH(QByteArray, text);
        QTEST(leadingNumber(text), "value");
    }

    void replyParts()
    {
        QCOMPARE(resultCode(reply("0007")), 7);
        QCOMPARE(resultCode(reply("0000")), 0);
        QCOMPARE(resultCode("short"), 0);
        QCOMPARE(replyData(reply("0000", "2,1,3.")), QByteArrayView("2,1,3."));
        QVERIFY(replyData(reply("0000")).isEmpty());

        const QByteArray withZero("VeTr 1 0000000 plok 1 0000 gEPT 0010,00001;\0" "0011,00002;.", 55);
        QCOMPARE(replyText(withZero), QByteArrayView("VeTr 1 0000000 plok 1 0000 gEPT 0010,00001;"));
    }

    void replyComplete_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("complete");
        const int read = int(Request::ReadConfig), write = int(Request::WriteConfig);
        const int ports = int(Request::ListPorts), status = int(Request::Status);
        QTest::newRow("empty") << read << QByteArray() << false;
        QTest::newRow("25 bytes") << write << reply("0000").left(25) << false;
        QTest::newRow("write result") << write << reply("0000") << true;
        QTest::newRow("error code") << read << reply("0007") << true;
        QTest::newRow("read first piece") << read << reply("0000", thirtyItems().left(150)) << false;
        QTest::newRow("read without full stop") << read << reply("0000", thirtyItems()) << false;
        QTest::newRow("read whole") << read << reply("0000", thirtyItems() + '.') << true;
        QTest::newRow("read with line end") << read << reply("0000", thirtyItems() + ".\r\n") << true;
        QTest::newRow("read no items") << read << reply("0000", ".") << true;
        QTest::newRow("full stop before data") << read << QByteArray("VeTr 1 0000000 plok 1 0000 ....") << false;
        QTest::newRow("ports piece") << ports << reply("0000", "2,1") << false;
        QTest::newRow("ports whole") << ports << reply("0000", "2,1,3.") << true;
        QTest::newRow("status piece") << status << reply("0000", QByteArray(44, '0')) << false;
        QTest::newRow("status whole") << status << reply("0000", QByteArray(45, '0')) << true;
    }

    void replyComplete()
    {
        QFETCH(int, request);
        QFETCH(QByteArray, text);
        QTEST(remote::replyComplete(static_cast<Request>(request), text), "complete");
    }

    void readData()
    {
        // Thirty items and a full stop store thirty words.
        MemoryImage image;
        const QByteArray data = thirtyItems() + '.';
        QCOMPARE(data.size(), 331);
        QCOMPARE(remotexfer::storeConfigItems(parseConfigData(data), image), 30);
        QCOMPARE(image.word(10), QStringLiteral("2710"));   // 10000
        QCOMPARE(image.word(39), QStringLiteral("9858"));   // 39000
        QCOMPARE(image.stores(), 30);

        // 65535 is FFFF; an item with a semicolon at index 4 is skipped; items
        // come in any order; addresses wrap at 256, values at 65536.
        MemoryImage other;
        const auto items = parseConfigData("0012,65535;0013;00001;0011,00010;0266,99999;12");
        const std::vector<ConfigItem> expected{{12, 0xFFFF}, {11, 10}, {10, 99999 % 65536}};
        QCOMPARE(items, expected);
        remotexfer::storeConfigItems(items, other);
        QCOMPARE(other.word(12), QStringLiteral("FFFF"));
        QCOMPARE(other.word(13), QString());
        QCOMPARE(other.word(11), QStringLiteral("000A"));
        QCOMPARE(other.word(10), QStringLiteral("869F"));
        QVERIFY(parseConfigData("").empty());
    }

    void portLists_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<std::set<quint8>>("ports");
        QTest::newRow("duplicates") << QByteArray("3,2,1,2.") << std::set<quint8>{1, 2};
        QTest::newRow("two") << QByteArray("2,1,3.") << std::set<quint8>{1, 3};
        QTest::newRow("none") << QByteArray("0.") << std::set<quint8>{};
        QTest::newRow("empty") << QByteArray() << std::set<quint8>{};
        QTest::newRow("fewer than the count") << QByteArray("5,4,7.") << std::set<quint8>{4, 7};
        QTest::newRow("more than the count") << QByteArray("1,4,7.") << std::set<quint8>{4};
        QTest::newRow("full stops as commas") << QByteArray("2.9.8.") << std::set<quint8>{8, 9};
        QTest::newRow("modulo 256") << QByteArray("3,300,-1,256.") << std::set<quint8>{0, 44, 255};
        QTest::newRow("huge count") << QByteArray("99999999999999,1,2.") << std::set<quint8>{1, 2};
        QTest::newRow("negative count") << QByteArray("-4,1,2.") << std::set<quint8>{};
        QTest::newRow("no terminator") << QByteArray("2,5,6") << std::set<quint8>{5, 6};
        QTest::newRow("blank numbers") << QByteArray("2,,x.") << std::set<quint8>{0};
    }

    void portLists()
    {
        QFETCH(QByteArray, data);
        QTEST(parsePortList(data), "ports");
    }

    void statusBox()
    {
        const QString format = QStringLiteral(
            "Time:\t\t%s\nDate:\t\t%s\nDay of week:\t%s\nBuffered:\t\t%d\nVersion:\t\t%s\nDIP switch:\t%X\n");
        const QString days = QStringLiteral("Monday\nTuesday\nWednesday\nThursday\nFriday\nSaturday\nSunday");

        const RemoteStatus status = parseStatus("05:04 06.12.26 2 0017 06.29 00003 00001 00255.");
        // The text shows the other columns.
        QCOMPARE(status.resetCount, 3);
        QCOMPARE(status.fatalResets, 1);
        QCOMPARE(status.dipSwitch, 255);
        QCOMPARE(statusText(status, format, days),
                 QStringLiteral("Time:\t\t05:04\nDate:\t\t06.12.26\nDay of week:\tWednesday\nBuffered:\t\t17\n"
                                "Version:\t\t06.29\nDIP switch:\tFF\n"));

        // Nothing at all: empty texts, zero numbers, the first day name.
        QCOMPARE(statusText(parseStatus({}), format, days),
                 QStringLiteral("Time:\t\t\nDate:\t\t\nDay of week:\tMonday\nBuffered:\t\t0\nVersion:\t\t\nDIP switch:\t0\n"));
        // A day digit without a name gives an empty name; a cut column is shorter.
        const RemoteStatus odd = parseStatus("12:00 01.01.27 9 12");
        QCOMPARE(statusText(odd, QStringLiteral("[%s][%s][%s][%d]"), days), QStringLiteral("[12:00][01.01.27][][12]"));
    }

    void formatting_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("in order") << "%s=%d (%X)" << "abc=42 (FF)";
        QTest::newRow("percent") << "100%% %s" << "100% abc";
        QTest::newRow("width and zeros") << "[%5s][%04d][%-4X]" << "[  abc][0042][FF  ]";
        QTest::newRow("hex digits") << "%s%d%02x" << "abc42ff";
        QTest::newRow("precision") << "%.2s %.4d" << "ab 0042";
        QTest::newRow("kinds swapped") << "%d %s" << "0 ";
        QTest::newRow("too many conversions") << "%s %d %d %s %d" << "abc 42 255  0";
        QTest::newRow("unknown conversion") << "%q %s" << "%q abc";
        QTest::newRow("lone percent") << "50%" << "50%";
        QTest::newRow("long modifier") << "%ld" << "0";
    }

    void formatting()
    {
        QFETCH(QString, format);
        QTEST(resources::formatText(format, {QStringLiteral("abc"), 42, 255}), "expected");
    }

    void tcpPorts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");   // -1: rejected
        QTest::newRow("default") << "15027" << 15027;
        QTest::newRow("lowest") << "1024" << 1024;
        QTest::newRow("highest") << "65535" << 65535;
        QTest::newRow("below") << "1023" << -1;
        QTest::newRow("above") << "65536" << -1;
        QTest::newRow("blanks around") << " 2000 " << 2000;
        QTest::newRow("sign") << "+2000" << -1;
        QTest::newRow("letters") << "20a0" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("long") << "000002000" << -1;
    }

    void tcpPorts()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        const auto parsed = parseTcpPort(text);
        QCOMPARE(parsed.has_value() ? int(*parsed) : -1, port);
    }
};

QTEST_APPLESS_MAIN(TestRemoteProtocol)
#include "tst_remote_protocol.moc"
