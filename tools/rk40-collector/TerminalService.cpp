#include "TerminalService.h"

#include "PortWorker.h"
#include "PrivateFiles.h"
#include "Store.h"

#include "terminalops/KeyAudit.h"
#include "terminalops/TerminalClock.h"
#include "terminalops/TerminalOps.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>

namespace collector {

namespace {

QJsonValue textOrNull(const QString& v) { return v.isEmpty() ? QJsonValue() : QJsonValue(v); }
QJsonValue timeOrNull(const QDateTime& t)
{
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonValue clockDifference(const QString& rtc, const QDateTime& readAt)
{
    const auto terminal = terminalops::parseTerminalClock(rtc);
    if (!terminal || !readAt.isValid())
        return {};
    return qint64(terminalops::clockDifferenceMinutes(*terminal, readAt.toLocalTime()));
}

QJsonArray keysJson(const terminalops::KeyList& keys)
{
    QJsonArray a;
    for (const auto& k : keys)
        a.append(QJsonObject{{"id", k.id}, {"access", k.access}});
    return a;
}

// A member that failed: the terminal did not do it.
Reply opFailure(const terminalops::OpResult& r)
{
    return Reply::error(502, r.text());
}

} // namespace

TerminalService::TerminalService(std::vector<PortWorker*> ports, Store& store, QString keysLog)
    : m_ports(std::move(ports)), m_store(store), m_keysLog(std::move(keysLog))
{
}

PortWorker* TerminalService::find(const QString& port) const
{
    for (PortWorker* w : m_ports)
        if (w->portName().compare(port, port.startsWith('/') ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0)
            return w;
    return nullptr;
}

QJsonArray TerminalService::list() const
{
    QJsonArray out;
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    for (PortWorker* w : m_ports) {
        const PortSnapshot s = w->snapshot();
        QJsonObject o{{"port", s.port},
                      {"device", s.device},
                      {"baud", s.baud},
                      {"state", s.state},
                      {"since", timeOrNull(s.since)},
                      {"last_block_at", timeOrNull(s.lastBlockAt)},
                      {"events_today", qint64(m_store.countOn(s.port, today))},
                      {"firmware", textOrNull(s.firmware)},
                      {"clock", textOrNull(s.clock)},
                      {"day_of_week", textOrNull(s.dayOfWeek)},
                      {"clock_difference_minutes", clockDifference(s.clock, s.statusReadAt)},
                      {"last_error", textOrNull(s.lastError)},
                      {"taking_blocks", s.accepting}};
        if (s.pausedUntil.isValid())
            o["paused_until"] = timeOrNull(s.pausedUntil);
        out.append(o);
    }
    return out;
}

void TerminalService::run(PortWorker* port, const Responder& responder, ControlOperation op)
{
    QMetaObject::invokeMethod(port, [port, responder, op = std::move(op)] {
        port->runOperation([&](component::IDispatchControl* control, const QString& unavailable) {
            const Reply reply = control ? op(*control)
                                        : Reply::error(503, QString("%1: %2").arg(port->portName(), unavailable));
            // Back to the HTTP thread, which alone touches the connection.
            QMetaObject::invokeMethod(QCoreApplication::instance(), [responder, reply] { responder.send(reply); });
        });
    });
}

void TerminalService::status(PortWorker* port, const Responder& responder)
{
    run(port, responder, [name = port->portName()](component::IDispatchControl& c) {
        terminalops::TerminalOps ops(c);
        const auto s = ops.readStatus();
        if (!s.result.ok())
            return opFailure(s.result);
        return Reply::json({{"port", name},
                            {"firmware", s.firmware},
                            {"clock", s.rtc},
                            {"day_of_week", s.dayOfWeek},
                            {"in_buffer", s.inBuffer},
                            {"clock_difference_minutes", clockDifference(s.rtc, QDateTime::currentDateTime())}});
    });
}

void TerminalService::setClock(PortWorker* port, const Responder& responder)
{
    run(port, responder, [name = port->portName()](component::IDispatchControl& c) {
        terminalops::TerminalOps ops(c);
        const auto r = ops.setClock();
        if (!r.ok())
            return opFailure(r);
        const auto s = ops.readStatus();
        return Reply::json({{"port", name}, {"clock", s.result.ok() ? QJsonValue(s.rtc) : QJsonValue()},
                            {"set_to", QDateTime::currentDateTime().toString("dd.MM.yy HH:mm")}});
    });
}

void TerminalService::pause(PortWorker* port, int minutes, const Responder& responder)
{
    // Queued like every other operation: the HTTP thread never waits for a port.
    QMetaObject::invokeMethod(port, [port, minutes, responder] {
        port->pause(minutes);
        const PortSnapshot s = port->snapshot();
        const Reply reply =
            Reply::json({{"port", s.port}, {"state", s.state}, {"paused_until", timeOrNull(s.pausedUntil)}});
        QMetaObject::invokeMethod(QCoreApplication::instance(), [responder, reply] { responder.send(reply); });
    });
}

void TerminalService::resume(PortWorker* port, const Responder& responder)
{
    QMetaObject::invokeMethod(port, [port, responder] {
        port->resume();
        const PortSnapshot s = port->snapshot();
        const Reply reply = Reply::json({{"port", s.port}, {"state", s.state}});
        QMetaObject::invokeMethod(QCoreApplication::instance(), [responder, reply] { responder.send(reply); });
    });
}

void TerminalService::listKeys(PortWorker* port, const Responder& responder)
{
    run(port, responder, [](component::IDispatchControl& c) {
        terminalops::TerminalOps ops(c);
        const auto listing = ops.listKeys();
        if (!listing.result.ok())
            return opFailure(listing.result);
        return Reply::json({{"number", listing.tableNumber}, {"keys", keysJson(listing.keys)}});
    });
}

namespace {

// Every key change the terminal took goes to the audit file with the
// account's name. The file is created private.
terminalops::TerminalOps::ChangeObserver auditTo(const QString& path, const QString& user, const QString& port,
                                                  QStringList* failures)
{
    return [=](bool added, const QString& id, int access) {
        QString error;
        if (!makePrivateFolder(QFileInfo(path).absolutePath(), &error) || !touchPrivateFile(path, &error)
            || !terminalops::appendAuditLine(
                   path, terminalops::formatAuditLine(QDateTime::currentDateTime(), user, port, added, id, access), &error)) {
            qWarning("%s", qPrintable(error));
            failures->append(error);
        }
    };
}

} // namespace

void TerminalService::addKey(PortWorker* port, const terminalops::Key& key, const QString& user,
                             const Responder& responder)
{
    run(port, responder, [=, log = m_keysLog, name = port->portName()](component::IDispatchControl& c) {
        QStringList auditFailures;
        terminalops::TerminalOps ops(c);
        ops.setChangeObserver(auditTo(log, user, name, &auditFailures));
        const auto r = ops.addKey(key.id, key.access);
        if (!r.ok())
            return opFailure(r);
        QJsonObject o{{"id", key.id}, {"access", key.access}};
        if (!auditFailures.isEmpty())
            o["audit_error"] = auditFailures.join("; ");
        return Reply::json(o, 201);
    });
}

void TerminalService::removeKey(PortWorker* port, const QString& id, const QString& user, const Responder& responder)
{
    run(port, responder, [=, log = m_keysLog, name = port->portName()](component::IDispatchControl& c) {
        terminalops::TerminalOps ops(c);
        // The access it has goes with the removal (and into the audit line).
        const auto listing = ops.listKeys();
        if (!listing.result.ok())
            return opFailure(listing.result);
        const auto it = std::find_if(listing.keys.begin(), listing.keys.end(),
                                     [&](const terminalops::Key& k) { return k.id == id; });
        if (it == listing.keys.end())
            return Reply::error(404, QString("the terminal on %1 has no key %2").arg(name, id));
        QStringList auditFailures;
        ops.setChangeObserver(auditTo(log, user, name, &auditFailures));
        const auto r = ops.removeKey(id, it->access);
        if (!r.ok())
            return opFailure(r);
        QJsonObject o{{"id", id}, {"removed", true}};
        if (!auditFailures.isEmpty())
            o["audit_error"] = auditFailures.join("; ");
        return Reply::json(o);
    });
}

void TerminalService::syncKeys(PortWorker* port, const terminalops::KeyList& wanted, const QString& user,
                               const Responder& responder)
{
    run(port, responder, [=, log = m_keysLog, name = port->portName()](component::IDispatchControl& c) {
        QStringList auditFailures;
        terminalops::TerminalOps ops(c);
        ops.setChangeObserver(auditTo(log, user, name, &auditFailures));
        const auto out = ops.syncKeys(wanted);
        if (!out.failure.ok() && out.changes.empty())
            return opFailure(out.failure);
        int added = 0, removed = 0, changed = 0;
        for (const auto& change : out.changes) {
            const bool refused = std::any_of(out.refused.begin(), out.refused.end(),
                                             [&](const auto& r) { return r.change == change; });
            if (refused)
                continue;
            if (change.kind == terminalops::KeyChange::Add) ++added;
            else if (change.kind == terminalops::KeyChange::Remove) ++removed;
            else ++changed;
        }
        QJsonArray refused;
        for (const auto& r : out.refused)
            refused.append(QJsonObject{{"change", terminalops::describeChange(r.change)}, {"error", r.result.text()}});
        const int unchanged = int(wanted.size()) - int(std::count_if(out.changes.begin(), out.changes.end(), [](const auto& ch) {
                                  return ch.kind != terminalops::KeyChange::Remove;
                              }));
        QJsonObject o{{"added", added},       {"removed", removed},  {"changed", changed},
                      {"unchanged", unchanged}, {"refused", refused}, {"equal", out.equal},
                      {"keys", keysJson(out.after)}};
        if (!out.failure.ok())
            o["error"] = out.failure.text();
        if (!auditFailures.isEmpty())
            o["audit_error"] = auditFailures.join("; ");
        return Reply::json(o, out.failure.ok() && out.refused.empty() ? 200 : 502);
    });
}

} // namespace collector
