// rk40-collector end to end: the program against simulated terminals on
// pseudo-terminals (and a real mosquitto on loopback), read back through its
// store and its register file, and its HTTP API asked over real HTTP on
// loopback.

#include "RegisterFollower.h"
#include "RunProgram.h"
#include "Store.h"
#include "TestBytes.h"
#include "TestEnvironment.h"
#include "TestNetwork.h"

#include "rk40sim/Terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using testsupport::Run;
using testsupport::runProgram;

namespace {

constexpr int kLong = 90000;  // generous: two shared cores, sanitizers

QString program() { return testsupport::TestEnvironment::programFolder() + "/rk40-collector"; }

// Records of one terminal, also added to `sent` when it is given.
std::vector<std::string> records(int terminal, int first, int count, QStringList* sent = nullptr)
{
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char r[32];
        std::snprintf(r, sizeof r, "07126%02d%02d%X%08d%d", (first + i) / 60 % 24, (first + i) % 60, i % 16,
                      first + i, terminal);
        out.emplace_back(r);
        if (sent)
            *sent << QString::fromLatin1(r);
    }
    return out;
}

// Sends a block as a terminal does, again while it goes unanswered. How
// many times it was sent until the ACK came; 0: never acknowledged.
int deliver(rk40sim::Terminal& t, const std::vector<std::string>& recs, int attempts = 5, char kind = 'S')
{
    const rk40sim::BlockOptions o{.kindByte = {}, .answerTimeout = std::chrono::milliseconds(2000)};
    for (int i = 1; i <= attempts; ++i) {
        t.sendOnlineBlock(kind, recs, o);
        if (!t.waitBlockDone(std::chrono::milliseconds(kLong)))
            return 0;
        if (t.lastBlockAnswer() == rk40sim::BlockAnswer::Ack)
            return i;
    }
    return 0;
}

// The built rk40-collector run as a service: started with "run" and its
// arguments, stopped (or killed) and started again, with what it logged.
class CollectorProcess {
public:
    // Forwarded channels: the log goes to the test's own output instead.
    CollectorProcess(const QStringList& args, QProcess::ProcessChannelMode channels = QProcess::SeparateChannels)
        : m_args(args), m_channels(channels)
    {
        start();
    }
    CollectorProcess(CollectorProcess&&) = default;
    ~CollectorProcess() { stop(); }
    void start()
    {
        m_p = std::make_unique<QProcess>();
        m_p->setProcessChannelMode(m_channels);
        m_p->start(program(), QStringList{"run"} + m_args);
        QVERIFY(m_p->waitForStarted(30000));
    }
    void kill()
    {
        ::kill(pid_t(m_p->processId()), SIGKILL);
        m_p->waitForFinished(30000);
        m_log += m_p->readAllStandardError();
    }
    int stop()
    {
        if (!m_p || m_p->state() == QProcess::NotRunning)
            return m_p ? m_p->exitCode() : -1;
        m_p->terminate();
        if (!m_p->waitForFinished(60000))
            m_p->kill();
        m_log += m_p->readAllStandardError();
        return m_p->exitStatus() == QProcess::NormalExit ? m_p->exitCode() : -1;
    }
    qint64 pid() const { return m_p->processId(); }
    bool running() const { return m_p->state() == QProcess::Running; }
    QString log()
    {
        if (m_p)
            m_log += m_p->readAllStandardError();
        return QString::fromLocal8Bit(m_log);
    }

private:
    QStringList m_args;
    QProcess::ProcessChannelMode m_channels;
    std::unique_ptr<QProcess> m_p;
    QByteArray m_log;
};

// The register file's records, in order (complete lines only).
QStringList registerLines(const QString& path)
{
    QByteArray all = testsupport::readAll(path);
    all.truncate(all.lastIndexOf('\n') + 1);
    return QString::fromLatin1(all).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
}

std::vector<collector::EventRow> storedRows(const QString& db)
{
    collector::Store store;
    QString error;
    if (!store.openReadOnly(db, &error))
        return {};
    return store.query({}, &error, {0, 1 << 30});
}

QStringList storedRaws(const QString& db)
{
    QStringList out;
    for (const auto& r : storedRows(db))
        out << r.raw;
    return out;
}

struct Answer {
    int status = 0;
    QByteArray headers;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QByteArray header(const QByteArray& name) const
    {
        const QRegularExpression re("(?im)^" + QRegularExpression::escape(name) + ":\\s*([^\\r\\n]*)");
        return re.match(QString::fromLatin1(headers)).captured(1).toLatin1();
    }
};

// One request on a connection of its own ("Connection: close").
Answer request(quint16 port, const QByteArray& method, const QByteArray& path, const QList<QByteArray>& headers = {},
               const QByteArray& body = {})
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(kLong))
        return {};
    QByteArray out = method + ' ' + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
    for (const QByteArray& h : headers)
        out += h + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    s.write(out);
    QByteArray in;
    Answer a;
    while (s.waitForReadyRead(kLong) || s.bytesAvailable()) {
        in += s.readAll();
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        const QRegularExpression length("(?im)^content-length:\\s*(\\d+)");
        const auto m = length.match(QString::fromLatin1(in.left(end)));
        if (m.hasMatch() && in.size() >= end + 4 + m.captured(1).toLongLong()) {
            a.status = in.mid(9, 3).toInt();
            a.headers = in.left(end);
            a.body = in.mid(end + 4, m.captured(1).toLongLong());
            return a;
        }
    }
    return a;
}

QString addAccount(const QString& kind, const QString& name, const QString& role, const QString& passwordFile = {})
{
    QStringList args{kind, "add", name, "--role", role};
    if (!passwordFile.isEmpty())
        args << "--password-file" << passwordFile;
    const auto run = runProgram(program(), args);
    return run.status == 0 ? run.out.trimmed() : "failed: " + run.err;
}

int mode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

class Broker {
public:
    Broker(int port) : m_dir(m_temp.path()), m_port(port)
    {
        // Started as root, mosquitto runs as its own user: it must be able
        // to keep its sessions here across the restart.
        QFile::setPermissions(m_dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                         | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
        testsupport::writeFile(m_dir + "/mosquitto.conf",
                               QString("listener %1 127.0.0.1\nallow_anonymous true\npersistence true\n"
                                       "persistence_location %2/\nlog_dest stderr\n").arg(port).arg(m_dir).toUtf8());
    }
    ~Broker() { stop(); }
    void start()
    {
        m_p.start("/usr/sbin/mosquitto", {"-c", m_dir + "/mosquitto.conf"});
        QVERIFY(m_p.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(listening(), kLong);
    }
    bool listening() const
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        return s.waitForConnected(1000);
    }
    void stop()   // nothing to do when it does not run
    {
        m_p.terminate();
        m_p.waitForFinished(30000);
    }

private:
    QTemporaryDir m_temp;
    QString m_dir;
    int m_port;
    QProcess m_p;
};

} // namespace

class CollectorTest : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TestEnvironment> m_env;
    QString error, db, reg;   // the store and the register file
    // The HTTP tests' service on m_terminal, on port m_http, and its tokens.
    std::unique_ptr<rk40sim::Terminal> m_terminal;
    std::unique_ptr<CollectorProcess> m_service;
    quint16 m_http = 0;
    QString m_admin, m_viewer;

    QList<QByteArray> bearer(const QString& token) const { return {"Authorization: Bearer " + token.toLatin1()}; }
    QByteArray terminalPath() const
    {
        return "/api/v1/terminals/" + QUrl::toPercentEncoding(QString::fromStdString(m_terminal->slavePath()));
    }
    Answer call(const QByteArray& method, const QByteArray& path, const QString& token, const QByteArray& body = {},
                const QByteArray& type = "application/json")
    {
        return request(m_http, method, path, bearer(token) << "Content-Type: " + type, body);
    }
    QString portState()
    {
        return call("GET", "/api/v1/terminals", m_viewer).json()["terminals"].toArray()[0].toObject()["state"].toString();
    }
    // With two accounts and two tokens; whatever the service creates must be
    // private even under umask 000.
    void startService()
    {
        ::umask(0);
        testsupport::writeFile(m_env->path("pw"), "correct horse\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(!addAccount("user", "alice", "admin", m_env->path("pw")).startsWith("failed"));
        QVERIFY(!addAccount("user", "victor", "viewer", m_env->path("pw")).startsWith("failed"));
        m_admin = addAccount("token", "deploy", "admin");
        m_viewer = addAccount("token", "grafana", "viewer");
        m_terminal = std::make_unique<rk40sim::Terminal>();
        m_http = testsupport::unusedPort();
        m_service = std::make_unique<CollectorProcess>(
            QStringList{"--http", QString::number(m_http), "--port", QString::fromStdString(m_terminal->slavePath()),
                        "--db", m_env->path("service/events.sqlite"), "--register-file", m_env->path("service/reg.txt"),
                        "--transfer-log", m_env->path("termset/log")},
            QProcess::ForwardedChannels);
        QTRY_VERIFY_WITH_TIMEOUT(!m_service->running() || request(m_http, "GET", "/healthz").status == 200, kLong);
        QVERIFY(m_service->running());
        QTRY_COMPARE_WITH_TIMEOUT(portState(), QString("collecting"), kLong);
    }

    // The collector on one terminal, once it collects.
    CollectorProcess collect(const rk40sim::Terminal& t, const QStringList& more = {})
    {
        CollectorProcess c(QStringList{"--port", QString::fromStdString(t.slavePath()), "--db", db, "--register-file", reg}
                           + more);
        if (!QTest::qWaitFor([&] { return c.log().contains(": collecting ("); }, kLong))
            QTest::qFail("the collector does not collect", __FILE__, __LINE__);
        return c;
    }
    // The register file of text taken into the store, as query prints it.
    Run queried(const QByteArray& text, const QString& format)
    {
        testsupport::writeFile(reg, text);
        collector::Store store;
        collector::RegisterFollower follower(reg);
        if (!store.open(db, &error) || !store.ingest(follower, nullptr, false).ok())
            return {};
        return runProgram(program(), {"query", "--db", db, "--format", format});
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(program()))
            QSKIP("rk40-collector not built");
    }
    void init()
    {
        m_env = std::make_unique<testsupport::TestEnvironment>();
        QVERIFY2(m_env->registerControl(&error), qPrintable(error));
        db = m_env->path("events.sqlite");
        reg = m_env->path("reg.txt");
    }
    void cleanup()
    {
        m_service.reset();
        m_terminal.reset();
        m_env.reset();
        ::umask(022);
    }

    void collectsTwoTerminalsIntoStoreAndRegisterFile()
    {
        rk40sim::Terminal one, two;
        CollectorProcess c =
            collect(one, {"--port", QString::fromStdString(two.slavePath()) + ":9600", "--sync-clock", "03:30"});
        // The clock is set at start.
        QTRY_VERIFY_WITH_TIMEOUT(!one.lastClockText().empty() && !two.lastClockText().empty(), kLong);

        // A block of 40 records: more than the control's arrays hold.
        QCOMPARE(deliver(one, records(1, 0, 40), 1), 1);
        // Each port appends on its own thread: the order in the file is the
        // order of the appends, not of the answers.
        QTRY_COMPARE_WITH_TIMEOUT(storedRows(db).size(), size_t(40), kLong);
        QCOMPARE(deliver(two, {"0712608150ABCD12342", "311272359F000000012"}, 1, 'V'), 1);
        QTRY_COMPARE_WITH_TIMEOUT(storedRows(db).size(), size_t(42), kLong);
        // A block of a kind the control does not know is refused, not stored.
        one.sendOnlineBlock('S', records(1, 90, 1), {.kindByte = 'Q'});
        QVERIFY(one.waitBlockDone(std::chrono::milliseconds(kLong)));
        QCOMPARE(one.lastBlockAnswer(), rk40sim::BlockAnswer::Nak);
        QCOMPARE(c.stop(), 0);

        const auto rows = storedRows(db);
        QCOMPARE(storedRaws(db), registerLines(reg));
        for (size_t i = 0; i < 40; ++i)
            QCOMPARE(rows[i].port, QString::fromStdString(one.slavePath()));
        const collector::EventRow& last = rows[41];
        QCOMPARE(last.port, QString::fromStdString(two.slavePath()));
        QVERIFY(QDateTime::fromString(last.receivedAt, Qt::ISODate).timeSpec() == Qt::UTC);

        // query: CSV with a header, JSON lines, filters.
        const Run csv = runProgram(program(), {"query", "--db", db, "--terminal", "2", "--format", "csv"});
        QCOMPARE(csv.status, 0);
        QStringList lines = csv.out.split("\r\n");
        QCOMPARE(lines.size(), 4);  // header, two rows, nothing after the last CR LF
        QCOMPARE(lines[0], QString("id,received_at,port,terminal,event_date,event_time,source,card,raw"));
        QVERIFY2(lines[2].endsWith(QString(",2,%1,23:59,E4,00000001,311272359F000000012").arg(last.eventDate)),
                 qPrintable(lines[2]));
        lines = runProgram(program(), {"query", "--db", db, "--card", "ABCD1234", "--format", "json"})
                    .out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(lines[0].toUtf8()).object()["source"].toString(), QString("T1"));
    }

    void refusesBadUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("no port") << QStringList{"run"} << "no port";
        QTest::newRow("bad baud") << QStringList{"run", "--port", "COM1:fast"} << "baud";
        QTest::newRow("COM11") << QStringList{"run", "--port", "COM11"} << "COM1..COM10";
        QTest::newRow("bad clock") << QStringList{"run", "--port", "COM1", "--sync-clock", "25:00"} << "HH:MM";
        QTest::newRow("bad free space") << QStringList{"run", "--port", "COM1", "--min-free-kib", "lots"} << "KiB";
        QTest::newRow("bad format") << QStringList{"query", "--format", "xml"} << "table, csv or json";
        QTest::newRow("bad date") << QStringList{"query", "--since", "07.12.2026"} << "YYYY-MM-DD";
        QTest::newRow("bad source") << QStringList{"query", "--source", "X9"} << "T1";
        QTest::newRow("unknown option") << QStringList{"query", "--colour", "red"} << "--colour";
        QTest::newRow("HTTP off loopback without TLS")
            << QStringList{"run", "--port", "COM1", "--http", "0.0.0.0:8080"} << "without TLS";
        QTest::newRow("bad HTTP port") << QStringList{"run", "--port", "COM1", "--http", "70000"} << "[ADDRESS:]PORT";
        QTest::newRow("bad role") << QStringList{"user", "add", "bob", "--role", "boss"} << "viewer or admin";
    }
    void refusesBadUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, complaint);
        const Run run = runProgram(program(), args);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(complaint), qPrintable(run.err));
    }

    // Records come from the line: the query table and CSV show their
    // control characters as escapes.
    void queryShowsLineTextEscaped_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("table") << "table";
        QTest::newRow("csv") << "csv";
    }
    void queryShowsLineTextEscaped()
    {
        QFETCH(QString, format);
        const Run run = queried("0712608150ABCD\x1b]0;x\x07\r\n", format);
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("0712608150ABCD\\x1b]0;x\\x07"), qPrintable(run.out));
        QVERIFY(!run.out.contains(QChar(0x1b)) && !run.out.contains(QChar(0x07)));
    }

    void killedAtRandomLosesAndDoublesNothing()
    {
        rk40sim::Terminal terminal;
        const QStringList args{"--port", QString::fromStdString(terminal.slavePath()), "--db", db,
                               "--register-file", reg};
        for (const quint32 seed : {QRandomGenerator::global()->generate(), 7u, 1234u}) {
            qInfo("seed %u", seed);
            QRandomGenerator random(seed);
            terminal.startFlood({.seed = seed, .answerTimeout = std::chrono::milliseconds(400)});
            CollectorProcess c(args);
            for (int kill = 0; kill < 4; ++kill) {
                QTest::qWait(300 + int(random.bounded(1500)));
                c.kill();
                c.start();
            }
            QTest::qWait(500);
            terminal.stopFlood();
            QVERIFY(terminal.waitBlockDone(std::chrono::milliseconds(kLong)));
            QTRY_COMPARE_WITH_TIMEOUT(storedRaws(db).size(), size_t(registerLines(reg).size()), kLong);
            QCOMPARE(c.stop(), 0);
            const QStringList stored = storedRaws(db), file = registerLines(reg);
            QVERIFY2(stored == file, qPrintable(QString("seed %1: %2 rows, %3 lines").arg(seed).arg(stored.size()).arg(file.size())));
            qInfo("seed %u: %lld records stored once each", seed, static_cast<long long>(file.size()));
            QVERIFY(!file.isEmpty());
        }
    }

    void portThatVanishesIsTakenBackWithoutRestart()
    {
        const QString link = m_env->path("ttyRK40");
        rk40sim::Terminal steady;
        auto coming = std::make_unique<rk40sim::Terminal>();
        QVERIFY(QFile::link(QString::fromStdString(coming->slavePath()), link));
        CollectorProcess c = collect(steady, {"--port", link});
        auto send = [](rk40sim::Terminal& t, int first) { return deliver(t, records(1, first, 3), 1) == 1; };
        QTRY_COMPARE_WITH_TIMEOUT(c.log().count(": collecting ("), 2, kLong);
        QVERIFY(send(*coming, 0));
        QVERIFY(send(steady, 100));

        // The terminal goes away together with its device.
        coming.reset();
        QVERIFY(QFile::remove(link));
        QTRY_VERIFY_WITH_TIMEOUT(c.log().contains(link + ": the terminal stopped answering"), kLong);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(send(steady, 100 + 10 * i));  // the other port goes on
        QTRY_VERIFY_WITH_TIMEOUT(c.log().contains(link + ": cannot be opened"), kLong);
        QTest::qWait(4000);  // a few retries

        coming = std::make_unique<rk40sim::Terminal>();
        QVERIFY(QFile::link(QString::fromStdString(coming->slavePath()), link));
        QTRY_VERIFY_WITH_TIMEOUT(c.log().count(link + ": collecting") == 2, kLong);
        QVERIFY(send(*coming, 200));
        QTRY_COMPARE_WITH_TIMEOUT(storedRows(db).size(), size_t(18), kLong);
        QCOMPARE(c.stop(), 0);

        const QString log = c.log();
        // Once per change, not per retry: no line about the port repeats the
        // one before it (a loaded machine may add a change in between).
        QStringList lines;
        for (const QString& line : log.split('\n'))
            if (line.contains(link + ": "))
                lines << line;
        QVERIFY(!lines.filter(": cannot be opened").isEmpty());
        for (qsizetype i = 1; i < lines.size(); ++i)
            QVERIFY2(lines[i] != lines[i - 1], qPrintable(lines[i]));
        QCOMPARE(log.count(QString::fromStdString(steady.slavePath()) + ": "), 1);  // never stopped
        const auto rows = storedRows(db);
        QCOMPARE(rows.back().port, link);
        QCOMPARE(rows.back().card, QString("00000202"));
        QCOMPARE(storedRaws(db), registerLines(reg));
    }

    void mqttDeliversEveryEventAcrossABrokerRestart()
    {
        const int port = testsupport::unusedPort();
        Broker broker(port);
        broker.start();

        // A subscriber with a lasting session, so that the broker keeps its
        // messages while it reconnects.
        QByteArray received;
        std::unique_ptr<QProcess> sub;
        auto subscribe = [&] {
            if (sub) received += sub->readAllStandardOutput();
            sub = std::make_unique<QProcess>();
            sub->start("/usr/bin/mosquitto_sub", {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-c",
                                                  "-i", "tst-rk40-sub", "-t", "rk40t/#", "-v"});
            return sub->waitForStarted(30000);
        };
        auto output = [&] {
            received += sub->readAllStandardOutput();
            return received;
        };
        auto probe = [&](const char* text) {
            if (sub->state() == QProcess::NotRunning && !subscribe())
                return false;
            QProcess::execute("/usr/bin/mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1",
                                                         "-t", "rk40t/probe", "-m", text});
            return output().contains(text);
        };
        QVERIFY(subscribe());
        QTRY_VERIFY_WITH_TIMEOUT(probe("probe-1"), kLong);

        rk40sim::Terminal terminal;
        CollectorProcess c = collect(terminal, {"--mqtt", QString("127.0.0.1:%1").arg(port), "--mqtt-topic", "rk40t"});
        auto missing = [&] {
            QSet<qint64> ids;
            for (const QByteArray& line : output().split('\n')) {
                const qsizetype space = line.indexOf(' ');
                if (space < 0 || !line.startsWith("rk40t/") || line.startsWith("rk40t/probe"))
                    continue;
                ids.insert(QJsonDocument::fromJson(line.mid(space + 1)).object()["id"].toInteger());
            }
            int absent = 0;
            for (const auto& r : storedRows(db))
                absent += !ids.contains(r.id);
            return absent;
        };
        rk40sim::Flood flood{.seed = 5, .maxRecords = 8, .gap = std::chrono::milliseconds(50)};
        terminal.startFlood(flood);
        QTRY_VERIFY_WITH_TIMEOUT(storedRows(db).size() > 20, kLong);
        // The broker goes when the subscriber has what was sent so far (a
        // message the broker acknowledged and then lost in its own shutdown
        // would be the broker's loss), and stays away while events come.
        terminal.stopFlood();
        QVERIFY(terminal.waitBlockDone(std::chrono::milliseconds(kLong)));
        QTest::qWait(1000);  // the last block is acknowledged before it is stored
        QTRY_VERIFY_WITH_TIMEOUT(storedRaws(db) == registerLines(reg), kLong);
        QTRY_COMPARE_WITH_TIMEOUT(missing(), 0, kLong);
        broker.stop();
        const size_t beforeRestart = storedRows(db).size();
        flood.seed = 6;
        terminal.startFlood(flood);
        QTRY_VERIFY_WITH_TIMEOUT(storedRows(db).size() > beforeRestart + 20, kLong);
        broker.start();
        QTRY_VERIFY_WITH_TIMEOUT(probe("probe-2"), kLong);
        QTest::qWait(1000);
        terminal.stopFlood();
        QVERIFY(terminal.waitBlockDone(std::chrono::milliseconds(kLong)));

        // Every stored event arrives, at least once.
        const auto rows = storedRows(db);
        QVERIFY(rows.size() > beforeRestart + 20);
        if (!QTest::qWaitFor([&] { return missing() == 0; }, kLong)) {
            collector::Store store;
            QVERIFY(store.openReadOnly(db, &error));
            QFAIL(qPrintable(QString("%1 events not received, %2 not acknowledged by the broker")
                                 .arg(missing()).arg(store.pendingCount())));
        }
        const int stopped = c.stop();
        QVERIFY2(stopped == 0 && c.log().contains("connection lost"), qPrintable(c.log()));

        // The message of one event, as published.
        const collector::EventRow& r = rows.front();
        const QByteArray topic = QString("rk40t/%1/event ").arg(*r.terminal).toUtf8();
        for (const QByteArray& line : output().split('\n')) {
            if (!line.startsWith(topic))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line.mid(topic.size())).object();
            if (o["id"].toInteger() != r.id)
                continue;
            QCOMPARE(o["raw"].toString(), r.raw);
            QCOMPARE(o["card"].toString(), r.card);
            QCOMPARE(o["source"].toString(), r.source);
            QCOMPARE(o["event_date"].toString(), r.eventDate);
            QCOMPARE(o["port"].toString(), QString::fromStdString(terminal.slavePath()));
            sub->kill();
            sub->waitForFinished();
            return;
        }
        QFAIL("the first event's message was not found");
    }
    // Renamed while running (as logrotate does), then with the rotate
    // command, then a SIGHUP: every acknowledged record is stored once. A
    // block that comes while the port reopens its control is answered when
    // the terminal sends it again.
    void rotationLosesAndDoublesNothing()
    {
        rk40sim::Terminal terminal;
        CollectorProcess c = collect(terminal);
        QStringList sent;
        auto send = [&](int first) { return deliver(terminal, records(1, first, 3, &sent)) > 0; };
        QVERIFY(send(0));
        QVERIFY(QFile::rename(reg, reg + ".1"));
        QVERIFY(send(10));  // the control still appends to the renamed file
        QTRY_VERIFY2_WITH_TIMEOUT(c.log().contains("renamed or replaced"), qPrintable(c.log()), kLong);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(reg), kLong);
        QVERIFY(send(20));

        const Run rotate = runProgram(program(), {"rotate", "--db", db, "--register-file", reg});
        QVERIFY2(rotate.status == 0 && rotate.out.contains("has stored all of it"), qPrintable(rotate.err + rotate.out));
        QVERIFY(send(30));
        QCOMPARE(::kill(pid_t(c.pid()), SIGHUP), 0);
        QVERIFY(send(40));
        QTRY_COMPARE_WITH_TIMEOUT(storedRaws(db), sent, kLong);
        QVERIFY(c.running());  // SIGHUP does not end it
        QCOMPARE(c.stop(), 0);
        const QStringList rotated = QDir(m_env->path("")).entryList({"reg.txt.2*"});
        QCOMPARE(rotated.size(), 1);
        QCOMPARE(registerLines(reg + ".1") + registerLines(m_env->path(rotated[0])) + registerLines(reg), sent);
        QCOMPARE(storedRaws(db), sent);
    }

    void secondCollectorOnOneStoreIsRefused()
    {
        rk40sim::Terminal terminal, other;
        CollectorProcess c = collect(terminal);
        const Run second = runProgram(program(), {"run", "--port", QString::fromStdString(other.slavePath()), "--db", db,
                                                  "--register-file", reg}, {}, 30000);
        QCOMPARE(second.status, 1);
        QVERIFY2(second.err.contains(QString("another rk40-collector (process %1)").arg(c.pid())), qPrintable(second.err));
        QCOMPARE(deliver(terminal, records(1, 0, 4)), 1);
        QTRY_COMPARE_WITH_TIMEOUT(runProgram(program(), {"query", "--db", db, "--format", "json"}).out.count('\n'), 4, kLong);
        QCOMPARE(c.stop(), 0);
        QCOMPARE(storedRaws(db), registerLines(reg));
    }

    // Nine ports whose terminals never answer beside one that sends again
    // when its block goes unanswered for 2 s: every block is answered the
    // first time, none is stored twice.
    void liveTerminalBesideNineSilentPorts()
    {
        rk40sim::Terminal live;
        std::vector<std::unique_ptr<rk40sim::Terminal>> silent;
        QStringList ports;
        for (int i = 0; i < 9; ++i) {
            silent.push_back(std::make_unique<rk40sim::Terminal>());
            silent.back()->injectFault({rk40sim::Fault::SilenceOnOpen}, rk40sim::kPersistent);
            ports << "--port" << QString::fromStdString(silent.back()->slavePath());
        }
        CollectorProcess c = collect(live, ports);   // the silent ones never collect
        QStringList sent;
        for (int b = 0; b < 30; ++b)
            QCOMPARE(deliver(live, records(1, 10 * b, 1 + b % 4, &sent)), 1);
        QTRY_COMPARE_WITH_TIMEOUT(storedRaws(db).size(), size_t(sent.size()), kLong);
        QCOMPARE(c.stop(), 0);
        QCOMPARE(storedRaws(db), sent);
    }

    // Another program holds the store's write lock for 15 s: blocks are
    // still answered the first time, and stored once when it lets go.
    void outsideWriteLockOnTheStore()
    {
        rk40sim::Terminal terminal;
        CollectorProcess c = collect(terminal);
        sqlite3* h = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &h), SQLITE_OK);
        sqlite3_busy_timeout(h, kLong);
        QCOMPARE(sqlite3_exec(h, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        QElapsedTimer held;
        held.start();
        QStringList sent;
        for (int b = 0; b < 6; ++b)
            QCOMPARE(deliver(terminal, records(2, 10 * b, 2, &sent)), 1);
        QTest::qWait(int(std::max<qint64>(0, 15000 - held.elapsed())));  // the lock is held this long
        QCOMPARE(sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(h);
        QTRY_COMPARE_WITH_TIMEOUT(storedRaws(db), sent, kLong);
        QCOMPARE(c.stop(), 0);
        QCOMPARE(storedRaws(db), sent);
    }

    // The register file's file system runs short of room: the port takes no
    // blocks (the terminal keeps them) until there is room again.
    void fullFileSystemLeavesBlocksWithTheTerminal()
    {
        const QString mount = m_env->path("small");
        QVERIFY(QDir().mkpath(mount));
        if (::geteuid() != 0 || QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", mount}) != 0)
            QSKIP("a small file system cannot be mounted here (needs root)");
        auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mount}); });
        rk40sim::Terminal terminal;
        const QString filler = mount + "/filler";
        reg = mount + "/reg.txt";
        CollectorProcess c = collect(terminal, {"--min-free-kib", "256"});
        QStringList sent;
        const auto first = records(3, 0, 5, &sent), second = records(3, 100, 5, &sent);
        QCOMPARE(deliver(terminal, first), 1);

        struct statvfs vfs {};
        QCOMPARE(::statvfs(QFile::encodeName(mount).constData(), &vfs), 0);
        testsupport::writeFile(filler, QByteArray(qsizetype(vfs.f_bavail * vfs.f_frsize) - 128 * 1024, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(c.log().contains("degraded: only"), kLong);
        QCOMPARE(deliver(terminal, second, 1), 0);  // left with the terminal

        QVERIFY(QFile::remove(filler));
        QTRY_VERIFY_WITH_TIMEOUT(c.log().contains("writing works again"), kLong);
        QVERIFY(deliver(terminal, second) > 0);
        QTRY_COMPARE_WITH_TIMEOUT(storedRaws(db), sent, kLong);
        QCOMPARE(c.stop(), 0);
        QCOMPARE(registerLines(reg), sent);

        // No margin, and the file system full to the last page: the block
        // whose append fails was acknowledged already; its records go to
        // the store from the control, and the port takes no more.
        CollectorProcess full = collect(terminal, {"--min-free-kib", "0"});
        QFile fill(filler);
        QVERIFY(fill.open(QIODevice::WriteOnly));
        while (fill.write(QByteArray(4096, 'x')) == 4096 && fill.flush()) {}
        fill.close();
        for (int b = 0; b < 12 && !full.log().contains("were not written"); ++b) {
            QCOMPARE(deliver(terminal, records(3, 200 + 30 * b, 30, &sent)), 1);
            QTest::qWait(200);  // the log line of a failed append
        }
        QTRY_VERIFY_WITH_TIMEOUT(full.log().contains("did not get are in the store"), kLong);
        QVERIFY(full.log().contains("degraded"));
        QVERIFY(QFile::remove(filler));
        QTRY_VERIFY_WITH_TIMEOUT(full.log().contains("writing works again"), kLong);
        QCOMPARE(deliver(terminal, records(3, 900, 2, &sent)), 1);
        sent.sort();
        auto stored = [&] { QStringList s = storedRaws(db); s.sort(); return s; };
        QTRY_COMPARE_WITH_TIMEOUT(stored(), sent, kLong);
        QCOMPARE(full.stop(), 0);
    }

    void brokerStartedAfterTheCollector()
    {
        const int port = testsupport::unusedPort();
        Broker broker(port);
        rk40sim::Terminal terminal;
        CollectorProcess c = collect(terminal, {"--mqtt", QString("127.0.0.1:%1").arg(port)});
        QTRY_VERIFY_WITH_TIMEOUT(c.log().contains("not reachable"), kLong);
        QCOMPARE(deliver(terminal, records(4, 0, 6)), 1);
        QTRY_COMPARE_WITH_TIMEOUT(storedRows(db).size(), size_t(6), kLong);
        broker.start();
        auto pending = [&] {
            collector::Store store;
            return store.openReadOnly(db, &error) ? store.pendingCount() : -1;
        };
        QTRY_COMPARE_WITH_TIMEOUT(pending(), 0, kLong);  // the broker has acknowledged every event
        QCOMPARE(c.stop(), 0);
    }

    void refusesSecretsOthersCanRead_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("option");
        QTest::newRow("password file") << "password" << QByteArray("secret\n") << "--mqtt-password-file";
        QTest::newRow("configuration with a password") << "collector.ini" << QByteArray("[mqtt]\npassword=secret\n")
                                                        << "--config";
    }
    void refusesSecretsOthersCanRead()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, option);
        testsupport::writeFile(m_env->path(file), content,
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        const Run run = runProgram(program(), {"run", "--port", "COM1", "--mqtt", "127.0.0.1", "--mqtt-user", "u",
                                               option, m_env->path(file), "--db", db});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("can be read by other users"), qPrintable(run.err));
    }

    void csvCellsAreNeverFormulas()
    {
        const Run run = queried("=HYPERLINK(\"x\")\r\n+1\r\n-1\r\n@SUM(A1)\r\n0712608150ABCD12341\r\n", "csv");
        QCOMPARE(run.status, 0);
        const QStringList raws = run.out.split("\r\n", Qt::SkipEmptyParts).mid(1);
        QStringList last;
        for (const QString& line : raws)
            last << line.section(',', -1);
        QCOMPARE(last, QStringList({"\"'=HYPERLINK(\"\"x\"\")\"", "'+1", "'-1", "'@SUM(A1)", "0712608150ABCD12341"}));
    }

    void whoMayDoWhat()
    {
        startService();
        const QByteArray p = terminalPath();
        const QList<QPair<QByteArray, QByteArray>> paths = {
            {"GET", "/api/v1/events"},        {"GET", "/api/v1/events/stream"}, {"GET", "/api/v1/terminals"},
            {"GET", p + "/status"},           {"POST", p + "/clock"},           {"POST", p + "/pause"},
            {"DELETE", p + "/pause"},         {"GET", p + "/keys"},             {"POST", p + "/keys"},
            {"PUT", p + "/keys"},             {"DELETE", p + "/keys/0123456789ABCD"},
            {"GET", p + "/configuration"},    {"PUT", p + "/configuration"},    {"DELETE", "/api/v1/session"},
            {"GET", "/api/v1/nothing"},       {"GET", "/metrics"}};
        for (const auto& [method, path] : paths) {
            QCOMPARE(request(m_http, method, path).status, 401);
            QCOMPARE(request(m_http, method, path, bearer("not-a-token")).status, 401);
            if (method != "GET" && !path.endsWith("session"))
                QCOMPARE(call(method, path, m_viewer, "{}").status, 403);
        }
        QCOMPARE(request(m_http, "GET", "/healthz").status, 200);
        QCOMPARE(request(m_http, "GET", "/api/v1/openapi.json").json()["openapi"].toString().left(2), QString("3."));

        // A session: the cookie is HttpOnly and SameSite=Strict, and a
        // change made with it needs the CSRF token.
        const Answer login = request(m_http, "POST", "/api/v1/session", {"Content-Type: application/json"},
                                     R"({"user":"alice","password":"correct horse"})");
        QCOMPARE(login.status, 200);
        const QByteArray cookie = login.header("Set-Cookie");
        QVERIFY2(cookie.contains("HttpOnly") && cookie.contains("SameSite=Strict"), cookie.constData());
        const QByteArray session = "Cookie: " + cookie.left(cookie.indexOf(';'));
        const QByteArray csrf = "X-CSRF-Token: " + login.json()["csrf_token"].toString().toLatin1();
        const QByteArray pause = p + "/pause";
        QCOMPARE(request(m_http, "GET", "/api/v1/terminals", {session}).status, 200);
        QCOMPARE(request(m_http, "DELETE", pause, {session}).status, 403);
        QCOMPARE(request(m_http, "DELETE", pause, {session, "X-CSRF-Token: wrong"}).status, 403);
        QCOMPARE(request(m_http, "DELETE", pause, {session, csrf}).status, 200);
        QCOMPARE(request(m_http, "DELETE", "/api/v1/session", {session, csrf}).status, 200);
        QCOMPARE(request(m_http, "GET", "/api/v1/terminals", {session}).status, 401);

        // Five wrong passwords in a minute: even the right one waits.
        for (int i = 0; i < 5; ++i)
            QCOMPARE(request(m_http, "POST", "/api/v1/session", {}, R"({"user":"victor","password":"guess"})").status, 401);
        const Answer held = request(m_http, "POST", "/api/v1/session", {},
                                    R"({"user":"victor","password":"correct horse"})");
        QCOMPARE(held.status, 429);
        QVERIFY(held.header("Retry-After").toInt() > 0);
    }

    void badRequestsChangeNothing()
    {
        startService();
        m_terminal->addIdElement("0123456789ABCD", 5);
        const QByteArray keys = terminalPath() + "/keys";
        const struct {
            QByteArray method, path, body, type;
            int status;
        } rows[] = {
            {"GET", "/api/v1/" + QByteArray(2000, 'a'), {}, "application/json", 414},
            {"GET", "/api/v1/events?card=" + QByteArray(3000, '1'), {}, "application/json", 414},
            {"GET", "/api/v1/events?limit=10001", {}, "application/json", 400},
            {"GET", "/api/v1/events?since=yesterday", {}, "application/json", 400},
            {"POST", keys, "{\"id\": ", "application/json", 400},
            {"POST", keys, R"({"id":"0123456789ABCX","access":1})", "application/json", 400},
            {"PUT", keys, "id,access,name\r\n0123456789ABCD,300,x\r\n", "text/csv", 400},
            {"PUT", keys, "card;access\r\n", "text/csv", 400},
            {"PUT", keys, R"([{"id":"0123456789ABCD","access":1}, 7])", "application/json", 400},
            {"POST", "/api/v1/terminals/COM9/keys", R"({"id":"0123456789ABCE","access":1})", "application/json", 404},
            {"POST", terminalPath() + "/pause", R"({"minutes":61})", "application/json", 400},
            {"PUT", terminalPath() + "/configuration", "10 12G4\r\n", "text/plain", 400},
        };
        for (const auto& row : rows) {
            const Answer a = call(row.method, row.path, m_admin, row.body, row.type);
            QVERIFY2(a.status == row.status && !a.json()["error"].toString().isEmpty(),
                     qPrintable(row.method + ' ' + row.path.left(60) + ": " + QByteArray::number(a.status) + ' ' + a.body));
        }
        QCOMPARE(m_terminal->idTable(), (std::vector<rk40sim::IdElement>{{"0123456789ABCD", 5}}));
        QCOMPARE(m_terminal->word(10), std::uint16_t(0));
        QCOMPARE(portState(), QString("collecting"));
    }

    void keysReachTheTerminalAndTheAuditFile()
    {
        startService();
        const QByteArray keys = terminalPath() + "/keys";
        auto table = [this] {
            QStringList out;
            for (const auto& e : m_terminal->idTable())
                out << QString::fromStdString(rk40sim::Terminal::reverseIdBytes(e.wireId)) + ":" + QString::number(e.access);
            out.sort();
            return out;
        };
        QCOMPARE(call("POST", keys, m_admin, R"({"id":"00000000000001","access":3})").status, 201);
        QCOMPARE(call("POST", keys, m_admin, R"({"id":"00000000000002","access":4})").status, 201);
        QCOMPARE(table(), QStringList({"00000000000001:3", "00000000000002:4"}));
        const Answer listed = call("GET", keys, m_viewer);
        QCOMPARE(listed.json()["keys"].toArray().size(), 2);
        QCOMPARE(call("DELETE", keys + "/00000000000001", m_admin).status, 200);
        QCOMPARE(call("DELETE", keys + "/00000000000001", m_admin).status, 404);
        QCOMPARE(table(), QStringList({"00000000000002:4"}));
        const Answer synced = call("PUT", keys, m_admin,
                                   "id,access,name\r\n00000000000002,9,a\r\n00000000000003,1,b\r\n", "text/csv");
        QCOMPARE(synced.status, 200);
        QCOMPARE(synced.json()["added"].toInt(), 1);
        QCOMPARE(synced.json()["changed"].toInt(), 1);
        QCOMPARE(table(), QStringList({"00000000000002:9", "00000000000003:1"}));
        const Answer json = call("PUT", keys, m_admin, R"([{"id":"00000000000003","access":1}])");
        QCOMPARE(json.json()["removed"].toInt(), 1);
        QCOMPARE(json.json()["unchanged"].toInt(), 1);
        QCOMPARE(table(), QStringList({"00000000000003:1"}));

        const QString audit = m_env->path("termset/keys.log");
        const QStringList lines = QString::fromUtf8(testsupport::readAll(audit)).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 6, qPrintable(lines.join('\n')));
        for (const QString& line : lines)
            QVERIFY2(line.contains(" deploy "), qPrintable(line));
        QCOMPARE(mode(audit), 0600);
    }

    void configurationWrittenReadsBackEqual()
    {
        startService();
        const QByteArray path = terminalPath() + "/configuration";
        QByteArray act;
        for (int a = 10; a <= 39; ++a)
            act += QString::asprintf("%02d %04X\r\n", a, a <= 37 ? 0x0120 + a : a - 37).toLatin1();
        const Answer written = call("PUT", path, m_admin, act, "text/plain");
        QVERIFY2(written.status == 200, written.body.constData());
        QCOMPARE(written.json()["logged"].toBool(), true);
        QCOMPARE(m_terminal->word(10), std::uint16_t(0x8000 | 0x012A));   // row words go out marked
        const Answer read = call("GET", path, m_viewer);
        QCOMPARE(read.status, 200);
        QCOMPARE(read.json()["fields"], written.json()["fields"]);
        QCOMPARE(read.json()["words"].toObject()["39"].toString(), QString("0002"));
        QCOMPARE(QString::fromUtf8(testsupport::readAll(m_env->path("termset/log"))).count('\n'), 1);
        // A file that differs in word 39 alone is compared in words, nothing written.
        act.replace("39 0002", "39 0001");
        const Answer compared = call("POST", path + "/differences", m_admin, act, "text/plain");
        QVERIFY2(compared.status == 200, compared.body.constData());
        QCOMPARE(compared.json()["differences"].toArray().size(), 2);   // both fields of word 39
        QVERIFY(compared.json()["differences"].toArray()[0].toString().contains(" -> "));
        QCOMPARE(m_terminal->word(39), std::uint16_t(0x0002));
        // The port collects again afterwards.
        QTRY_COMPARE_WITH_TIMEOUT(portState(), QString("collecting"), kLong);
    }

    void streamResumesWithoutGapOrRepeat()
    {
        startService();
        QTcpSocket s;
        auto open = [&](const QByteArray& lastId) {
            s.abort();
            s.connectToHost(QHostAddress::LocalHost, m_http);
            QVERIFY(s.waitForConnected(kLong));
            s.write("GET /api/v1/events/stream HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + m_viewer.toLatin1()
                    + (lastId.isEmpty() ? QByteArray() : "\r\nLast-Event-ID: " + lastId) + "\r\n\r\n");
        };
        QByteArray got;
        auto ids = [&] {
            got += s.readAll();
            QList<int> out;
            for (const auto& m : QRegularExpression("(?m)^id: (\\d+)$").globalMatch(QString::fromLatin1(got)))
                out << m.captured(1).toInt();
            return out;
        };
        auto send = [&](int first, int count) { QCOMPARE(deliver(*m_terminal, records(1, first, count), 1), 1); };
        open({});
        QTRY_VERIFY_WITH_TIMEOUT((got += s.readAll()).contains("retry:"), kLong);
        send(0, 3);
        QTRY_COMPARE_WITH_TIMEOUT(ids(), QList<int>({1, 2, 3}), kLong);
        // Gone for a while; comes back with the last id it had.
        s.abort();
        send(3, 4);
        got.clear();
        open("3");
        send(7, 2);
        QTRY_COMPARE_WITH_TIMEOUT(ids(), QList<int>({4, 5, 6, 7, 8, 9}), kLong);
        QVERIFY(got.contains("\"id\":9,") && got.contains("\ndata: {"));
    }

    void filesArePrivateAndPasswordsHashed()
    {
        startService();
        const QString users = m_env->path("config/Veltrona/rk40-collector.users");
        const QByteArray text = testsupport::readAll(users);
        QVERIFY(text.contains("user alice admin $argon2id$"));
        QVERIFY(!text.contains("correct horse"));
        QVERIFY(!text.contains(m_admin.toLatin1()));
        const QString data = m_env->path("service/");
        for (const QString& f : {users, data + "events.sqlite", data + "events.sqlite-wal", data + "events.sqlite-shm",
                                 data + "reg.txt"})
            QVERIFY2(mode(f) == 0600, qPrintable(QString("%1: %2").arg(f).arg(mode(f), 0, 8)));
        QCOMPARE(mode(data), 0700);

        QFile::setPermissions(users, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        const auto listed = runProgram(program(), {"user", "list"});
        QCOMPARE(listed.status, 1);
        QVERIFY2(listed.err.contains("other users"), qPrintable(listed.err));
    }
};

QTEST_GUILESS_MAIN(CollectorTest)
#include "tst_rk40collector.moc"
