#pragma once

// The event store: one SQLite file in WAL mode. Records are taken from the
// register file by byte offset, and the offset reached is committed in the
// same transaction as the rows, so a crash at any moment neither loses nor
// doubles a record: whatever was not committed is read again at the next
// start.

#include "RegisterFollower.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace collector {

inline constexpr int kSchemaVersion = 2;

class BlockLedger;

struct EventRow {
    std::int64_t id = 0;
    QString receivedAt;  // UTC, ISO 8601
    QString port;        // empty: not known (appended by another program or before a crash)
    std::optional<int> terminal;
    QString eventDate;   // YYYY-MM-DD, empty when the record is malformed
    QString eventTime;   // HH:MM
    QString source;      // T1..E4
    QString card;
    QString raw;         // the record as it stands in the register file
};

// Decodes one register-file record (19 characters). The year digit is
// expanded to the most recent year ending in it that is not after
// `currentYear`. A malformed record keeps its raw text and gets empty fields.
EventRow decodeRecord(const QByteArray& line, int currentYear);

// An event as one JSON object, as published and as `query --format json`
// prints it; fields the record lacks are null.
QByteArray eventJson(const EventRow& row);

struct QueryFilter {
    QString since;  // "YYYY-MM-DD" or "YYYY-MM-DD HH:MM"; compared with the event's date and time
    QString until;  // inclusive; a date alone covers the whole day
    QString card;
    std::optional<int> terminal;
    QString source;
    QString port;   // as configured: "COM1", "/dev/ttyUSB0"
};

// One page of a query: rows with an id above `afterId`, at most `limit`.
// The next page starts after the last row's id.
struct Page {
    std::int64_t afterId = 0;
    int limit = 1000;
    std::int64_t beforeId = 0;  // rows below this id only; 0: no bound
    bool newestFirst = false;
};

struct IngestOutcome {
    int added = 0;
    enum class Failure { None, Busy, Write } failure = Failure::None;
    QString error;         // why, when it failed
    QStringList notes;     // what was found out about the register file
    bool ok() const { return failure == Failure::None; }
};

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (creating and migrating) the store for writing.
    bool open(const QString& path, QString* error);
    // Opens an existing store for reading only; a running collector is not
    // disturbed (WAL readers do not block the writer).
    bool openReadOnly(const QString& path, QString* error);

    int schemaVersion() const;

    // Which file of this path has been read, and up to where.
    std::optional<RegisterPosition> registerPosition(const QString& registerFile) const;

    // Takes what the followed register file holds beyond the committed
    // position: every complete line (CR LF or LF ended; a partly written
    // last line waits, except at the end of a file that was rotated away).
    // The position is read and written inside the write transaction that
    // adds the rows, so two writers never take the same lines. Lines of a
    // block in `ledger` get the block's port, others none.
    IngestOutcome ingest(RegisterFollower& follower, BlockLedger* ledger, bool mqttPending);

    // Stores records that never reached the register file (acknowledged
    // to a terminal before an append failed), in one transaction.
    bool insertRecords(const QList<QByteArray>& records, const QString& port, bool mqttPending, QString* error);

    std::vector<EventRow> query(const QueryFilter& filter, QString* error, Page page = {}) const;

    // Rows still to be published, oldest first, with an id above `afterId`.
    std::vector<EventRow> pendingForMqtt(std::int64_t afterId, int limit) const;
    void markPublished(std::int64_t id);
    int pendingCount() const;

    // The highest event id (0 when empty); -1 on an error.
    std::int64_t lastId() const;
    // Events of `port` whose own date is `date` (YYYY-MM-DD).
    std::int64_t countOn(const QString& port, const QString& date) const;
    // Events stored for each port ("" for those of no known port).
    std::vector<std::pair<QString, std::int64_t>> countsByPort() const;

private:
    bool exec(const char* sql, QString* error) const;
    IngestOutcome::Failure failureKind() const;
    bool migrate(QString* error);
    QString lastError() const;

    sqlite3* m_db = nullptr;
};

} // namespace collector
