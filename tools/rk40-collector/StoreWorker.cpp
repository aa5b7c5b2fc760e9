#include "StoreWorker.h"

#include "Mqtt.h"
#include "Store.h"

#include <QCoreApplication>

namespace collector {

namespace {
constexpr int kWatchMs = 5000;   // other programs' appends, renames
constexpr int kRetryMs = 1000;   // after a locked or failed store
} // namespace

StoreWorker::StoreWorker(Store& store, const QString& registerFile, MqttPublisher* mqtt, QObject* parent)
    : QObject(parent), m_store(store), m_mqtt(mqtt), m_follower(registerFile), m_watch(this), m_retry(this)
{
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, [this] { requestIngest(); });
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] { requestIngest(); });
}

void StoreWorker::requestIngest()
{
    if (!m_queued.exchange(true))
        QMetaObject::invokeMethod(this, [this] { ingest(); }, Qt::QueuedConnection);
}

bool StoreWorker::catchUp(QString* error)
{
    const IngestOutcome out = m_store.ingest(m_follower, &m_ledger, m_mqtt != nullptr);
    for (const QString& note : out.notes)
        qWarning("%s", qPrintable(note));
    if (out.failure == IngestOutcome::Failure::Write) {
        *error = QString("the store cannot be written: %1").arg(out.error);
        return false;
    }
    if (out.failure == IngestOutcome::Failure::Busy)
        qWarning("the store is locked by another program (%s); its records are taken once it is free",
                 qPrintable(out.error));
    if (out.added > 0)
        qInfo("took %d records from %s that were not stored yet", out.added, qPrintable(m_follower.path()));
    return true;
}

void StoreWorker::startFollowing()
{
    m_follower.setWritersActive(true);
    m_watch.start();
    requestIngest();
}

void StoreWorker::releaseOld()
{
    m_follower.releaseOld();
    requestIngest();
}

void StoreWorker::finish()
{
    m_watch.stop();
    m_retry.stop();
    // The controls are closed: the file they wrote last is final.
    m_follower.setWritersActive(false);
    m_queued = true;
    ingest();
    if (m_mqtt)
        m_mqtt->moveToThread(QCoreApplication::instance()->thread());
    moveToThread(QCoreApplication::instance()->thread());
}

void StoreWorker::keepLost(const QList<QByteArray>& records, const QString& port)
{
    QString error;
    if (m_store.insertRecords(records, port, m_mqtt != nullptr, &error))
        qWarning("%s: %lld records the register file did not get are in the store", qPrintable(port),
                 static_cast<long long>(records.size()));
    else
        qCritical("%s: the records the register file did not get could not be stored either: %s", qPrintable(port),
                  qPrintable(error));
    if (m_mqtt)
        m_mqtt->pump();
}

void StoreWorker::ingest()
{
    m_queued = false;
    const IngestOutcome out = m_store.ingest(m_follower, &m_ledger, m_mqtt != nullptr);
    for (const QString& note : out.notes)
        qWarning("%s", qPrintable(note));
    if (m_follower.rotationPending() && !m_rotationAnnounced) {
        m_rotationAnnounced = true;
        emit rotationSeen();
    } else if (!m_follower.rotationPending()) {
        m_rotationAnnounced = false;
    }

    if (out.failure == IngestOutcome::Failure::Busy) {
        // Another program holds the store's write lock: blocks are still
        // taken (the register file keeps them) and stored once it lets go.
        if (!m_busyLogged)
            qWarning("the store is locked by another program (%s); retrying", qPrintable(out.error));
        m_busyLogged = true;
        m_retry.start();
    } else if (out.failure == IngestOutcome::Failure::Write) {
        if (m_problem != out.error)
            emit storeProblem(QString("the store cannot be written: %1").arg(out.error));
        m_problem = out.error;
        m_retry.start();
    } else {
        if (m_busyLogged)
            qInfo("the store is free again");
        m_busyLogged = false;
        if (!m_problem.isEmpty())
            emit storeProblem({});
        m_problem.clear();
    }
    if (out.added > 0)
        emit stored();
    if (out.added > 0 && m_mqtt)
        m_mqtt->pump();
}

} // namespace collector
