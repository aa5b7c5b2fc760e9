// The store on its own: record decoding, taking the register file by
// offset (nothing twice, a half-written last line waits) through renames,
// replacements and shortening, the schema version, paged queries; and the
// daily clock time across daylight-saving changes.

#include "BlockLedger.h"
#include "Collector.h"
#include "RegisterFollower.h"
#include "Store.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <sqlite3.h>
#include <sys/stat.h>

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
    for (const EventRow& r : store.query({}, &error, {0, 100000}))
        out << r.raw;
    return out;
}

int take(Store& store, const QString& reg, collector::BlockLedger* ledger = nullptr)
{
    collector::RegisterFollower follower(reg);
    const auto out = store.ingest(follower, ledger, false);
    return out.ok() ? out.added : -1;
}

collector::BlockMark markAtEnd(const QString& path, int records, const QString& port)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return {std::int64_t(st.st_dev), std::int64_t(st.st_ino), std::int64_t(st.st_size), records, port};
}

const QByteArray kA = "0712608150AAAA00011\r\n", kB = "0712608160BBBB00022\r\n", kC = "0712608170CCCC00033\r\n",
                 kX = "0812609000XXXX00041\r\n", kY = "0812609010YYYY00052\r\n", kZ = "0812609020ZZZZ00063\r\n";

QStringList lines(const QByteArray& text)
{
    return QString::fromLatin1(text).split("\r\n", Qt::SkipEmptyParts);
}

} // namespace

class StoreTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Store> m_store;   // open on db
    QString error, reg, db;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        reg = m_dir->filePath("reg.txt");
        db = m_dir->filePath("events.sqlite");
        m_store = std::make_unique<Store>();
        QVERIFY2(m_store->open(db, &error), qPrintable(error));
    }
    void cleanup()
    {
        m_store.reset();
        m_dir.reset();
    }

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
        Store& store = *m_store;
        collector::BlockLedger ledger;
        QCOMPARE(take(store, reg), 0);  // no file yet

        // Two records and half a third, as a crash in the middle of a write leaves it.
        append(reg, "0712608150ABCD12341\r\n0712608160ABCD12352\r\n");
        ledger.add(markAtEnd(reg, 1, "COM1"));
        append(reg, "07126081");
        QCOMPARE(take(store, reg, &ledger), 2);
        QCOMPARE(store.registerPosition(reg)->offset, qint64(42));
        QCOMPARE(take(store, reg, &ledger), 0);
        append(reg, "70ABCD12363\r\n0712608180ABCD12374\r\n");
        ledger.add(markAtEnd(reg, 1, "COM2"));
        QCOMPARE(take(store, reg, &ledger), 2);
        QVERIFY(ledger.snapshot().empty());  // used marks go
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
        QVERIFY(again.open(db, &error));
        append(reg, "0712608190ABCD12385\n");
        QCOMPARE(take(again, reg), 1);
        QCOMPARE(raws(again).size(), 5);
    }

    void filtersQueries()
    {
        Store& store = *m_store;
        append(reg, "0612608150AAAA00011\r\n0712608150BBBB00022\r\n0712617304CCCC00031\r\n0812600000AAAA00011\r\n");
        QCOMPARE(take(store, reg), 4);
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

        // Page by page, each after the last id of the one before.
        QStringList paged;
        collector::Page page{0, 3};
        for (auto rows = store.query({}, &error, page); !rows.empty(); rows = store.query({}, &error, page)) {
            QVERIFY(rows.size() <= 3);
            for (const auto& r : rows)
                paged << r.card;
            page.afterId = rows.back().id;
        }
        QCOMPARE(paged.join(' '), QString("AAAA0001 BBBB0002 CCCC0003 AAAA0001"));
    }

    // The store has taken A and B; then the register file is changed, and
    // what the next ingests take must be every record once.
    void followsTheRegisterFileThroughChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("shortened by a power cut, then appended to") << "shortened" << lines(kA + kB + kC);
        QTest::newRow("replaced while stopped by a longer file") << "replaced" << lines(kA + kB + kX + kY + kZ);
        QTest::newRow("written anew in place") << "rewritten" << lines(kA + kB + kX + kY + kZ);
        QTest::newRow("rotated while stopped, old one appended to") << "rotated stopped" << lines(kA + kB + kC + kX);
        QTest::newRow("a copy put back") << "copy" << lines(kA + kB + kC);
        QTest::newRow("rotated while the controls append") << "rotated running" << lines(kA + kB + kC + kY + kX + kZ);
        QTest::newRow("a store of the path alone (version 1)") << "legacy" << lines(kA + kB + kC);
    }
    void followsTheRegisterFileThroughChanges()
    {
        QFETCH(QString, change);
        Store& store = *m_store;
        const QString old = m_dir->filePath("reg.txt.1"), fresh = m_dir->filePath("new");
        collector::RegisterFollower running(reg);
        running.setWritersActive(true);
        append(reg, kA + kB);
        QCOMPARE(store.ingest(running, nullptr, false).added, 2);
        auto replace = [&](const QByteArray& bytes) {
            QFile::remove(fresh);
            append(fresh, bytes);
            QVERIFY(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(reg).constData()) == 0);
        };
        if (change == "shortened") {
            QVERIFY(QFile::resize(reg, kA.size() + 5));
            QCOMPARE(take(store, reg), 0);
            append(reg, kC);
            QCOMPARE(take(store, reg), 1);
        } else if (change == "replaced") {
            replace(kX + kY + kZ);
        } else if (change == "rewritten") {
            QVERIFY(QFile::resize(reg, 0));
            append(reg, kX + kY + kZ);
        } else if (change == "rotated stopped") {
            QVERIFY(QFile::rename(reg, old));
            append(old, kC);
            append(reg, kX);
        } else if (change == "copy") {
            replace(kA + kB + kC);   // what the file held, and more
        } else if (change == "legacy") {
            sqlite3* h = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &h), SQLITE_OK);
            QCOMPARE(sqlite3_exec(h, "UPDATE register_files SET device = NULL, inode = NULL, head_length = 0", nullptr,
                                  nullptr, nullptr), SQLITE_OK);
            sqlite3_close(h);
            append(reg, kC);
        } else if (change == "rotated running") {
            // The controls keep appending to the renamed file until they
            // have switched; the new file waits until then.
            QVERIFY(QFile::rename(reg, old));
            append(reg, kY);
            append(old, kC);
            QCOMPARE(store.ingest(running, nullptr, false).added, 1);
            QVERIFY(running.rotationPending());
            running.releaseOld();
            append(reg, kX);
            QCOMPARE(store.ingest(running, nullptr, false).added, 2);
            append(reg, kZ);
            QCOMPARE(store.ingest(running, nullptr, false).added, 1);
            QVERIFY(!running.rotationPending());
        }
        if (change != "rotated running")
            take(store, reg);
        QTEST(raws(store), "stored");
        QCOMPARE(take(store, reg), 0);  // and nothing more on another look
    }

    void dailyClockKeepsItsHourAcrossDaylightSaving_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QTime>("at");
        QTest::addColumn<QDateTime>("next");
        const QTimeZone zone("Europe/Zagreb");
        QTest::newRow("before the change to summer time")
            << QDateTime({2026, 3, 28}, {4, 0}, zone) << QTime(3, 30) << QDateTime({2026, 3, 29}, {3, 30}, zone);
        QTest::newRow("a time summer time skips")
            << QDateTime({2026, 3, 28}, {4, 0}, zone) << QTime(2, 30) << QDateTime({2026, 3, 29}, {3, 0}, zone);
        QTest::newRow("before the change to winter time")
            << QDateTime({2026, 10, 24}, {4, 0}, zone) << QTime(3, 30) << QDateTime({2026, 10, 25}, {3, 30}, zone);
        QTest::newRow("later today") << QDateTime({2026, 12, 8}, {1, 0}, zone) << QTime(3, 30)
                                     << QDateTime({2026, 12, 8}, {3, 30}, zone);
    }
    void dailyClockKeepsItsHourAcrossDaylightSaving()
    {
        QFETCH(QDateTime, now);
        QFETCH(QTime, at);
        QFETCH(QDateTime, next);
        if (!now.timeZone().isValid())
            QSKIP("no time zone data on this machine");
        const QDateTime got = collector::nextDaily(now, at);
        QCOMPARE(got, next);
        QCOMPARE(got.time(), next.time());
    }

    void refusesAStoreOfANewerSchema()
    {
        QCOMPARE(m_store->schemaVersion(), collector::kSchemaVersion);
        m_store.reset();
        sqlite3* h = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &h), SQLITE_OK);
        QCOMPARE(sqlite3_exec(h, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(h);
        Store store;
        QVERIFY(!store.open(db, &error));
        QVERIFY2(error.contains("newer"), qPrintable(error));
        Store reader;
        QVERIFY(!reader.openReadOnly(db, &error));
        QVERIFY2(error.contains("99"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"
