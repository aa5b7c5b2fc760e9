// Frames, checksums and decoders of the terminal protocol, byte for byte.

#include "TestBytes.h"
#include "control/protocol/Protocol.h"
#include "control/protocol/Results.h"

#include <QTest>

using namespace rk40::protocol;

using testsupport::bytes;

namespace {

std::vector<std::uint8_t> vec(const QByteArray& a)
{
    return std::vector<std::uint8_t>(a.begin(), a.end());
}
} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void resultWords()
    {
        using rk40::result::Family;
        // The same number means different things in different families; a
        // family falls back on the words of the exchange it is built on, and a
        // code it does not give is named as unknown.
        const struct {
            Family family;
            int code;
            const char* words;
        } rows[] = {
            {Family::Opening, 0, "done"},
            {Family::Opening, 1, "the terminal did not answer the command opening"},
            {Family::Opening, 2, "unknown result 2"},
            {Family::ConfirmedFrame, -3, "the terminal could not carry the command out"},
            {Family::ConfirmedFrame, 1, "unknown result 1"},
            {Family::AcknowledgedText, -20, "the terminal did not answer the text"},
            {Family::RecordUpload, 250, "the terminal fell silent after 0 bytes of the record"},
            {Family::RecordUpload, 1274, "the terminal fell silent after 1024 bytes of the record"},
            {Family::RecordUpload, 249, "unknown result 249"},
            {Family::RecordUpload, 1275, "unknown result 1275"},
            {Family::TextLine, -1, "unknown result -1"},
            {Family::OnlineBlock, 0, "block accepted"},
            {Family::Register, -4, "address outside 0..255 or value outside 0..65535"},
            {Family::Status, 13, "the terminal took the status request but sent no status"},
            {Family::Status, 1, "the terminal did not answer the command opening"},
            {Family::Status, 3, "unknown result 3"},
            {Family::ClockCopy, 3, "the terminal did not take the clock"},
            {Family::ClockCopy, 12, "unknown result 12"},
            {Family::Message, 4, "the message holds a character the line cannot carry; nothing was sent"},
            {Family::Message, -1, "no port is open"},
            {Family::IdElement, 1, "the port is not open or busy, or the terminal did not answer"},
            {Family::IdElement, -1, "no port is open, or the terminal did not answer the frame"},
            {Family::IdElement, -3, "the terminal could not carry the command out"},
            {Family::IdElement, 5, "unknown result 5"},
        };
        for (const auto& r : rows)
            QCOMPARE(QString::fromStdString(rk40::result::describeResult(r.family, r.code)), QString(r.words));
    }

    void checksums_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("expected");
        QTest::newRow("abc") << QByteArray("abc") << 0x60;
        QTest::newRow("0A") << QByteArray("0A") << 0x71;
        QTest::newRow("0A8000") << QByteArray("0A8000") << 0x79;
        QTest::newRow("empty") << QByteArray() << 0x20;
        QTest::newRow("never a control byte") << QByteArray("\x01\x02", 2) << 0x23;
        QTest::newRow("high bytes") << QByteArray("\xC0\x0F", 2) << 0xEF;
    }

    void checksums()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, expected);
        QCOMPARE(int(rk40::protocol::checksum(std::string_view(data.constData(), size_t(data.size())))), expected);
        const auto v = vec(data);
        QCOMPARE(int(rk40::protocol::checksum(std::span<const std::uint8_t>(v))), expected);
    }

    void registerRequests()
    {
        const auto read10 = registerReadRequest(10);
        QVERIFY(read10);
        COMPARE_BYTES(bytes(*read10), QByteArray("0Aq"));
        COMPARE_BYTES(bytes(*registerReadRequest(255)), QByteArray("FF") + char(('F' ^ 'F') | 0x20));
        QVERIFY(!registerReadRequest(256));
        QVERIFY(!registerReadRequest(-1));

        const auto write10 = registerWriteRequest(10, 32768);
        QVERIFY(write10);
        COMPARE_BYTES(bytes(*write10), QByteArray("0A8000\x79"));
        COMPARE_BYTES(bytes(*registerWriteRequest(0x27, 0xBEEF)).left(6), QByteArray("27BEEF"));
        QVERIFY(registerWriteRequest(0, 0xFFFF));
        QVERIFY(!registerWriteRequest(0, 0x10000));
        QVERIFY(!registerWriteRequest(0, -1));
        QVERIFY(!registerWriteRequest(300, 0));
    }

    void registerAnswer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("word"); // null: refused
        const char sum = char(rk40::protocol::checksum(std::string_view("8C41")));
        QTest::newRow("good") << (QByteArray("x8C41") + sum) << QString("8C41");
        QTest::newRow("lower case kept") << (QByteArray("x8c41") + char(rk40::protocol::checksum(std::string_view("8c41")))) << QString("8c41");
        QTest::newRow("checksum off by one") << (QByteArray("x8C41") + char(sum + 1)) << QString();
        QTest::newRow("digit corrupted") << (QByteArray("x8C40") + sum) << QString();
        QTest::newRow("not hexadecimal, checksum right")
            << (QByteArray("x8CG1") + char(rk40::protocol::checksum(std::string_view("8CG1")))) << QString();
        QTest::newRow("lead byte not examined") << (QByteArray("\x7f" "8C41") + sum) << QString("8C41");
    }

    void registerAnswer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, word);
        QCOMPARE(answer.size(), 6);
        std::array<std::uint8_t, 6> a{};
        std::copy(answer.begin(), answer.end(), a.begin());
        const auto decoded = decodeRegisterAnswer(a);
        if (word.isNull()) {
            QVERIFY(!decoded);
        } else {
            QVERIFY(decoded);
            QCOMPARE(QString::fromStdString(*decoded), word);
        }
    }

    void byteClasses()
    {
        // Whole records and blocks over the line are in the link's tests;
        // here the edges of each class.
        QCOMPARE(classifyRecordByte(RecordKind::Plain, 0xC8), RecordByte::Data);
        QCOMPARE(classifyRecordByte(RecordKind::Identification, ' '), RecordByte::Skipped);
        QCOMPARE(classifyRecordByte(RecordKind::Identification, '!'), RecordByte::Data);
        QCOMPARE(classifyRecordByte(RecordKind::Identification, 0x7F), RecordByte::Data);
        QCOMPARE(classifyRecordByte(RecordKind::Identification, 0x80), RecordByte::Skipped);
        QCOMPARE(classifyBlockByte(0x0C), BlockByte::Skipped);
        QCOMPARE(classifyBlockByte(0x0E), BlockByte::Data);
        QCOMPARE(classifyBlockByte(0x7F), BlockByte::Data);
        QCOMPARE(classifyBlockByte(0x80), BlockByte::Skipped);
    }

    void sequenceNumbers_data()
    {
        QTest::addColumn<bool>("identification");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("expected"); // -1000: none
        QTest::newRow("plain digit") << false << QByteArray("5abcdefgh") << 5;
        QTest::newRow("plain letter") << false << QByteArray("Aabcdefgh") << ('A' - '0');
        QTest::newRow("plain below zero") << false << QByteArray("!abcdefgh") << ('!' - '0');
        QTest::newRow("plain empty") << false << QByteArray() << -1000;
        QTest::newRow("element") << true << QByteArray("12/CDAB89674523011F") << 12;
        QTest::newRow("element zero") << true << QByteArray("0/CDAB89674523011F") << 0;
        QTest::newRow("element no number") << true << QByteArray("/CDAB") << 0;
        QTest::newRow("element huge") << true << QByteArray("999999999/CD") << 32767;
        QTest::newRow("element huge negative") << true << QByteArray("-999999999/CD") << -32768;
        QTest::newRow("element plus, digits then text") << true << QByteArray("+12x3/CD") << 12;
        QTest::newRow("element without slash") << true << QByteArray("12CDAB") << -1000;
    }

    void sequenceNumbers()
    {
        QFETCH(bool, identification);
        QFETCH(QByteArray, record);
        QFETCH(int, expected);
        const auto n = recordSequenceNumber(identification ? RecordKind::Identification : RecordKind::Plain,
                                            std::string_view(record.constData(), size_t(record.size())));
        if (expected == -1000)
            QVERIFY(!n);
        else
            QCOMPARE(int(n.value_or(-1000)), expected);
    }

    void identifiers()
    {
        QCOMPARE(reverseIdentifier("0123456789ABCD").value_or(""), std::string("CDAB8967452301"));
        QCOMPARE(reverseIdentifier("EFAB8967452301").value_or(""), std::string("0123456789ABEF"));
        QCOMPARE(reverseIdentifier("0123456789abef").value_or(""), std::string("efab8967452301"));
        QVERIFY(!reverseIdentifier("0123456789ABC"));
        QVERIFY(!reverseIdentifier("0123456789ABCDE"));
        QVERIFY(!reverseIdentifier("0123456789ABCG"));
        QVERIFY(!reverseIdentifier(""));
    }

    void idElementFrames()
    {
        // The frames of AddIDElement and KillIDElement are pinned on the wire
        // (the control's terminal tests); here the ends of the access byte.
        QCOMPARE(idElementFrame("0123456789ABCD", killAccessByte(0)).value_or("").substr(14, 2), std::string("80"));
        QCOMPARE(idElementFrame("0123456789ABCD", 255).value_or("").substr(14, 2), std::string("FF"));
    }

    void idElementDecoding()
    {
        // A whole element is decoded end to end (the terminal tests' RxIDTElement).
        QVERIFY(!decodeIdElement("12CDAB89674523011F"));
        const auto shortOne = decodeIdElement("3/CDAB");
        QVERIFY(shortOne);
        QCOMPARE(shortOne->identifier, std::string("ABCD"));
        QCOMPARE(shortOne->accessByte, 0);
        QCOMPARE(decodeIdElement("1/CDAB89674523011G")->accessByte, 1); // read up to the first non-hexadecimal digit
    }

    void statusBlock_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("inBuffer");
        QTest::newRow("no CR at all") << QByteArray("abcdefg") << "defg" << "" << "";
        QTest::newRow("zero bytes skipped, and inside a text") << QByteArray("\0\0\0F\0W\r\0\0\0" "08.01.03307:09\r", 25)
                                                               << "F" << "08.01.03307:09" << "";
        QTest::newRow("empty") << QByteArray() << "" << "" << "";
    }

    void statusBlock()
    {
        QFETCH(QByteArray, block);
        const auto v = vec(block);
        const StatusTexts t = splitStatusBlock(v);
        QTEST(QString::fromStdString(t.firmware), "firmware");
        QTEST(QString::fromStdString(t.clock), "clock");
        QTEST(QString::fromStdString(t.inBuffer), "inBuffer");
    }

    void weekdays_data()
    {
        QTest::addColumn<QString>("clock");
        QTest::addColumn<int>("stringId");
        QTest::addColumn<QString>("rtc");
        // Sunday and Wednesday show end to end (clockCopy, getStatus).
        QTest::newRow("Monday") << "06.01.03107:09" << 101 << "06.01.03 07:09";
        QTest::newRow("Saturday") << "11.01.03607:09" << 106 << "11.01.03 07:09";
        QTest::newRow("seven") << "11.01.03707:09" << 108 << "11.01.03 07:09";
        QTest::newRow("letter") << "11.01.03X07:09" << 108 << "11.01.03 07:09";
        QTest::newRow("short") << "11.01.03" << 108 << "11.01.03";
    }

    void weekdays()
    {
        QFETCH(QString, clock);
        const std::string c = clock.toStdString();
        QTEST(weekdayStringId(c), "stringId");
        QTEST(QString::fromStdString(clockWithoutWeekday(c)), "rtc");
    }

    void clockTexts()
    {
        const std::pair<LocalTime, const char*> rows[] = {
            {{2003, 1, 5, 0, 7, 9}, "05.01.03007:09"},
            {{1999, 12, 31, 5, 23, 59}, "31.12.99523:59"},
            {{2000, 2, 29, 2, 0, 0}, "29.02.00200:00"},
            {{2105, 6, 1, 1, 12, 30}, "01.06.05112:30"}, // still 14 characters
        };
        for (const auto& [time, text] : rows)
            QCOMPARE(QString::fromStdString(clockText(time)), QString(text));
    }

    void messageTexts()
    {
        QCOMPARE(rk40::protocol::messageText("'Bar dan!"), std::string("'Bar dan!") + std::string(15, ' '));
        QCOMPARE(rk40::protocol::messageText("123456789012345678901234567890"), std::string("123456789012345678901234"));
        QCOMPARE(rk40::protocol::messageText(""), std::string(24, ' '));
    }

    void actionNames_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected"); // null: entry unchanged ("4" and "C" show end to end)
        QTest::newRow("0") << "0" << "T1";
        QTest::newRow("3") << "3" << "T4";
        QTest::newRow("9") << "9" << "S3Z";
        QTest::newRow("B") << "B" << "S4Z";
        QTest::newRow("b") << "b" << "S4Z";
        QTest::newRow("F") << "F" << "E4";
        QTest::newRow("x") << "x" << "T1";
        QTest::newRow("empty") << "" << "T1";
        QTest::newRow("1F") << "1F" << QString();
        QTest::newRow("leading zeros") << "000000000000000000000A" << "S4O";
        QTest::newRow("digits then text") << "2zz" << "T3";
    }

    void actionNames()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        const auto name = actionName(value.toStdString());
        if (expected.isNull())
            QVERIFY(!name);
        else
            QCOMPARE(QString::fromStdString(name.value_or("?")), expected);
    }

    void dates_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("currentYear");
        QTest::addColumn<QString>("expected");
        QTest::newRow("same digit") << "05013" << 2003 << "05.01.03";
        QTest::newRow("earlier digit") << "06012" << 2003 << "06.01.02";
        QTest::newRow("later digit: previous decade") << "01014" << 2003 << "01.01.94";
        QTest::newRow("decade wraps") << "01019" << 2000 << "01.01.99";
        QTest::newRow("2019") << "01019" << 2019 << "01.01.19";
        QTest::newRow("2020 digit 1") << "01011" << 2020 << "01.01.11";
        QTest::newRow("no year digit") << "0101" << 2003 << "01.01.";
        QTest::newRow("year not a digit") << "0101x" << 2003 << "01.01.";
        QTest::newRow("short") << "010" << 2003 << "01.0";
    }

    void dates()
    {
        QFETCH(QString, value);
        QFETCH(int, currentYear);
        QTEST(QString::fromStdString(dateText(value.toStdString(), currentYear)), "expected");
    }

    void eventRecord()
    {
        // Fields of whole records are shown end to end (the control's block
        // tests); a cut record leaves the fields it lacks empty.
        const EventRecord a = decodeEventRecord("050130930C0001234A3", 2003);
        QCOMPARE(a.action + ' ' + a.terminalNumber + ' ' + a.date, std::string("E1 03 05.01.03"));
        const EventRecord cut = decodeEventRecord("0501", 2003);
        QCOMPARE(cut.card + cut.terminalNumber, std::string());
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
