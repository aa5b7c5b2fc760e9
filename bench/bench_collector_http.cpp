// rk40-collector's HTTP API: how soon a block reaches an open event stream
// after the terminal has its acknowledgement (target: under 200 ms, median
// and worst of 50), and how fast events are found in a store of one million
// (GET /api/v1/events?card=..., and one day with limit=10000; target:
// median under 50 ms each).

#include "CollectorBench.h"
#include "Store.h"

#include "rk40sim/Terminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kEvents = 1000000;
constexpr int kPerDay = 3000;
constexpr int kCards = 5000;

// One GET; the status, the body's size in `bytes`.
int get(quint16 port, const QByteArray& path, const QByteArray& token, qint64* bytes)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(30000))
        return 0;
    s.write("GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Bearer " + token + "\r\n\r\n");
    QByteArray in;
    while (s.waitForReadyRead(30000) || s.bytesAvailable()) {
        in += s.readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        const auto m = QRegularExpression("(?i)content-length:\\s*(\\d+)").match(QString::fromLatin1(in.left(end)));
        if (end > 0 && m.hasMatch() && in.size() >= end + 4 + m.captured(1).toLongLong()) {
            *bytes = m.captured(1).toLongLong();
            return in.mid(9, 3).toInt();
        }
    }
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char* what, double value, double target)
{
    std::printf("%-58s %8.1f ms  (target < %.0f ms) %s\n", what, value, target, value < target ? "ok" : "MISSED");
}

QDate dayOf(int i) { return QDate(2025, 1, 1).addDays(i / kPerDay); }

void fillStore(const QString& path)
{
    collector::Store store;
    QString error;
    if (!store.open(path, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO events (received_at, port, terminal, event_date, event_time, source, card, raw, "
                       "mqtt_pending) VALUES ('2025-01-01T00:00:00Z', 'COM1', 1, ?, ?, 'T1', ?, ?, 0)",
                       -1, &s, nullptr);
    auto* random = QRandomGenerator::global();
    for (int i = 0; i < kEvents; ++i) {
        const QByteArray date = dayOf(i).toString(Qt::ISODate).toLatin1();
        const int minute = (i % kPerDay) * 1440 / kPerDay;
        const QByteArray time = QString::asprintf("%02d:%02d", minute / 60, minute % 60).toLatin1();
        const QByteArray card = QString::asprintf("%08d", int(random->bounded(kCards))).toLatin1();
        const QByteArray raw = "0" + date.mid(8, 2) + date.mid(5, 2) + date.right(1) + time.left(2) + time.right(2) + "0" + card + "1";
        sqlite3_bind_text(s, 1, date.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, time.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 3, card.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 4, raw.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QByteArray token = bench::privateCollectorSite(dir);
    const QString program = app.applicationDirPath() + "/rk40-collector";

    const QString db = dir.filePath("events.sqlite");
    QElapsedTimer fill;
    fill.start();
    fillStore(db);
    std::printf("store of %d events written in %.1f s\n", kEvents, double(fill.elapsed()) / 1000.0);

    rk40sim::Terminal terminal;
    const quint16 port = bench::freePort();
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(program, {"run", "--http", QString::number(port), "--db", db, "--register-file",
                            dir.filePath("reg.txt"), "--port", QString::fromStdString(terminal.slavePath())});
    qint64 bytes = 0;
    for (int i = 0; i < 600 && get(port, "/api/v1/terminals", token, &bytes) != 200; ++i)
        QThread::msleep(100);
    bool ok = true;

    std::vector<double> card, day;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        const int status = get(port, "/api/v1/events?card=" + QString::asprintf("%08d", i * 97 % kCards).toLatin1(), token, &bytes);
        card.push_back(double(t.nsecsElapsed()) / 1e6);
        ok = ok && status == 200;
    }
    for (int i = 0; i < 20; ++i) {
        const QByteArray d = dayOf(kPerDay * (i * 13 % (kEvents / kPerDay))).toString(Qt::ISODate).toLatin1();
        QElapsedTimer t;
        t.start();
        const int status = get(port, "/api/v1/events?since=" + d + "&until=" + d + "&limit=10000", token, &bytes);
        day.push_back(double(t.nsecsElapsed()) / 1e6);
        ok = ok && status == 200 && bytes > kPerDay * 100;
    }
    report("GET /api/v1/events?card= over 1,000,000 events, median", median(card), 50);
    report("GET one day (3,000 events, limit=10000), median", median(day), 50);

    // Block acknowledged -> event on the stream.
    QTcpSocket stream;
    stream.connectToHost(QHostAddress::LocalHost, port);
    stream.waitForConnected(30000);
    stream.write("GET /api/v1/events/stream HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token + "\r\n\r\n");
    QByteArray got;
    while (!got.contains("retry:") && stream.waitForReadyRead(30000))
        got += stream.readAll();
    std::vector<double> latency;
    for (int i = 0; i < 50; ++i) {
        got.clear();
        terminal.sendOnlineBlock('S', {QString::asprintf("0712608%02d0%08d1", i % 60, i).toStdString()});
        terminal.waitBlockDone(std::chrono::milliseconds(30000));
        QElapsedTimer t;
        t.start();
        while (!got.contains("\ndata: ") && t.elapsed() < 30000) {
            stream.waitForReadyRead(50);
            got += stream.readAll();
        }
        latency.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    report("block ACK -> event on the stream, median of 50", median(latency), 200);
    report("block ACK -> event on the stream, worst of 50", *std::max_element(latency.begin(), latency.end()), 200);

    service.terminate();
    service.waitForFinished(60000);
    return ok ? 0 : 1;
}
