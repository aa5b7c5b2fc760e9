// rk40-collector: sustained events per second into the SQLite store with the
// simulator's flood (target: above 400 records/s, what 8 lines at 9600 baud
// can deliver), and the processor time of a collector with 4 quiet ports
// (target: under 2 % of one core in total).

#include "CollectorBench.h"
#include "rk40sim/Terminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

long long rowCount(const QString& db)
{
    sqlite3* h = nullptr;
    long long n = -1;
    if (sqlite3_open_v2(QFile::encodeName(db).constData(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(h, 5000);
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(h, "SELECT count(*) FROM events", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            n = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
    }
    sqlite3_close(h);
    return n;
}

std::unique_ptr<QProcess> startCollector(const QStringList& ports, const QTemporaryDir& dir)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{"run", "--db", dir.filePath("events.sqlite"), "--register-file", dir.filePath("reg.txt")};
    for (const QString& port : ports)
        args << "--port" << port;
    p->start(QCoreApplication::applicationDirPath() + "/rk40-collector", args);
    if (!p->waitForStarted(30000)) {
        std::fprintf(stderr, "cannot start rk40-collector\n");
        std::exit(1);
    }
    return p;
}

void stopCollector(QProcess& p)
{
    p.terminate();
    p.waitForFinished(60000);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool ok = true;

    {
        // Flood: blocks of 1..32 random records back to back, no wire timing.
        QTemporaryDir dir;
        rk40sim::Terminal terminal;
        auto collector = startCollector({QString::fromStdString(terminal.slavePath())}, dir);
        const QString db = dir.filePath("events.sqlite");
        QThread::msleep(2000);  // started and the port open
        rk40sim::Flood flood;
        flood.seed = 42;
        terminal.startFlood(flood);
        QThread::msleep(1000);
        const long long before = rowCount(db);
        QElapsedTimer t;
        t.start();
        QThread::msleep(10000);
        const long long after = rowCount(db);
        const double rate = double(after - before) / (double(t.elapsed()) / 1000.0);
        terminal.stopFlood();
        terminal.waitBlockDone(std::chrono::seconds(10));
        stopCollector(*collector);
        const bool rateOk = rate > 400.0;
        ok = ok && rateOk;
        std::printf("%-44s %8.0f records/s  (target > 400) %s\n", "flood into the SQLite store", rate,
                    rateOk ? "ok" : "UNDER");
        std::fflush(stdout);
    }
    {
        // Four ports, nothing arrives.
        QTemporaryDir dir;
        std::vector<std::unique_ptr<rk40sim::Terminal>> terminals;
        QStringList ports;
        for (int i = 0; i < 4; ++i) {
            terminals.push_back(std::make_unique<rk40sim::Terminal>());
            ports << QString::fromStdString(terminals.back()->slavePath());
        }
        auto collector = startCollector(ports, dir);
        QThread::msleep(5000);  // started, ports open, first status asked
        const double cpu0 = bench::processCpuSeconds(collector->processId());
        QElapsedTimer t;
        t.start();
        QThread::msleep(20000);
        const double share = (bench::processCpuSeconds(collector->processId()) - cpu0) / (double(t.elapsed()) / 1000.0);
        stopCollector(*collector);
        const bool idleOk = share < 0.02;
        ok = ok && idleOk;
        std::printf("%-44s %8.2f %% of one core  (target < 2 %%) %s\n", "idle collector, 4 quiet ports",
                    share * 100.0, idleOk ? "ok" : "OVER");
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}
