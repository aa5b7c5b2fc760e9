#include "ApiService.h"

#include "ConfigurationService.h"
#include "EventText.h"
#include "NameBook.h"
#include "PortWorker.h"
#include "Store.h"

#include "terminalops/KeyTable.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace collector {

namespace {

constexpr int kDefaultLimit = 100;
constexpr int kMaxLimit = 10000;
constexpr int kMaxPauseMinutes = 60;
const QByteArray kCookieName = "rk40_session";

QString sourceList()
{
    return QStringLiteral("T1 T2 T3 T4 S1O S1Z S2O S2Z S3O S3Z S4O S4Z E1 E2 E3 E4");
}

QByteArray cookieValue(const ApiRequest& request)
{
    for (QByteArray part : request.header("Cookie").split(';')) {
        part = part.trimmed();
        if (part.startsWith(kCookieName + '='))
            return part.mid(kCookieName.size() + 1);
    }
    return {};
}

// The body as a JSON object, or why not.
std::optional<QJsonObject> jsonObject(const ApiRequest& request, QString* error)
{
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = pe.error != QJsonParseError::NoError
                     ? QString("the body is not valid JSON: %1 at byte %2").arg(pe.errorString()).arg(pe.offset)
                     : QString("the body must be a JSON object");
        return std::nullopt;
    }
    return doc.object();
}

bool isJson(const ApiRequest& request)
{
    return request.header("Content-Type").split(';').value(0).trimmed().toLower() == "application/json";
}

// A key from {"id", "access"}; empty id and `error` set when it is not one.
terminalops::Key keyFrom(const QJsonValue& value, QString* error)
{
    const QJsonObject o = value.toObject();
    const QString id = terminalops::normalKeyId(o.value("id").toString());
    const QJsonValue access = o.value("access");
    const double a = access.toDouble(-1);
    if (id.isEmpty()) {
        *error = QString("\"id\" must be %1 hexadecimal digits").arg(terminalops::kKeyIdDigits);
        return {};
    }
    if (!access.isDouble() || a != std::floor(a) || a < 0 || a > terminalops::kMaxAccess) {
        *error = QString("\"access\" must be a whole number 0..%1").arg(terminalops::kMaxAccess);
        return {};
    }
    return {id, int(a), {}};
}

} // namespace

} // namespace collector

static void initOpenApiResource() { Q_INIT_RESOURCE(openapi); }

namespace collector {

ApiService::ApiService(AccountFile& accounts, Store& readStore, TerminalService& terminals,
                       ConfigurationService* configurations, QObject* parent)
    : QObject(parent), m_accounts(accounts), m_store(readStore), m_terminals(terminals),
      m_configurations(configurations), m_stream(readStore, this)
{
    initOpenApiResource();
    m_clock.start();
}

ApiService::~ApiService() = default;

std::optional<ApiService::Caller> ApiService::identify(const ApiRequest& request)
{
    QString error;
    if (!m_accounts.reloadIfChanged(&error))
        qWarning("%s; the accounts read before stay in use", qPrintable(error));
    const QByteArray auth = request.header("Authorization");
    if (auth.startsWith("Bearer ")) {
        const Account* a = m_accounts.findToken(QString::fromLatin1(auth.mid(7).trimmed()));
        if (!a)
            return std::nullopt;
        return Caller{a->name, a->role, nullptr};
    }
    const QByteArray cookie = cookieValue(request);
    if (cookie.isEmpty())
        return std::nullopt;
    const Session* s = m_sessions.find(QString::fromLatin1(cookie), m_clock.elapsed());
    if (!s)
        return std::nullopt;
    // The account may have been removed or changed since the login.
    const Account* a = m_accounts.find(Account::User, s->user);
    if (!a) {
        m_sessions.closeUser(s->user);
        return std::nullopt;
    }
    return Caller{s->user, std::min(a->role, s->role), s};
}

void ApiService::handle(const ApiRequest& request, const Responder& responder)
{
    // Segments are split before decoding, so a device path such as
    // %2Fdev%2FttyUSB0 stays one segment.
    QStringList segments;
    for (const QString& s : request.path.split('/', Qt::SkipEmptyParts))
        segments << QUrl::fromPercentEncoding(s.toLatin1());
    const QString joined = segments.join('/');

    if (joined == "healthz" && request.method == "GET")
        return responder.send(Reply::json({{"status", "ok"}}));
    if (joined == "api/v1/openapi.json" && request.method == "GET") {
        QFile f(":/rk40-collector/openapi.json");
        Reply r;
        r.body = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("{}");
        return responder.send(r);
    }
    if (joined == "api/v1/session" && request.method == "POST")
        return responder.send(login(request, responder.secure()));
    const bool api = joined.startsWith("api/v1/") || joined == "api/v1";
    if (!api && joined != "metrics")
        return responder.send(Reply::error(404, "no such path"));

    const auto caller = identify(request);
    if (!caller)
        return responder.send(Reply::error(401, "log in (POST /api/v1/session) or send Authorization: Bearer TOKEN"));
    const bool changes = request.method != "GET" && request.method != "HEAD";
    if (changes && caller->session) {
        const QByteArray csrf = request.header("X-CSRF-Token");
        if (csrf.isEmpty() || QString::fromLatin1(csrf) != caller->session->csrfToken)
            return responder.send(Reply::error(403, "a request that changes something must send the session's X-CSRF-Token"));
    }
    if (joined == "api/v1/session" && request.method == "DELETE")
        return responder.send(logout(request));
    if (joined == "metrics" && request.method == "GET")
        return responder.send(metrics());
    if (changes && caller->role != Role::Admin)
        return responder.send(Reply::error(403, QString("%1 is a viewer; this needs an admin account").arg(caller->name)));
    route(request, segments.mid(2), *caller, responder);
}

void ApiService::route(const ApiRequest& request, const QStringList& segments, const Caller& caller,
                       const Responder& responder)
{
    const QString first = segments.value(0);
    if (first == "events" && segments.size() == 1) {
        if (request.method != "GET")
            return responder.send(Reply::error(405, "events are read with GET"));
        return responder.send(events(request));
    }
    if (first == "events" && segments.size() == 2 && segments[1] == "stream") {
        if (request.method != "GET")
            return responder.send(Reply::error(405, "the stream is read with GET"));
        return openStream(request, responder);
    }
    if (first == "terminals" && segments.size() == 1) {
        if (request.method != "GET")
            return responder.send(Reply::error(405, "terminals are listed with GET"));
        return responder.send(Reply::json({{"terminals", m_terminals.list()}}));
    }
    if (first == "names" && segments.size() == 1 && request.method == "GET")
        return responder.send(Reply::json({{"names", m_names ? m_names->names() : QJsonObject()}}));
    if (first == "terminals" && segments.size() >= 3)
        return terminal(request, segments, caller, responder);
    responder.send(Reply::error(404, "no such path"));
}

Reply ApiService::login(const ApiRequest& request, bool secure)
{
    QString error;
    const auto body = jsonObject(request, &error);
    if (!body)
        return Reply::error(400, error);
    const QString user = body->value("user").toString(), password = body->value("password").toString();
    if (user.isEmpty() || !body->value("password").isString())
        return Reply::error(400, "give \"user\" and \"password\"");
    if (!m_accounts.reloadIfChanged(&error))
        qWarning("%s; the accounts read before stay in use", qPrintable(error));
    const qint64 now = m_clock.elapsed();
    if (const qint64 wait = m_throttle.waitMs(user, now); wait > 0) {
        Reply r = Reply::error(429, QString("too many failed logins for %1; try again in %2 s").arg(user).arg((wait + 999) / 1000));
        r.headers.append({"Retry-After", QByteArray::number((wait + 999) / 1000)});
        return r;
    }
    const Account* a = m_accounts.find(Account::User, user);
    if (!a || !verifyPassword(a->hash, password)) {
        m_throttle.failed(user, now);
        qWarning("failed login for %s", qPrintable(user));
        return Reply::error(401, "wrong user name or password");
    }
    m_throttle.succeeded(user);
    const Session& s = m_sessions.open(a->name, a->role, now);
    Reply r = Reply::json({{"user", a->name}, {"role", roleText(a->role)}, {"csrf_token", s.csrfToken}});
    r.headers.append({"Set-Cookie", kCookieName + '=' + s.id.toLatin1() + "; Path=/; HttpOnly; SameSite=Strict"
                                        + (secure ? "; Secure" : "")});
    return r;
}

Reply ApiService::logout(const ApiRequest& request)
{
    m_sessions.close(QString::fromLatin1(cookieValue(request)));
    Reply r = Reply::json({{"logged_out", true}});
    r.headers.append({"Set-Cookie", kCookieName + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"});
    return r;
}

Reply ApiService::events(const ApiRequest& request)
{
    static const QStringList known = {"since", "until", "card", "terminal", "source", "port",
                                      "after_id", "before_id", "limit"};
    const QUrlQuery& q = request.query;
    for (const auto& item : q.queryItems())
        if (!known.contains(item.first))
            return Reply::error(400, QString("unknown parameter %1; known: %2").arg(item.first, known.join(", ")));
    QueryFilter f;
    Page page;
    page.newestFirst = true;
    page.limit = kDefaultLimit;
    auto when = [&](const char* name, QString* out) {
        if (!q.hasQueryItem(name))
            return true;
        *out = q.queryItemValue(name, QUrl::FullyDecoded);
        return normaliseWhen(out);
    };
    if (!when("since", &f.since) || !when("until", &f.until))
        return Reply::error(400, "since and until want YYYY-MM-DD or YYYY-MM-DDTHH:MM");
    f.card = q.queryItemValue("card", QUrl::FullyDecoded).trimmed();
    f.source = q.queryItemValue("source").toUpper();
    if (!f.source.isEmpty() && !sourceList().split(' ').contains(f.source))
        return Reply::error(400, QString("source wants one of %1").arg(sourceList()));
    f.port = q.queryItemValue("port", QUrl::FullyDecoded);
    auto number = [&](const char* name, qint64 low, qint64 high, qint64* out) {
        if (!q.hasQueryItem(name))
            return true;
        bool ok = false;
        *out = q.queryItemValue(name).toLongLong(&ok);
        return ok && *out >= low && *out <= high;
    };
    qint64 terminal = -1, limit = kDefaultLimit, after = 0, before = 0;
    if (!number("terminal", 0, 999, &terminal))
        return Reply::error(400, "terminal wants a terminal number");
    if (q.hasQueryItem("terminal"))
        f.terminal = int(terminal);
    if (!number("limit", 1, kMaxLimit, &limit))
        return Reply::error(400, QString("limit wants 1..%1").arg(kMaxLimit));
    if (!number("after_id", 0, std::numeric_limits<qint64>::max(), &after)
        || !number("before_id", 0, std::numeric_limits<qint64>::max(), &before))
        return Reply::error(400, "after_id and before_id want an event id");
    page.limit = int(limit);
    page.afterId = after;
    page.beforeId = before;

    QString error;
    const auto rows = m_store.query(f, &error, page);
    if (!error.isEmpty())
        return Reply::error(500, QString("the store cannot be read: %1").arg(error));
    if (request.header("Accept").contains("text/csv")) {
        Reply r;
        r.contentType = "text/csv; charset=utf-8";
        QString text = eventColumns().join(',') + "\r\n";
        for (const EventRow& row : rows)
            text += eventCsvLine(eventCells(row));
        r.body = text.toUtf8();
        return r;
    }
    Reply r;
    r.body = "{\"events\":[";
    for (std::size_t i = 0; i < rows.size(); ++i)
        r.body += (i ? "," : "") + eventJson(rows[i]);
    r.body += "]}";
    return r;
}

void ApiService::openStream(const ApiRequest& request, const Responder& responder)
{
    if (m_stream.full())
        return responder.send(Reply::error(503, QString("already %1 streams open").arg(EventStream::kMaxClients)));
    std::int64_t last = 0;
    const QByteArray resume = request.header("Last-Event-ID");
    bool ok = false;
    if (!resume.isEmpty())
        last = resume.trimmed().toLongLong(&ok);
    if (!resume.isEmpty() && (!ok || last < 0))
        return responder.send(Reply::error(400, "Last-Event-ID wants an event id"));
    if (resume.isEmpty())
        last = std::max<std::int64_t>(0, m_store.lastId());
    if (QTcpSocket* socket = responder.startStream())
        m_stream.add(socket, last);
}

Reply ApiService::metrics()
{
    QByteArray m;
    m += "# HELP rk40_events_stored Events in the store by the port they came from.\n# TYPE rk40_events_stored gauge\n";
    for (const auto& [port, count] : m_store.countsByPort())
        m += "rk40_events_stored{port=\"" + port.toUtf8() + "\"} " + QByteArray::number(qint64(count)) + "\n";
    m += "# HELP rk40_port_up 1 while the port collects.\n# TYPE rk40_port_up gauge\n";
    QByteArray since = "# HELP rk40_seconds_since_last_block Seconds since the port's last block.\n"
                       "# TYPE rk40_seconds_since_last_block gauge\n";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (PortWorker* w : m_terminals.ports()) {
        const PortSnapshot s = w->snapshot();
        const QByteArray label = "{port=\"" + s.port.toUtf8() + "\"}";
        m += "rk40_port_up" + label + (s.state == "collecting" ? " 1\n" : " 0\n");
        if (s.lastBlockAt.isValid())
            since += "rk40_seconds_since_last_block" + label + ' ' + QByteArray::number(s.lastBlockAt.secsTo(now)) + "\n";
    }
    m += since;
    m += "# HELP rk40_mqtt_events_pending Events not yet delivered to the broker.\n# TYPE rk40_mqtt_events_pending gauge\n";
    m += "rk40_mqtt_events_pending " + QByteArray::number(m_store.pendingCount()) + "\n";
    m += "# HELP rk40_event_stream_clients Open event streams.\n# TYPE rk40_event_stream_clients gauge\n";
    m += "rk40_event_stream_clients " + QByteArray::number(m_stream.clientCount()) + "\n";
    m += "# HELP rk40_http_requests_total HTTP answers by status.\n# TYPE rk40_http_requests_total counter\n";
    if (m_transport)
        for (auto it = m_transport->answersByStatus().cbegin(); it != m_transport->answersByStatus().cend(); ++it)
            m += "rk40_http_requests_total{code=\"" + QByteArray::number(it.key()) + "\"} "
                 + QByteArray::number(it.value()) + "\n";
    if (m_extraMetrics)
        m += m_extraMetrics();
    Reply r;
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    r.body = m;
    return r;
}

void ApiService::terminal(const ApiRequest& request, const QStringList& segments, const Caller& caller,
                          const Responder& responder)
{
    const QString& portName = segments[1];
    PortWorker* port = m_terminals.find(portName);
    if (!port)
        return responder.send(Reply::error(404, QString("no port %1 is collected here").arg(portName)));
    const QString what = segments[2];
    const QByteArray& method = request.method;
    const int depth = int(segments.size());
    QString error;
    if (what == "status" && depth == 3 && method == "GET")
        return m_terminals.status(port, responder);
    if (what == "clock" && depth == 3 && method == "POST")
        return m_terminals.setClock(port, responder);
    if (what == "pause" && depth == 3 && method == "DELETE")
        return m_terminals.resume(port, responder);
    if (what == "pause" && depth == 3 && method == "POST") {
        const auto body = jsonObject(request, &error);
        if (!body)
            return responder.send(Reply::error(400, error));
        const double minutes = body->value("minutes").toDouble(-1);
        if (minutes != std::floor(minutes) || minutes < 1 || minutes > kMaxPauseMinutes)
            return responder.send(Reply::error(400, QString("\"minutes\" wants a whole number 1..%1").arg(kMaxPauseMinutes)));
        qInfo("%s pauses %s for %d minute(s)", qPrintable(caller.name), qPrintable(port->portName()), int(minutes));
        return m_terminals.pause(port, int(minutes), responder);
    }
    if (what == "keys" && depth == 3 && method == "GET")
        return m_terminals.listKeys(port, responder);
    if (what == "keys" && depth == 3 && method == "POST") {
        const auto body = jsonObject(request, &error);
        if (!body)
            return responder.send(Reply::error(400, error));
        const terminalops::Key key = keyFrom(*body, &error);
        if (key.id.isEmpty())
            return responder.send(Reply::error(400, error));
        return m_terminals.addKey(port, key, caller.name, responder);
    }
    if (what == "keys" && depth == 4 && method == "DELETE") {
        const QString id = terminalops::normalKeyId(segments[3]);
        if (id.isEmpty())
            return responder.send(Reply::error(400, QString("a key id is %1 hexadecimal digits").arg(terminalops::kKeyIdDigits)));
        return m_terminals.removeKey(port, id, caller.name, responder);
    }
    if (what == "keys" && depth == 3 && method == "PUT") {
        terminalops::KeyList wanted;
        if (isJson(request)) {
            QJsonParseError pe{};
            const QJsonDocument doc = QJsonDocument::fromJson(request.body, &pe);
            if (pe.error != QJsonParseError::NoError || !doc.isArray())
                return responder.send(Reply::error(400, "the body must be a JSON list of {\"id\", \"access\"}"));
            for (const QJsonValue& v : doc.array()) {
                const terminalops::Key key = keyFrom(v, &error);
                if (key.id.isEmpty())
                    return responder.send(Reply::error(400, QString("key %1: %2").arg(wanted.size() + 1).arg(error)));
                wanted.push_back(key);
            }
            wanted = terminalops::sortedKeys(wanted);
            for (std::size_t i = 1; i < wanted.size(); ++i)
                if (wanted[i].id == wanted[i - 1].id)
                    return responder.send(Reply::error(400, QString("key %1 is given twice").arg(wanted[i].id)));
        } else if (request.header("Content-Type").startsWith("text/csv")) {
            const terminalops::KeyFile file = terminalops::parseKeyCsv(request.body);
            if (!file.ok)
                return responder.send(Reply::error(400, QString("line %1: %2").arg(file.line).arg(file.reason)));
            wanted = file.keys;
        } else {
            return responder.send(Reply::error(415, "send the keys as text/csv (the key file) or application/json"));
        }
        return m_terminals.syncKeys(port, wanted, caller.name, responder);
    }
    if (what == "configuration" && depth == 3 && m_configurations) {
        if (method == "GET")
            return m_configurations->read(port, responder);
        if (method == "PUT")
            return m_configurations->write(port, request.body, caller.name, responder);
    }
    if (what == "configuration" && depth == 4 && segments[3] == "differences" && method == "POST" && m_configurations)
        return m_configurations->differences(port, request.body, responder);
    responder.send(Reply::error(404, "no such path"));
}

} // namespace collector
