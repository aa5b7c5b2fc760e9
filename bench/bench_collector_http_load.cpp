// rk40-collector's HTTP API under load: 20 event-stream clients and 50 API
// requests a second for 60 s while two terminals send blocks at the
// simulator's flood rate. Afterwards: every acknowledged record is in the
// register file and in the store once, every stream client has had every
// event, and the idle collector's processor use is back under its target
// (2 % of one core).

#include "Registry.h"

#include "rk40sim/Terminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
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

double cpuSeconds(qint64 pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
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
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
        qputenv(v, QFile::encodeName(dir.filePath(v)));
    QString error;
    if (!component::succeeded(component::registerModule(app.applicationDirPath() + "/libRK40COMM.so", false, &error))) {
        std::fprintf(stderr, "cannot register the control: %s\n", qPrintable(error));
        return 1;
    }
    const QString program = app.applicationDirPath() + "/rk40-collector";
    QProcess tokenAdd;
    tokenAdd.start(program, {"token", "add", "bench", "--role", "viewer"});
    tokenAdd.waitForFinished(30000);
    const QByteArray token = tokenAdd.readAllStandardOutput().trimmed();

    rk40sim::Terminal one, two;
    quint16 port = 0;
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost);
        port = s.serverPort();
    }
    const QString db = dir.filePath("events.sqlite"), reg = dir.filePath("reg.txt");
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(program, {"run", "--http", QString::number(port), "--db", db, "--register-file", reg, "--port",
                            QString::fromStdString(one.slavePath()), "--port", QString::fromStdString(two.slavePath())});
    wait(3000);

    std::vector<std::unique_ptr<QTcpSocket>> streams;
    std::vector<long long> lastId(kStreams, 0);
    std::vector<long long> received(kStreams, 0);
    for (int i = 0; i < kStreams; ++i) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, port);
        s->waitForConnected(30000);
        s->write("GET /api/v1/events/stream HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token + "\r\n\r\n");
        QObject::connect(s.get(), &QTcpSocket::readyRead, [sock = s.get(), &lastId, &received, i] {
            static const QRegularExpression id("(?m)^id: (\\d+)$");
            const QString text = QString::fromLatin1(sock->readAll());
            for (const auto& m : id.globalMatch(text)) {
                lastId[std::size_t(i)] = m.captured(1).toLongLong();
                ++received[std::size_t(i)];
            }
        });
        streams.push_back(std::move(s));
    }

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
    int streamsComplete = 0;
    for (int i = 0; i < kStreams; ++i)
        streamsComplete += lastId[std::size_t(i)] == maxId && received[std::size_t(i)] == stored ? 1 : 0;
    std::printf("%lld records in the register file, %lld in the store (%lld distinct)\n", fileRecords, stored, distinct);
    std::printf("%d of %d stream clients had every event\n", streamsComplete, kStreams);
    std::printf("%d requests sent, %d answered 200, %d failed or unanswered\n", sent, answered, failed);

    streams.clear();
    wait(2000);
    const double before = cpuSeconds(service.processId());
    wait(10000);
    const double idle = (cpuSeconds(service.processId()) - before) / 10.0 * 100.0;
    std::printf("idle collector after the load: %.2f %% of one core (target < 2 %%)\n", idle);

    service.terminate();
    service.waitForFinished(60000);
    const bool ok = fileRecords == stored && streamsComplete == kStreams && failed == 0 && idle < 2.0;
    std::printf("%s\n", ok ? "ok" : "MISSED");
    return ok ? 0 : 1;
}
