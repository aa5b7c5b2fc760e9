#pragma once

// The live event stream (Server-Sent Events): every client gets each event
// stored after the one it last had, as soon as the store has committed it,
// with the event's id as the message id, so that a client that comes back
// with Last-Event-ID misses and repeats nothing. A comment line every 15 s
// keeps proxies from closing a quiet stream.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <vector>

class QTcpSocket;

namespace collector {

class Store;

class EventStream : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 200;
    static constexpr int kKeepAliveMs = 15000;

    // `store` is a reading connection of this thread's own.
    explicit EventStream(Store& store, QObject* parent = nullptr);

    // A client that has the events up to `lastId` (from Last-Event-ID, or
    // the newest stored when it has none); what came since is sent now.
    void add(QTcpSocket* socket, std::int64_t lastId);
    bool full() const { return int(m_clients.size()) >= kMaxClients; }
    int clientCount() const { return int(m_clients.size()); }

public slots:
    // The store has committed new rows.
    void deliver();

private:
    struct Client {
        QPointer<QTcpSocket> socket;
        std::int64_t lastId = 0;
        bool held = false;   // waits for its connection to drain
    };
    void catchUp(Client& client);
    void prune();

    Store& m_store;
    std::vector<Client> m_clients;
    QTimer m_keepAlive;
};

} // namespace collector
