// The HTTP API of rk40-collector end to end: the program against simulated
// terminals on pseudo-terminals, asked over real HTTP on loopback.

#include "CollectorProcess.h"
#include "RunProgram.h"
#include "TestBytes.h"
#include "TestEnvironment.h"
#include "TestNetwork.h"

#include "rk40sim/Terminal.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <sys/stat.h>

using testsupport::runProgram;

namespace {

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

} // namespace

class HttpApiTest : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TestEnvironment> m_env;
    std::unique_ptr<rk40sim::Terminal> m_terminal;
    std::unique_ptr<CollectorProcess> m_service;   // with the HTTP API on port m_http
    quint16 m_http = 0;
    QString m_admin, m_viewer;   // bearer tokens
    QString error;

    QList<QByteArray> bearer(const QString& token) const { return {"Authorization: Bearer " + token.toLatin1()}; }
    QByteArray port() const { return QUrl::toPercentEncoding(QString::fromStdString(m_terminal->slavePath())); }
    Answer call(const QByteArray& method, const QByteArray& path, const QString& token, const QByteArray& body = {},
                const QByteArray& type = "application/json")
    {
        return request(m_http, method, path, bearer(token) << "Content-Type: " + type, body);
    }
    QString portState()
    {
        return call("GET", "/api/v1/terminals", m_viewer).json()["terminals"].toArray()[0].toObject()["state"].toString();
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
        ::umask(0);   // whatever the service creates must be private all the same
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
    void cleanup()
    {
        m_service.reset();
        m_terminal.reset();
        m_env.reset();
        ::umask(022);
    }

    void whoMayDoWhat()
    {
        const QByteArray p = "/api/v1/terminals/" + port();
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
        m_terminal->addIdElement("0123456789ABCD", 5);
        const QByteArray keys = "/api/v1/terminals/" + port() + "/keys";
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
            {"POST", "/api/v1/terminals/" + port() + "/pause", R"({"minutes":61})", "application/json", 400},
            {"PUT", "/api/v1/terminals/" + port() + "/configuration", "10 12G4\r\n", "text/plain", 400},
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
        const QByteArray keys = "/api/v1/terminals/" + port() + "/keys";
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
        const QByteArray path = "/api/v1/terminals/" + port() + "/configuration";
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

QTEST_GUILESS_MAIN(HttpApiTest)
#include "tst_httpapi.moc"
