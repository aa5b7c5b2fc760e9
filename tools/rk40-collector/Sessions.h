#pragma once

// Who is logged in through the HTTP API: sessions (a cookie for the page,
// with the CSRF token its state-changing requests must send back), and the
// failed logins that slow down guessing. Pure bookkeeping over a clock the
// caller gives.

#include "Accounts.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <deque>

namespace collector {

struct Session {
    QString id;          // the cookie's value
    QString csrfToken;
    QString user;
    Role role = Role::Viewer;
    qint64 lastUsedMs = 0;
};

class SessionTable {
public:
    static constexpr qint64 kIdleMs = 8 * 3600 * 1000;
    static constexpr int kMaxSessions = 1000;

    const Session& open(const QString& user, Role role, qint64 nowMs);
    // The session of this cookie value, when it is open and not idle too long.
    const Session* find(const QString& id, qint64 nowMs);
    void close(const QString& id);
    // Every session of the user ends (the account was removed or changed).
    void closeUser(const QString& user);

private:
    QHash<QString, Session> m_sessions;
};

// Five failed logins for one name within a minute: the name's next logins
// are refused until a delay has passed, doubling with each further failure
// (up to five minutes).
class LoginThrottle {
public:
    static constexpr int kFreeFailures = 5;
    static constexpr qint64 kWindowMs = 60 * 1000;

    // Milliseconds the name must still wait; 0 when it may try now.
    qint64 waitMs(const QString& name, qint64 nowMs) const;
    void failed(const QString& name, qint64 nowMs);
    void succeeded(const QString& name);

private:
    struct Record {
        std::deque<qint64> failures;   // within the window
        int beyond = 0;                // failures after the free ones
        qint64 blockedUntil = 0;
    };
    QHash<QString, Record> m_records;
};

} // namespace collector
