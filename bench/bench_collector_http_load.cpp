// rk40-collector's HTTP API under load: 20 event-stream clients and 50 API
// requests a second for 60 s while two terminals send blocks at the
// simulator's flood rate. Afterwards: every acknowledged record is in the
// register file and in the store once, every stream client has had every
// event, and the idle collector's processor use is back under its target
// (2 % of one core).

#include "CollectorBench.h"

#include "rk40sim/Terminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kStreams = 20;
constexpr int kRequestsPerSecond = 50;
constexpr int kSeconds = 60;

long long scalar(const QString& db, const char* sql)
{
    sqlite3* h = nullptr;
    long long n = -1;
    if (sqlite3_open_v2(QFile::encodeName(db).constData(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(h, 5000);
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(h, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            n = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
    }
    sqlite3_close(h);
    return n;
}

long long lines(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll().count('\n');
}

void wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QByteArray token = bench::privateCollectorSite(dir);
    const QString program = app.applicationDirPath() + "/rk40-collector";

    rk40sim::Terminal one, two;
    const quint16 port = bench::freePort();
    const QString db = dir.filePath("events.sqlite"), reg = dir.filePath("reg.txt");
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(program, {"run", "--http", QString::number(port), "--db", db, "--register-file", reg, "--port",
                            QString::fromStdString(one.slavePath()), "--port", QString::fromStdString(two.slavePath())});
    wait(3000);

    // Stream clients as a browser's EventSource: one that the service drops
    // (it reads too slowly) comes back with Last-Event-ID.
    struct Client {
        std::unique_ptr<QTcpSocket> socket;
        QByteArray pending;
        long long lastId = 0, received = 0, repeated = 0, gaps = 0;
        int reconnects = 0;
    };
    std::vector<Client> streams(kStreams);
    std::function<void(Client&)> open = [&](Client& c) {
        c.socket = std::make_unique<QTcpSocket>();
        c.pending.clear();
        QTcpSocket* s = c.socket.get();
        QObject::connect(s, &QTcpSocket::connected, [s, &c, token] {
            s->write("GET /api/v1/events/stream HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token
                     + "\r\nLast-Event-ID: " + QByteArray::number(c.lastId) + "\r\n\r\n");
        });
        QObject::connect(s, &QTcpSocket::readyRead, [s, &c] {
            c.pending += s->readAll();
            qsizetype at = 0;
            for (qsizetype end; (end = c.pending.indexOf("\n\n", at)) >= 0; at = end + 2) {
                if (c.pending.mid(at, 4) != "id: ")
                    continue;
                const long long id = c.pending.mid(at + 4, c.pending.indexOf('\n', at) - at - 4).toLongLong();
                if (id <= c.lastId)
                    ++c.repeated;
                else if (id != c.lastId + 1)
                    ++c.gaps;
                else
                    ++c.received;
                c.lastId = std::max(c.lastId, id);
            }
            c.pending.remove(0, at);
        });
        QObject::connect(s, &QTcpSocket::disconnected, [&c, &open] {
            ++c.reconnects;
            c.socket.release()->deleteLater();
            QTimer::singleShot(100, [&c, &open] { open(c); });
        });
        s->connectToHost(QHostAddress::LocalHost, port);
    };
    for (Client& c : streams)
        open(c);

    int sent = 0, answered = 0, failed = 0;
    QTimer requests;
    requests.setInterval(1000 / kRequestsPerSecond);
    QObject::connect(&requests, &QTimer::timeout, [&] {
        auto* s = new QTcpSocket(&app);
        const QByteArray path = sent % 2 ? "/api/v1/events?limit=100" : "/api/v1/terminals";
        ++sent;
        QObject::connect(s, &QTcpSocket::connected, [s, path, token] {
            s->write("GET " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Bearer " + token + "\r\n\r\n");
        });
        auto got = std::make_shared<QByteArray>();
        QObject::connect(s, &QTcpSocket::readyRead, [s, got] { *got += s->readAll(); });
        QObject::connect(s, &QTcpSocket::disconnected, [s, got, &answered, &failed] {
            *got += s->readAll();
            (got->startsWith("HTTP/1.1 200") ? answered : failed)++;
            s->deleteLater();
        });
        s->connectToHost(QHostAddress::LocalHost, port);
    });

    rk40sim::Flood flood;
    one.startFlood(flood);
    flood.seed = 2;
    two.startFlood(flood);
    requests.start();
    wait(kSeconds * 1000);
    requests.stop();
    one.stopFlood();
    two.stopFlood();
    one.waitBlockDone(std::chrono::milliseconds(30000));
    two.waitBlockDone(std::chrono::milliseconds(30000));
    wait(5000);

    const long long fileRecords = lines(reg);
    const long long stored = scalar(db, "SELECT count(*) FROM events");
    const long long distinct = scalar(db, "SELECT count(DISTINCT raw || id) FROM events");
    const long long maxId = scalar(db, "SELECT max(id) FROM events");
    // The streams catch up (the flood is faster than real lines).
    QElapsedTimer catchUp;
    catchUp.start();
    auto caughtUp = [&] {
        for (const Client& c : streams)
            if (c.lastId < maxId)
                return false;
        return true;
    };
    while (!caughtUp() && catchUp.elapsed() < 120000)
        wait(200);
    std::printf("streams caught up %.1f s after the load\n", double(catchUp.elapsed()) / 1000.0);
    int streamsComplete = 0, reconnects = 0;
    long long repeated = 0, gaps = 0, behind = 0;
    for (const Client& c : streams) {
        streamsComplete += c.lastId == maxId && c.received == stored && c.repeated == 0 && c.gaps == 0 ? 1 : 0;
        reconnects += c.reconnects;
        repeated += c.repeated;
        gaps += c.gaps;
        behind = std::max(behind, maxId - c.lastId);
    }
    std::printf("streams: %lld repeated, %lld gaps, the last one %lld events behind\n", repeated, gaps, behind);
    std::printf("%lld records in the register file, %lld in the store (%lld distinct)\n", fileRecords, stored, distinct);
    std::printf("%d of %d stream clients had every event once (%d reconnections with Last-Event-ID)\n", streamsComplete,
                kStreams, reconnects);
    std::printf("%d requests sent, %d answered 200, %d failed or unanswered\n", sent, answered, failed);

    for (Client& c : streams) {
        c.socket->disconnect();
        c.socket->abort();
    }
    wait(10000);
    const double before = bench::processCpuSeconds(service.processId());
    wait(10000);
    const double idle = (bench::processCpuSeconds(service.processId()) - before) / 10.0 * 100.0;
    std::printf("idle collector after the load: %.2f %% of one core (target < 2 %%)\n", idle);

    service.terminate();
    service.waitForFinished(60000);
    const bool ok = fileRecords == stored && streamsComplete == kStreams && failed == 0 && idle < 2.0;
    std::printf("%s\n", ok ? "ok" : "MISSED");
    return ok ? 0 : 1;
}
