// termset-cli without a terminal: the command line, the configuration in
// words and the differences between two configurations.

#include "CliArguments.h"
#include "ConfigText.h"
#include "ConsolePrompter.h"
#include "core/MemoryImage.h"

#include "core/FieldCodes.h"
#include "platform/resources/Resources.h"

#include <QApplication>
#include <QTest>

using namespace termsetcli;

Q_DECLARE_METATYPE(termsetcli::Command)

namespace {

image::MemoryImage cleared()
{
    image::MemoryImage image;
    image.clear();
    return image;
}

QString hex(quint16 v) { return image::formatWord(v); }

// A language that replaces a few texts, as a language library does.
class TestLanguage final : public resources::ILanguageProvider {
public:
    QString lookup(const resources::Key& key) const override
    {
        if (key.kind == resources::Kind::String && key.id == 114)
            return QStringLiteral("Nincs hatás");
        if (key.kind == resources::Kind::Dialog && key.id == 206 && key.sub == 0)
            return QStringLiteral("Olvasó &1");
        if (key.kind == resources::Kind::Dialog && key.id == 206 && key.sub == 2023)
            return QStringLiteral("TB1x");
        return {};
    }
};

} // namespace

class CliTextTest : public QObject {
    Q_OBJECT
private slots:
    // The target as "COMn BAUD" or "HOST:TCP/SERIAL".
    void parsesCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("serial read to a file") << QStringList{"read", "--port", "COM3", "-o", "x.act"} << Command::Read
                                               << "COM3 9600" << QStringList{};
        QTest::newRow("serial write, options after and before, = form")
            << QStringList{"--baud=4800", "write", "a.act", "--port", "com10"} << Command::Write << "COM10 4800"
            << QStringList{"a.act"};
        QTest::newRow("bare port number") << QStringList{"status", "--port", "1", "--baud", "2400"} << Command::Status
                                          << "COM1 2400" << QStringList{};
        QTest::newRow("remote read with a TCP port") << QStringList{"read", "--remote", "192.0.2.7:16000", "--serial", "2"}
                                                     << Command::Read << "192.0.2.7:16000/2" << QStringList{};
        QTest::newRow("remote status without a TCP port") << QStringList{"status", "--remote", "10.1.2.3", "--serial", "0"}
                                                          << Command::Status << "10.1.2.3:0/0" << QStringList{};
        // The address is read as the network dialog reads it.
        QTest::newRow("short dotted address") << QStringList{"ports", "--remote", "127.1:15027"} << Command::Ports
                                              << "127.1:15027/-1" << QStringList{};
        QTest::newRow("diff") << QStringList{"diff", "a.act", "b.act"} << Command::Diff << "COM1 9600"
                              << QStringList{"a.act", "b.act"};
        QTest::newRow("file names after --") << QStringList{"show", "--", "--odd.act"} << Command::Show << "COM1 9600"
                                             << QStringList{"--odd.act"};
        QTest::newRow("help wins") << QStringList{"write", "--help"} << Command::Help << "" << QStringList{};
    }
    void parsesCommandLines()
    {
        QFETCH(QStringList, args);
        QFETCH(Command, command);
        const ParseResult r = parseArguments(args);
        QVERIFY2(r.arguments.has_value(), qPrintable(r.error));
        const Arguments& a = *r.arguments;
        QCOMPARE(a.command, command);
        if (command == Command::Help)
            return;
        const Target& t = a.target;
        QTEST(t.remote ? QString("%1:%2/%3").arg(t.host).arg(t.tcpPort).arg(t.serialPort)
                       : QString("COM%1 %2").arg(t.portIndex + 1).arg(t.baud),
              "target");
        QTEST(a.files, "files");
    }

    void refusesWrongCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("nothing") << QStringList{} << "no command";
        QTest::newRow("unknown command") << QStringList{"erase"} << "unknown command";
        QTest::newRow("unknown option") << QStringList{"show", "a.act", "--colour"} << "unknown option";
        QTest::newRow("missing value") << QStringList{"read", "--port"} << "needs a value";
        QTest::newRow("COM11") << QStringList{"read", "--port", "COM11"} << "COM1 to COM10";
        QTest::newRow("odd baud rate") << QStringList{"read", "--port", "COM1", "--baud", "19200"} << "2400";
        QTest::newRow("no target") << QStringList{"status"} << "--port";
        QTest::newRow("both targets") << QStringList{"read", "--port", "COM1", "--remote", "127.0.0.1", "--serial", "1"}
                                      << "not both";
        QTest::newRow("remote without serial") << QStringList{"read", "--remote", "127.0.0.1"} << "--serial";
        QTest::newRow("host name") << QStringList{"read", "--remote", "gateway.example", "--serial", "1"} << "dotted";
        QTest::newRow("address part over 255") << QStringList{"ports", "--remote", "10.0.0.256"} << "dotted";
        QTest::newRow("TCP port too low") << QStringList{"ports", "--remote", "127.0.0.1:80"} << "1024";
        QTest::newRow("serial port over 255") << QStringList{"read", "--remote", "127.0.0.1", "--serial", "256"}
                                              << "0 to 255";
        QTest::newRow("time limit on a serial port") << QStringList{"status", "--port", "COM1", "--timeout", "5"}
                                                     << "--timeout belongs to --remote";
        QTest::newRow("time limit not a number") << QStringList{"ports", "--remote", "127.0.0.1", "--timeout", "-1"}
                                                 << "whole seconds";
        QTest::newRow("write without file") << QStringList{"write", "--port", "COM1"} << "1 file name";
        QTest::newRow("diff with one file") << QStringList{"diff", "a.act"} << "2 file names";
        QTest::newRow("read with a file name") << QStringList{"read", "x.act", "--port", "COM1"} << "no file name";
        QTest::newRow("show with a port") << QStringList{"show", "a.act", "--port", "COM1"} << "no port";
        QTest::newRow("password for a read") << QStringList{"read", "--port", "COM1", "--password-file", "p"}
                                             << "belongs to write";
        QTest::newRow("output for a write") << QStringList{"write", "a.act", "--port", "COM1", "-o", "b"}
                                            << "belongs to read";
        QTest::newRow("ports with serial") << QStringList{"ports", "--remote", "127.0.0.1", "--serial", "1"}
                                           << "only --remote";
        QTest::newRow("same port twice") << QStringList{"status", "--port", "COM1", "--port", "com1"} << "COM1 given twice";
        QTest::newRow("reads of several ports to one file") << QStringList{"read", "--port", "COM1", "--port", "COM2"}
                                                            << "{port}";
        QTest::newRow("key id of 13 digits") << QStringList{"keys", "add", "0123456789ABC", "5", "--port", "COM1"}
                                             << "14 hexadecimal digits";
        QTest::newRow("access 256") << QStringList{"keys", "add", "0123456789ABCD", "256", "--port", "COM1"}
                                    << "0 to 255";
        QTest::newRow("keys through a gateway") << QStringList{"keys", "list", "--remote", "127.0.0.1", "--serial", "1"}
                                                << "local serial ports";
        QTest::newRow("--yes for a listing") << QStringList{"keys", "list", "--yes", "--port", "COM1"} << "keys clear";
    }
    void refusesWrongCommandLines()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        const ParseResult r = parseArguments(args);
        QVERIFY(!r.arguments.has_value());
        QVERIFY2(r.error.contains(complaint), qPrintable(r.error));
    }

    void clearedImageHasNoEffectAndAlways()
    {
        const std::vector<FieldText> all = describeFields(cleared());
        // 28 rows of 7 fields, 4 LEDs of 2 lights, frequency and 4 contacts.
        QCOMPARE(int(all.size()), 28 * 7 + 8 + 5);
        int actions = 0, conditions = 0;
        for (const FieldText& f : all) {
            actions += f.column.endsWith(QLatin1String("Action")) && f.value == QLatin1String("No effect");
            conditions += f.column.endsWith(QLatin1String("If")) && f.value == QLatin1String("Always");
        }
        QCOMPARE(actions, 28 * 4);
        QCOMPARE(conditions, 28 * 2);

        const QString text = showText(cleared());
        QVERIFY(text.startsWith("Reader 1\n"));
        for (const char* title : {"\nReader 2\n", "\nReader 3\n", "\nReader 4\n", "\nSensors\n", "\nEgress\n",
                                  "\nLED\n", "\nRandom\n"})
            QVERIFY2(text.contains(title), title);
        QVERIFY(text.contains("  TB1  No effect  Always  No effect  Always  No effect  No effect  FALSE\n"));
        QVERIFY(text.contains("  LED 1  ---___------  ---___------\n"));
        QVERIFY(!text.contains("On - "));
        QVERIFY(!text.contains(" S1 = ") && !text.contains(" S2 = "));
    }

    void diffNamesRowColumnAndTexts_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<quint16>("before");
        QTest::addColumn<quint16>("after");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("word 11 bits 2-3") << 11 << quint16(0x0000) << quint16(0x0004)
                                          << QStringList{"Reader 1, TB1, RELAY 2 Action: No effect -> Off"};
        QTest::newRow("two fields of TA4") << 33 << quint16(0x0000) << quint16(0x1600)
                                           << QStringList{"Reader 4, TA4, RELAY1 If: Always -> S1 = E1",
                                                          "Reader 4, TA4, RELAY 2 If: Always -> S2 = 0"};
        QTest::newRow("registration of sensor 2 closed")
            << 21 << quint16(0x0080) << quint16(0x0180)
            << QStringList{"Sensors, 2 Closed, Registration: FALSE -> TRUE"};
        QTest::newRow("egress 4 relay 4") << 29 << quint16(0x00C0) << quint16(0x0040)
                                          << QStringList{"Egress, 4, RELAY 4 Action: On - MAX -> Off"};
        QTest::newRow("LED 1 green") << 38 << quint16(0x0000) << quint16(0xC000)
                                     << QStringList{"LED, LED 1, green: ---___------ -> __--____"};
        QTest::newRow("frequency and a touch contact")
            << 39 << quint16(0x1E05) << quint16(0x1F01)
            << QStringList{"Random, Random output for RELAY 4, Frequency: 30 -> 31",
                           "Random, Random output for RELAY 4, TK3: 1 -> 0"};
        // Bits that belong to no field: a read-back row word carries bit 15.
        QTest::newRow("bits 11, 14 and 15 of a row") << 10 << quint16(0x0155) << quint16(0xC955) << QStringList{};
        QTest::newRow("bits 4-7 of the random word") << 39 << quint16(0x0100) << quint16(0x01F0) << QStringList{};
    }
    void diffNamesRowColumnAndTexts()
    {
        QFETCH(int, address);
        QFETCH(quint16, before);
        QFETCH(quint16, after);
        QFETCH(QStringList, lines);
        image::MemoryImage a = cleared(), b = cleared();
        a.setWord(address, hex(before));
        b.setWord(address, hex(after));
        QCOMPARE(diffLines(a, b), lines);
        QVERIFY(diffLines(b, b).isEmpty());
    }

    void textsFollowTheLanguage()
    {
        resources::setLanguageProvider(std::make_shared<TestLanguage>());
        image::MemoryImage b = cleared();
        b.setWord(11, "0004");
        const QStringList lines = diffLines(cleared(), b);
        const QString text = showText(cleared());
        resources::setLanguageProvider(nullptr);
        QCOMPARE(lines, QStringList{"Olvasó 1, TB1x, RELAY 2 Action: Nincs hatás -> Off"});
        QVERIFY(text.startsWith("Olvasó 1\n"));
        QVERIFY(text.contains("  TB1x  Nincs hatás"));
    }

    void mnemonicsAreDropped_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("reader") << "Reader &1" << "Reader 1";
        QTest::newRow("leading") << "&Sensors" << "Sensors";
        QTest::newRow("doubled") << "A && B" << "A & B";
        QTest::newRow("trailing") << "End&" << "End";
    }
    void mnemonicsAreDropped()
    {
        QFETCH(QString, in);
        QTEST(withoutMnemonic(in), "out");
    }

    void consolePromptsNeverWait()
    {
        QString out, err;
        ConsolePrompter prompter([&](const QString& t) { out += t; }, [&](const QString& t) { err += t; });
        prompter.message(nullptr, "Time:\t\t05:04", ui::Look::Information, "Status");
        prompter.message(nullptr, "Wrong password.", ui::Look::Stop, {});
        prompter.message(nullptr, "SOCKET ERROR function 'Connect()' Error code: 111", ui::Look::Plain, {});
        QVERIFY(!prompter.askYesNo(nullptr, "Cancel reading?", {}));
        QCOMPARE(out, QString("Time:\t\t05:04\n"));
        QCOMPARE(err, QString("termset-cli: Wrong password.\n"
                              "termset-cli: SOCKET ERROR function 'Connect()' Error code: 111\n"
                              "termset-cli: Cancel reading? No.\n"));
    }
};

QTEST_MAIN(CliTextTest)
#include "tst_cli_text.moc"
