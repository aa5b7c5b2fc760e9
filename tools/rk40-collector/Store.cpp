#include "Store.h"

#include "BlockLedger.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <unistd.h>

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
    // 1 -> 2: the register file known by device, inode and first bytes.
    "ALTER TABLE register_files ADD COLUMN device INTEGER;"
    "ALTER TABLE register_files ADD COLUMN inode INTEGER;"
    "ALTER TABLE register_files ADD COLUMN head_length INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE register_files ADD COLUMN head_sha256 BLOB;",
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
    void bindBlob(int i, const QByteArray& b)
    {
        sqlite3_bind_blob(m_stmt, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
    QByteArray blob(int col) const
    {
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, col)), sqlite3_column_bytes(m_stmt, col));
    }
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
    // A writer that finds the store locked gives up soon and tries again
    // later: blocks keep being taken meanwhile (they are in the register file).
    sqlite3_busy_timeout(m_db, 2000);
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
    // Events read the same in every version so far.
    const int version = schemaVersion();
    if (version < 1 || version > kSchemaVersion) {
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

std::optional<RegisterPosition> Store::registerPosition(const QString& registerFile) const
{
    Statement s(m_db, "SELECT offset, device, inode, head_length, head_sha256 FROM register_files WHERE path = ?");
    s.bind(1, registerFile);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    RegisterPosition p;
    p.offset = s.int64(0);
    // A store of version 1 knew the path alone.
    p.file.device = s.isNull(1) ? -1 : s.int64(1);
    p.file.inode = s.isNull(2) ? -1 : s.int64(2);
    p.file.headLength = s.int64(3);
    p.file.headHash = s.blob(4);
    return p;
}

IngestOutcome::Failure Store::failureKind() const
{
    const int code = sqlite3_errcode(m_db) & 0xFF;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED ? IngestOutcome::Failure::Busy : IngestOutcome::Failure::Write;
}

namespace {

QByteArray readAt(int fd, std::int64_t from, std::int64_t length)
{
    QByteArray piece(qsizetype(length), '\0');
    qsizetype got = 0;
    while (got < piece.size()) {
        const ssize_t n = ::pread(fd, piece.data() + got, std::size_t(piece.size() - got), off_t(from + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    piece.truncate(got);
    return piece;
}

struct Line {
    QByteArray text;
    std::int64_t end = 0;  // file offset just after its line end
    QString port;
};

// The lines of a piece that starts at `from`; a last line without its end
// is left out unless `takeRest`.
std::vector<Line> splitLines(const QByteArray& piece, std::int64_t from, bool takeRest)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < piece.size()) {
        qsizetype lf = piece.indexOf('\n', start);
        if (lf < 0 && !takeRest)
            break;
        if (lf < 0)
            lf = piece.size() - 1;
        Line l;
        l.text = piece.mid(start, lf - start + (piece[lf] == '\n' ? 0 : 1));
        if (l.text.endsWith('\r'))
            l.text.chop(1);
        l.end = from + lf + 1;
        lines.push_back(std::move(l));
        start = lf + 1;
    }
    return lines;
}

// Each block's records are the last non-empty lines up to where it ended.
void attribute(std::vector<Line>& lines, const RegisterIdentity& file, const std::vector<BlockMark>& marks)
{
    for (const BlockMark& m : marks) {
        if (m.device != file.device || m.inode != file.inode)
            continue;
        auto last = std::find_if(lines.begin(), lines.end(), [&](const Line& l) { return l.end == m.end; });
        if (last == lines.end())
            continue;
        int n = 0;
        for (auto it = std::make_reverse_iterator(last + 1); it != lines.rend() && n < m.records; ++it) {
            if (it->text.trimmed().isEmpty())
                continue;
            it->port = m.port;
            ++n;
        }
    }
}

} // namespace

namespace {

constexpr const char* kInsertSql = "INSERT INTO events (received_at, port, terminal, event_date, event_time, source,"
                                   " card, raw, mqtt_pending) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";

bool insertRow(Statement& insert, const QByteArray& text, const QString& port, const QString& now, int year,
               bool mqttPending)
{
    const EventRow r = decodeRecord(text, year);
    insert.bind(1, now);
    insert.bind(2, port.isEmpty() ? QString() : port);
    insert.bind(3, r.terminal);
    insert.bind(4, r.eventDate.isEmpty() ? QString() : r.eventDate);
    insert.bind(5, r.eventTime.isEmpty() ? QString() : r.eventTime);
    insert.bind(6, r.source.isEmpty() ? QString() : r.source);
    insert.bind(7, r.card.isEmpty() ? QString() : r.card);
    insert.bind(8, r.raw);
    insert.bind(9, std::int64_t(mqttPending ? 1 : 0));
    const bool ok = insert.step() == SQLITE_DONE;
    insert.reset();
    return ok;
}

} // namespace

bool Store::insertRecords(const QList<QByteArray>& records, const QString& port, bool mqttPending, QString* error)
{
    Statement insert(m_db, kInsertSql);
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const int year = QDate::currentDate().year();
    bool ok = insert && exec("BEGIN IMMEDIATE", error);
    for (qsizetype i = 0; ok && i < records.size(); ++i)
        ok = insertRow(insert, records[i], port, now, year, mqttPending);
    if (ok && exec("COMMIT", error))
        return true;
    if (error) *error = lastError();
    exec("ROLLBACK", nullptr);
    return false;
}

IngestOutcome Store::ingest(RegisterFollower& follower, BlockLedger* ledger, bool mqttPending)
{
    IngestOutcome out;
    auto fail = [&](const QString& why) {
        out.failure = failureKind();
        out.error = why.isEmpty() ? lastError() : why;
        exec("ROLLBACK", nullptr);
        return out;
    };
    Statement insert(m_db, kInsertSql);
    Statement setPosition(m_db, "INSERT INTO register_files (path, offset, device, inode, head_length, head_sha256)"
                                " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT(path) DO UPDATE SET offset = excluded.offset,"
                                " device = excluded.device, inode = excluded.inode,"
                                " head_length = excluded.head_length, head_sha256 = excluded.head_sha256");
    if (!insert || !setPosition) {
        out.failure = failureKind();
        out.error = lastError();
        return out;
    }
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    const int year = QDate::currentDate().year();
    for (;;) {
        QString why;
        if (!exec("BEGIN IMMEDIATE", &why))
            return fail(why);
        const auto stored = registerPosition(follower.path());
        const auto span = follower.plan(stored, &out.notes);
        // A position that moved without reading (a shortened file) is kept too.
        const bool moved = span && (!stored || stored->offset != span->from || !stored->file.sameInode(span->file));
        if (!span || (span->from >= span->end && !span->next && !moved)) {
            exec("ROLLBACK", nullptr);
            return out;
        }
        const std::vector<BlockMark> marks = ledger ? ledger->snapshot() : std::vector<BlockMark>{};
        const std::int64_t length = std::min<std::int64_t>(span->end - span->from, kReadPiece);
        const QByteArray piece = readAt(span->fd, span->from, length);
        // The rest of a file nobody writes to any more is taken whole.
        const bool finalPiece = span->from + piece.size() >= span->end;
        std::vector<Line> lines = splitLines(piece, span->from, finalPiece && span->next);
        attribute(lines, span->file, marks);
        for (const Line& l : lines) {
            if (l.text.trimmed().isEmpty())
                continue;
            const bool ok = insertRow(insert, l.text, l.port, now, year, mqttPending);
            if (!ok)
                return fail({});
            ++out.added;
        }
        const std::int64_t reached = lines.empty() ? span->from : lines.back().end;
        const bool switching = span->next && reached >= span->end;
        const RegisterIdentity& file = switching ? *span->next : span->file;
        setPosition.bind(1, follower.path());
        setPosition.bind(2, switching ? std::int64_t(0) : reached);
        setPosition.bind(3, file.device);
        setPosition.bind(4, file.inode);
        setPosition.bind(5, file.headLength);
        setPosition.bindBlob(6, file.headHash);
        const bool ok = setPosition.step() == SQLITE_DONE;
        setPosition.reset();
        if (!ok || !exec("COMMIT", &why))
            return fail(ok ? why : QString());
        if (ledger)
            ledger->forget(span->file.device, span->file.inode, reached);
        if (switching)
            out.notes << QString("%1: the old file is stored to its end; going on with the new one").arg(follower.path());
        else if (reached == span->from || reached >= span->end)
            return out;  // (a position that only moved is committed above)
    }
}

std::vector<EventRow> Store::query(const QueryFilter& f, QString* error, Page page) const
{
    // With a date range the (event_date, event_time) index is what narrows
    // the rows; a plain id bound would have SQLite walk the whole table in
    // id order instead ("+id" keeps the bound off the index choice).
    const char* id = f.since.isEmpty() && f.until.isEmpty() ? "id" : "+id";
    QString sql = QString("SELECT %1 FROM events WHERE %2 > :after").arg(kRowColumns, id);
    if (page.beforeId > 0) sql += QString(" AND %1 < :before").arg(id);
    // Dates and times are fixed-width texts, so text order is time order.
    // The date alone bounds the range, so the (event_date, event_time)
    // index finds it; the time only matters on the first and last day.
    if (!f.since.isEmpty())
        sql += " AND event_date >= :sinceDate AND (event_date > :sinceDate OR event_time >= :sinceTime)";
    if (!f.until.isEmpty())
        sql += " AND event_date <= :untilDate AND (event_date < :untilDate OR event_time <= :untilTime)";
    if (!f.card.isEmpty()) sql += " AND card = :card";
    if (f.terminal) sql += " AND terminal = :terminal";
    if (!f.source.isEmpty()) sql += " AND source = :source";
    if (!f.port.isEmpty()) sql += " AND port = :port";
    sql += page.newestFirst ? " ORDER BY id DESC LIMIT :limit" : " ORDER BY id LIMIT :limit";
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
    bindNamed(":sinceDate", f.since.left(10));
    bindNamed(":sinceTime", f.since.size() > 10 ? f.since.mid(11) : QStringLiteral("00:00"));
    bindNamed(":untilDate", f.until.left(10));
    bindNamed(":untilTime", f.until.size() > 10 ? f.until.mid(11) : QStringLiteral("99:99"));
    if (const int i = sqlite3_bind_parameter_index(s.get(), ":before"); i > 0) s.bind(i, page.beforeId);
    bindNamed(":card", f.card);
    bindNamed(":source", f.source);
    bindNamed(":port", f.port);
    if (const int i = sqlite3_bind_parameter_index(s.get(), ":terminal"); i > 0) s.bind(i, f.terminal);
    s.bind(sqlite3_bind_parameter_index(s.get(), ":after"), page.afterId);
    s.bind(sqlite3_bind_parameter_index(s.get(), ":limit"), std::int64_t(page.limit));
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

std::int64_t Store::lastId() const
{
    Statement s(m_db, "SELECT coalesce(max(id), 0) FROM events");
    return s.step() == SQLITE_ROW ? s.int64(0) : -1;
}

std::int64_t Store::countOn(const QString& port, const QString& date) const
{
    Statement s(m_db, "SELECT count(*) FROM events WHERE event_date = ? AND port = ?");
    s.bind(1, date);
    s.bind(2, port);
    return s.step() == SQLITE_ROW ? s.int64(0) : -1;
}

std::vector<std::pair<QString, std::int64_t>> Store::countsByPort() const
{
    Statement s(m_db, "SELECT coalesce(port, ''), count(*) FROM events GROUP BY port");
    std::vector<std::pair<QString, std::int64_t>> out;
    while (s.step() == SQLITE_ROW)
        out.emplace_back(s.text(0), s.int64(1));
    return out;
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
