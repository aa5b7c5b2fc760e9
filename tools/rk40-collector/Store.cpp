#include "Store.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace collector {

namespace {

// Register files are read in pieces of this size; each piece is one transaction.
constexpr qint64 kReadPiece = 4 * 1024 * 1024;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigit(char c)
{
    if (isDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

const char* const kSourceNames[16] = {"T1", "T2", "T3", "T4", "S1O", "S1Z", "S2O", "S2Z",
                                      "S3O", "S3Z", "S4O", "S4Z", "E1", "E2", "E3", "E4"};

// Each step brings the schema from version N to N + 1. A new version adds a
// step; stores of every earlier version are brought forward at open.
const char* const kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE events ("
    "  id INTEGER PRIMARY KEY,"
    "  received_at TEXT NOT NULL,"
    "  port TEXT,"
    "  terminal INTEGER,"
    "  event_date TEXT,"
    "  event_time TEXT,"
    "  source TEXT,"
    "  card TEXT,"
    "  raw TEXT NOT NULL,"
    "  mqtt_pending INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX events_when ON events(event_date, event_time);"
    "CREATE INDEX events_card ON events(card);"
    "CREATE INDEX events_mqtt ON events(id) WHERE mqtt_pending = 1;"
    "CREATE TABLE register_files ("
    "  path TEXT PRIMARY KEY,"
    "  offset INTEGER NOT NULL);",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt* get() const { return m_stmt; }

    void bind(int i, const QString& text)
    {
        if (text.isNull()) {
            sqlite3_bind_null(m_stmt, i);
            return;
        }
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
    void bind(int i, std::optional<int> v)
    {
        if (v) sqlite3_bind_int(m_stmt, i, *v);
        else sqlite3_bind_null(m_stmt, i);
    }
    int step() { return sqlite3_step(m_stmt); }
    void reset() { sqlite3_reset(m_stmt); sqlite3_clear_bindings(m_stmt); }
    QString text(int col) const
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_stmt, col)) : QString();
    }
    std::int64_t int64(int col) const { return sqlite3_column_int64(m_stmt, col); }
    bool isNull(int col) const { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

EventRow rowFrom(const Statement& s)
{
    EventRow r;
    r.id = s.int64(0);
    r.receivedAt = s.text(1);
    r.port = s.text(2);
    if (!s.isNull(3)) r.terminal = int(s.int64(3));
    r.eventDate = s.text(4);
    r.eventTime = s.text(5);
    r.source = s.text(6);
    r.card = s.text(7);
    r.raw = s.text(8);
    return r;
}

constexpr const char* kRowColumns = "id, received_at, port, terminal, event_date, event_time, source, card, raw";

} // namespace

EventRow decodeRecord(const QByteArray& line, int currentYear)
{
    EventRow r;
    r.raw = QString::fromLatin1(line);
    if (line.size() != 19)
        return r;
    const char* c = line.constData();
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 18})
        if (!isDigit(c[i]))
            return r;
    const int source = hexDigit(c[9]);
    if (source < 0)
        return r;
    // The most recent year ending in the digit that is not after this year.
    const int y = c[4] - '0';
    const int year = currentYear - (((currentYear % 10) - y + 10) % 10);
    r.eventDate = QString("%1-%2%3-%4%5").arg(year, 4, 10, QChar('0')).arg(c[2]).arg(c[3]).arg(c[0]).arg(c[1]);
    r.eventTime = QString("%1%2:%3%4").arg(c[5]).arg(c[6]).arg(c[7]).arg(c[8]);
    r.source = QString::fromLatin1(kSourceNames[source]);
    r.card = QString::fromLatin1(line.mid(10, 8));
    r.terminal = c[18] - '0';
    return r;
}

Store::~Store()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

QString Store::lastError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no store open");
}

bool Store::exec(const char* sql, QString* error) const
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(message ? message : "unknown SQLite error");
    sqlite3_free(message);
    return false;
}

bool Store::open(const QString& path, QString* error)
{
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        if (error) *error = QString("cannot open %1: %2").arg(path, lastError());
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    // WAL: readers (rk40-collector query) never block the collector. With
    // synchronous NORMAL a committed transaction survives the process being
    // killed; a power cut may lose the last ones, which are then read again
    // from the register file (offset and rows are always in step).
    QString why;
    if (!exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", &why) || !migrate(&why)) {
        if (error) *error = QString("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool Store::openReadOnly(const QString& path, QString* error)
{
    if (!QFileInfo::exists(path)) {
        if (error) *error = QString("%1 does not exist (has the collector run yet?)").arg(path);
        return false;
    }
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        if (error) *error = QString("cannot open %1: %2").arg(path, lastError());
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    const int version = schemaVersion();
    if (version != kSchemaVersion) {
        if (error)
            *error = version < 0 ? QString("%1: %2").arg(path, lastError())
                                 : QString("%1 has schema version %2; this rk40-collector reads version %3")
                                       .arg(path).arg(version).arg(kSchemaVersion);
        return false;
    }
    return true;
}

int Store::schemaVersion() const
{
    Statement s(m_db, "PRAGMA user_version");
    if (!s || s.step() != SQLITE_ROW)
        return -1;
    return int(s.int64(0));
}

bool Store::migrate(QString* error)
{
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    const int version = schemaVersion();
    if (version < 0 || version > kSchemaVersion) {
        exec("ROLLBACK", nullptr);
        if (error)
            *error = version < 0 ? lastError()
                                 : QString("the store has schema version %1, newer than this rk40-collector (%2)")
                                       .arg(version).arg(kSchemaVersion);
        return false;
    }
    for (int v = version; v < kSchemaVersion; ++v) {
        if (!exec(kMigrations[v], error)) {
            exec("ROLLBACK", nullptr);
            return false;
        }
    }
    const QByteArray set = "PRAGMA user_version = " + QByteArray::number(kSchemaVersion);
    if (!exec(set.constData(), error) || !exec("COMMIT", error)) {
        exec("ROLLBACK", nullptr);
        return false;
    }
    return true;
}

std::int64_t Store::registerOffset(const QString& registerFile) const
{
    Statement s(m_db, "SELECT offset FROM register_files WHERE path = ?");
    s.bind(1, registerFile);
    return s.step() == SQLITE_ROW ? s.int64(0) : 0;
}

int Store::ingest(const QString& registerFile, const QString& port, int lastBlockRecords, bool mqttPending,
                  QString* error)
{
    QFile file(registerFile);
    if (!file.exists())
        return 0;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QString("cannot read %1: %2").arg(registerFile, file.errorString());
        return -1;
    }
    std::int64_t offset = registerOffset(registerFile);
    if (file.size() < offset) {
        // Replaced or cut short by someone else: what is there now is new.
        qWarning("register file %s is shorter than the %lld bytes already stored; reading it from its start",
                 qPrintable(registerFile), static_cast<long long>(offset));
        offset = 0;
    }

    Statement insert(m_db, "INSERT INTO events (received_at, port, terminal, event_date, event_time, source, card,"
                           " raw, mqtt_pending) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Statement setOffset(m_db, "INSERT INTO register_files (path, offset) VALUES (?, ?)"
                              " ON CONFLICT(path) DO UPDATE SET offset = excluded.offset");
    if (!insert || !setOffset) {
        if (error) *error = lastError();
        return -1;
    }

    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const int year = QDate::currentDate().year();
    int added = 0;
    for (;;) {
        if (!file.seek(offset)) {
            if (error) *error = QString("cannot read %1: %2").arg(registerFile, file.errorString());
            return -1;
        }
        const QByteArray piece = file.read(kReadPiece);
        const qsizetype end = piece.lastIndexOf('\n');
        if (end < 0)
            return added;  // nothing complete (yet)
        const bool last = offset + piece.size() >= file.size();
        QList<QByteArray> lines = piece.left(end).split('\n');
        for (auto& l : lines)
            if (l.endsWith('\r'))
                l.chop(1);
        // The block just appended is the tail of the file.
        qsizetype attributedFrom = lines.size();
        if (last && !port.isEmpty()) {
            int n = 0;
            for (qsizetype i = lines.size(); i-- > 0 && n < lastBlockRecords;) {
                if (!lines[i].isEmpty()) {
                    attributedFrom = i;
                    ++n;
                }
            }
        }

        if (!exec("BEGIN IMMEDIATE", error))
            return -1;
        bool ok = true;
        for (qsizetype i = 0; ok && i < lines.size(); ++i) {
            if (lines[i].trimmed().isEmpty())
                continue;
            const EventRow r = decodeRecord(lines[i], year);
            insert.bind(1, now);
            insert.bind(2, i >= attributedFrom ? port : QString());
            insert.bind(3, r.terminal);
            insert.bind(4, r.eventDate.isEmpty() ? QString() : r.eventDate);
            insert.bind(5, r.eventTime.isEmpty() ? QString() : r.eventTime);
            insert.bind(6, r.source.isEmpty() ? QString() : r.source);
            insert.bind(7, r.card.isEmpty() ? QString() : r.card);
            insert.bind(8, r.raw);
            insert.bind(9, std::int64_t(mqttPending ? 1 : 0));
            ok = insert.step() == SQLITE_DONE;
            insert.reset();
            if (ok)
                ++added;
        }
        if (ok) {
            setOffset.bind(1, registerFile);
            setOffset.bind(2, std::int64_t(offset + end + 1));
            ok = setOffset.step() == SQLITE_DONE;
            setOffset.reset();
        }
        if (!ok || !exec("COMMIT", error)) {
            if (error && ok == false) *error = lastError();
            exec("ROLLBACK", nullptr);
            return -1;
        }
        offset += end + 1;
        if (last)
            return added;
    }
}

std::vector<EventRow> Store::query(const QueryFilter& f, QString* error) const
{
    QString sql = QString("SELECT %1 FROM events WHERE 1").arg(kRowColumns);
    // Dates and times are fixed-width texts, so text order is time order.
    if (!f.since.isEmpty()) sql += " AND event_date || ' ' || event_time >= :since";
    if (!f.until.isEmpty()) sql += " AND event_date || ' ' || event_time <= :until";
    if (!f.card.isEmpty()) sql += " AND card = :card";
    if (f.terminal) sql += " AND terminal = :terminal";
    if (!f.source.isEmpty()) sql += " AND source = :source";
    sql += " ORDER BY id";
    const QByteArray utf8 = sql.toUtf8();
    Statement s(m_db, utf8.constData());
    if (!s) {
        if (error) *error = lastError();
        return {};
    }
    auto bindNamed = [&](const char* name, const QString& v) {
        if (const int i = sqlite3_bind_parameter_index(s.get(), name); i > 0) s.bind(i, v);
    };
    // "until" a date covers that whole day.
    bindNamed(":since", f.since);
    bindNamed(":until", f.until.size() == 10 ? f.until + " 99:99" : f.until);
    bindNamed(":card", f.card);
    bindNamed(":source", f.source);
    if (const int i = sqlite3_bind_parameter_index(s.get(), ":terminal"); i > 0) s.bind(i, f.terminal);
    std::vector<EventRow> rows;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        rows.push_back(rowFrom(s));
    if (rc != SQLITE_DONE && error)
        *error = lastError();
    return rows;
}

std::vector<EventRow> Store::pendingForMqtt(std::int64_t afterId, int limit) const
{
    const QByteArray sql =
        QString("SELECT %1 FROM events WHERE mqtt_pending = 1 AND id > ? ORDER BY id LIMIT ?").arg(kRowColumns).toUtf8();
    Statement s(m_db, sql.constData());
    s.bind(1, afterId);
    s.bind(2, std::int64_t(limit));
    std::vector<EventRow> rows;
    while (s.step() == SQLITE_ROW)
        rows.push_back(rowFrom(s));
    return rows;
}

void Store::markPublished(std::int64_t id)
{
    Statement s(m_db, "UPDATE events SET mqtt_pending = 0 WHERE id = ?");
    s.bind(1, id);
    if (s.step() != SQLITE_DONE)
        qWarning("cannot mark event %lld as published: %s", static_cast<long long>(id), qPrintable(lastError()));
}

int Store::pendingCount() const
{
    Statement s(m_db, "SELECT count(*) FROM events WHERE mqtt_pending = 1");
    return s.step() == SQLITE_ROW ? int(s.int64(0)) : -1;
}

QByteArray eventJson(const EventRow& r)
{
    auto text = [](const QString& v) { return v.isEmpty() ? QJsonValue() : QJsonValue(v); };
    QJsonObject o;
    o["id"] = qint64(r.id);
    o["received_at"] = r.receivedAt;
    o["port"] = text(r.port);
    o["terminal"] = r.terminal ? QJsonValue(*r.terminal) : QJsonValue();
    o["event_date"] = text(r.eventDate);
    o["event_time"] = text(r.eventTime);
    o["source"] = text(r.source);
    o["card"] = text(r.card);
    o["raw"] = r.raw;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace collector
