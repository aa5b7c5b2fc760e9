#include "Sessions.h"

#include <algorithm>

namespace collector {

const Session& SessionTable::open(const QString& user, Role role, qint64 nowMs)
{
    if (m_sessions.size() >= kMaxSessions) {
        // The one unused longest makes room.
        auto oldest = std::min_element(m_sessions.begin(), m_sessions.end(),
                                       [](const Session& a, const Session& b) { return a.lastUsedMs < b.lastUsedMs; });
        m_sessions.erase(oldest);
    }
    Session s{newSecret(), newSecret(), user, role, nowMs};
    return *m_sessions.insert(s.id, s);
}

const Session* SessionTable::find(const QString& id, qint64 nowMs)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return nullptr;
    if (nowMs - it->lastUsedMs > kIdleMs) {
        m_sessions.erase(it);
        return nullptr;
    }
    it->lastUsedMs = nowMs;
    return &*it;
}

void SessionTable::close(const QString& id) { m_sessions.remove(id); }

void SessionTable::closeUser(const QString& user)
{
    m_sessions.removeIf([&](const QHash<QString, Session>::iterator it) { return it->user == user; });
}

qint64 LoginThrottle::waitMs(const QString& name, qint64 nowMs) const
{
    const auto it = m_records.constFind(name);
    return it == m_records.cend() ? 0 : std::max<qint64>(0, it->blockedUntil - nowMs);
}

void LoginThrottle::failed(const QString& name, qint64 nowMs)
{
    if (m_records.size() > 10000)   // names made up by the thousand do not grow it without end
        m_records.removeIf([nowMs](const QHash<QString, Record>::iterator it) {
            return it->blockedUntil < nowMs && (it->failures.empty() || nowMs - it->failures.back() > kWindowMs);
        });
    Record& r = m_records[name];
    while (!r.failures.empty() && nowMs - r.failures.front() > kWindowMs)
        r.failures.pop_front();
    if (r.failures.empty())
        r.beyond = 0;
    r.failures.push_back(nowMs);
    if (int(r.failures.size()) < kFreeFailures && r.beyond == 0)
        return;
    r.beyond = std::min(r.beyond + 1, 9);
    r.blockedUntil = nowMs + std::min<qint64>(qint64(1000) << r.beyond, 5 * 60 * 1000);
}

void LoginThrottle::succeeded(const QString& name) { m_records.remove(name); }

} // namespace collector
