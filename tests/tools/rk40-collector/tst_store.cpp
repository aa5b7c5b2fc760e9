// The store on its own: record decoding, taking the register file by
// offset (nothing twice, a half-written last line waits), the schema version.

#include "Store.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using collector::EventRow;
using collector::Store;

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

void append(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(f.write(bytes), bytes.size());
}

QStringList raws(const Store& store)
{
    QString error;
    QStringList out;
    for (const EventRow& r : store.query({}, &error))
        out << r.raw;
    return out;
}

} // namespace

class StoreTest : public QObject {
    Q_OBJECT
private slots:
    void decodesRecords_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("year");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("card");
        QTest::addColumn<std::optional<int>>("terminal");
        QTest::newRow("reader 1, this year") << QByteArray("0712608150ABCD12341") << 2026 << "2026-12-07" << "08:15" << "T1" << "ABCD1234" << std::optional<int>(1);
        QTest::newRow("year digit after this year's: last decade") << QByteArray("311272359F000000019") << 2026 << "2017-12-31" << "23:59" << "E4" << "00000001" << std::optional<int>(9);
        QTest::newRow("decade boundary") << QByteArray("0101912005000000A00") << 2030 << "2029-01-01" << "12:00" << "S1Z" << "000000A0" << std::optional<int>(0);
        QTest::newRow("lower-case source digit") << QByteArray("150620730a123456785") << 2026 << "2022-06-15" << "07:30" << "S4O" << "12345678" << std::optional<int>(5);
        QTest::newRow("too short") << QByteArray("0712608150ABCD1234") << 2026 << "" << "" << "" << "" << std::optional<int>();
        QTest::newRow("letter in the date") << QByteArray("07X2608150ABCD12341") << 2026 << "" << "" << "" << "" << std::optional<int>();
        QTest::newRow("source not hexadecimal") << QByteArray("071260815GABCD12341") << 2026 << "" << "" << "" << "" << std::optional<int>();
    }
    void decodesRecords()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, year);
        const EventRow r = collector::decodeRecord(record, year);
        QCOMPARE(r.raw, QString::fromLatin1(record));
        QTEST(r.eventDate, "date");
        QTEST(r.eventTime, "time");
        QTEST(r.source, "source");
        QTEST(r.card, "card");
        QTEST(r.terminal, "terminal");
    }

    void takesCompleteLinesOnceEach()
    {
        QTemporaryDir dir;
        const QString reg = dir.filePath("reg.txt");
        Store store;
        QString error;
        QVERIFY2(store.open(dir.filePath("events.sqlite"), &error), qPrintable(error));
        QCOMPARE(store.ingest(reg, {}, 0, false, &error), 0);  // no file yet

        // Two records and half a third, as a crash in the middle of a write leaves it.
        append(reg, "0712608150ABCD12341\r\n0712608160ABCD12352\r\n07126081");
        QCOMPARE(store.ingest(reg, "COM1", 1, false, &error), 2);
        QCOMPARE(store.registerOffset(reg), qint64(42));
        QCOMPARE(store.ingest(reg, "COM1", 1, false, &error), 0);
        append(reg, "70ABCD12363\r\n0712608180ABCD12374\r\n");
        QCOMPARE(store.ingest(reg, "COM2", 1, false, &error), 2);
        QCOMPARE(raws(store), QStringList({"0712608150ABCD12341", "0712608160ABCD12352", "0712608170ABCD12363",
                                           "0712608180ABCD12374"}));
        // Only the block just appended belongs to the port that reported it.
        const auto rows = store.query({}, &error);
        QStringList ports;
        for (const auto& r : rows)
            ports << r.port;
        QCOMPARE(ports, QStringList({"", "COM1", "", "COM2"}));

        // A second store object (the next start) goes on from the offset.
        Store again;
        QVERIFY(again.open(dir.filePath("events.sqlite"), &error));
        append(reg, "0712608190ABCD12385\n");
        QCOMPARE(again.ingest(reg, {}, 0, false, &error), 1);
        QCOMPARE(raws(again).size(), 5);
    }

    void filtersQueries()
    {
        QTemporaryDir dir;
        const QString reg = dir.filePath("reg.txt");
        append(reg, "0612608150AAAA00011\r\n0712608150BBBB00022\r\n0712617304CCCC00031\r\n0812600000AAAA00011\r\n");
        Store store;
        QString error;
        QVERIFY(store.open(dir.filePath("events.sqlite"), &error));
        QCOMPARE(store.ingest(reg, {}, 0, false, &error), 4);
        auto cards = [&](const collector::QueryFilter& f) {
            QStringList c;
            for (const auto& r : store.query(f, &error))
                c << r.card;
            return c.join(' ');
        };
        const int thisYear = QDate::currentDate().year();
        const QString y = QString::number(thisYear - ((thisYear % 10 - 6 + 10) % 10));
        QCOMPARE(cards({y + "-12-07", {}, {}, {}, {}}), QString("BBBB0002 CCCC0003 AAAA0001"));
        QCOMPARE(cards({{}, y + "-12-07", {}, {}, {}}), QString("AAAA0001 BBBB0002 CCCC0003"));
        QCOMPARE(cards({y + "-12-07 09:00", y + "-12-07 17:30", {}, {}, {}}), QString("CCCC0003"));
        QCOMPARE(cards({{}, {}, "AAAA0001", {}, {}}), QString("AAAA0001 AAAA0001"));
        QCOMPARE(cards({{}, {}, {}, 2, {}}), QString("BBBB0002"));
        QCOMPARE(cards({{}, {}, {}, {}, "S1O"}), QString("CCCC0003"));
    }

    void refusesAStoreOfANewerSchema()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("events.sqlite");
        {
            Store store;
            QString error;
            QVERIFY(store.open(path, &error));
            QCOMPARE(store.schemaVersion(), collector::kSchemaVersion);
        }
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        Store store;
        QString error;
        QVERIFY(!store.open(path, &error));
        QVERIFY2(error.contains("newer"), qPrintable(error));
        Store reader;
        QVERIFY(!reader.openReadOnly(path, &error));
        QVERIFY2(error.contains("99"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
