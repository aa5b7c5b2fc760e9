// The password checksum, the transfer log line and the filling of message
// texts.

#include "core/PasswordChecksum.h"
#include "core/TransferLog.h"
#include "TestBytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s) { return QDateTime(QDate(y, mo, d), QTime(h, mi, s)); }

} // namespace

class TestPasswordLog : public QObject {
    Q_OBJECT
private slots:
    void checksum_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("check value") << QByteArray("123456789") << 0xBB3D;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("one byte") << QByteArray("A") << 0x30C0;
        QTest::newRow("high bytes") << QByteArray("\xC3\xA9\xFF\x80") << 0x34AC;
        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        QTest::newRow("every byte value") << all << 0xBAD3;
        QTest::newRow("collision 1") << QByteArray("dad") << 0xA469;
        QTest::newRow("collision 2") << QByteArray("haa") << 0xA469;
        QTest::newRow("checksum zero") << QByteArray("aghz") << 0;
    }
    void checksum()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        QCOMPARE(int(password::checksum(bytes)), expected);
    }

    // The one password rule: the low 16 bits of Param1 hold the checksum;
    // none there means no password, and nothing typed then unlocks.
    void unlocks_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("param1");
        QTest::addColumn<bool>("unlocks");
        QTest::newRow("right") << "Secret" << int(password::checksumOf("Secret")) << true;
        QTest::newRow("case differs") << "secret" << int(password::checksumOf("Secret")) << false;
        QTest::newRow("high bits ignored") << "dad" << 0x1A469 << true;
        QTest::newRow("no password set") << "" << 0 << false;
        QTest::newRow("checksum zero, none set") << "aghz" << 0x10000 << false;
    }
    void unlocks()
    {
        QFETCH(QString, typed);
        QFETCH(int, param1);
        QFETCH(bool, unlocks);
        QCOMPARE(password::unlocks(typed, param1), unlocks);
    }

    void logLine_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("tcp");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("serial COM3") << at(2026, 12, 6, 5, 4, 31) << 3 << "None" << 0
                                     << QByteArray("06.12.2026. 05:04:31   COM_PORT: 03   REMOTE: None:00000\r\n");
        QTest::newRow("remote") << at(2025, 1, 31, 23, 59, 0) << 12 << "192.168.1.20" << 15027
                                << QByteArray("31.01.2025. 23:59:00   COM_PORT: 12   REMOTE: 192.168.1.20:15027\r\n");
        QTest::newRow("line break in address") << at(2025, 1, 1, 0, 0, 0) << 1 << "a\nb" << 80
                                               << QByteArray("01.01.2025. 00:00:00   COM_PORT: 01   REMOTE: a b:00080\r\n");
    }
    void logLine()
    {
        QFETCH(QDateTime, when);
        QFETCH(int, port);
        QFETCH(QString, address);
        QFETCH(int, tcp);
        QFETCH(QByteArray, line);
        QCOMPARE(translog::formatLine(when, port, address, tcp), line);
    }

    // Lines are appended in order, after what was there, while another
    // program reads the file.
    void logAppendsWhileOthersRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log");
        testsupport::writeFile(path, "earlier line\r\n");
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QDateTime now = at(2026, 1, 2, 3, 4, 5);
        const translog::TransferLog log(path, [&] { return now; });
        QVERIFY(log.append(10, "None", 0));
        now = now.addSecs(60);
        QVERIFY(log.append(3, "None", 0));
        QCOMPARE(reader.readAll(), QByteArray("earlier line\r\n02.01.2026. 03:04:05   COM_PORT: 10   REMOTE: None:00000\r\n"
                                              "02.01.2026. 03:05:05   COM_PORT: 03   REMOTE: None:00000\r\n"));
    }

    void logFailureIsReported()
    {
        QTemporaryDir dir;
        // A plain file where the log's folder should be: no folder can be made.
        testsupport::writeFile(dir.filePath("plain"), {});
        QString error;
        const translog::TransferLog log(dir.filePath("plain/log"));
        QVERIFY(!log.append(1, "None", 0, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPasswordLog)
#include "tst_password_log.moc"
