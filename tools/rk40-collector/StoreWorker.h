#pragma once

// The store's own thread: takes the register file into the store whenever a
// port reports a block (and every few seconds, for other programs' appends
// and renames), retries while the store is locked or cannot be written, and
// runs the MQTT publisher, which shares the store. Nothing here runs on a
// port's thread, so a slow or locked store never delays a block's answer.

#include "BlockLedger.h"
#include "RegisterFollower.h"

#include <QObject>
#include <QTimer>

#include <atomic>

namespace collector {

class MqttPublisher;
class Store;

class StoreWorker : public QObject {
    Q_OBJECT
public:
    StoreWorker(Store& store, const QString& registerFile, MqttPublisher* mqtt, QObject* parent = nullptr);

    BlockLedger& ledger() { return m_ledger; }

    // Called on any thread: take what is new, soon (calls are merged).
    void requestIngest();

    // On the worker's thread (or before it starts): the first ingest, before
    // the controls write. False with `error` set when the store cannot be
    // written at all.
    bool catchUp(QString* error);

public slots:
    // The controls append from now on; their files change only between blocks.
    void startFollowing();
    // Every control has switched to the file now at the path.
    void releaseOld();
    // A last ingest; the timers stop.
    void finish();
    // Records acknowledged to a terminal that the register file did not get.
    void keepLost(const QList<QByteArray>& records, const QString& port);

signals:
    // The store could not be written (not: was busy), or can be again (empty reason).
    void storeProblem(const QString& reason);
    // The register file was renamed or replaced: the controls should switch.
    void rotationSeen();
    // Rows were committed to the store.
    void stored();

private:
    void ingest();

    Store& m_store;
    MqttPublisher* m_mqtt;
    BlockLedger m_ledger;
    RegisterFollower m_follower;
    QTimer m_watch;
    QTimer m_retry;
    std::atomic<bool> m_queued{false};
    QString m_problem;          // the write failure reported, empty when none
    bool m_busyLogged = false;
    bool m_rotationAnnounced = false;
};

} // namespace collector
