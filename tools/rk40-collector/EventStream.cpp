#include "EventStream.h"

#include "Store.h"

#include <QTcpSocket>

namespace collector {

namespace {

constexpr int kPageRows = 500;
// A client that reads more slowly than events come is not sent more while
// this much waits for it; it goes on from its last id once the connection
// has drained, so slow readers neither lose events nor fill the memory.
constexpr qint64 kHighWaterBytes = 1024 * 1024;

} // namespace

EventStream::EventStream(Store& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_keepAlive.setInterval(kKeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        prune();
        for (Client& c : m_clients)
            c.socket->write(": keep-alive\n\n");
    });
}

void EventStream::add(QTcpSocket* socket, std::int64_t lastId)
{
    socket->write("retry: 2000\n\n");
    m_clients.push_back({socket, lastId});
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (socket->bytesToWrite() > kHighWaterBytes / 4)
            return;
        for (Client& c : m_clients)
            if (c.socket == socket && c.held) {
                c.held = false;
                catchUp(c);
            }
    });
    catchUp(m_clients.back());
    if (!m_keepAlive.isActive())
        m_keepAlive.start();
}

void EventStream::deliver()
{
    prune();
    for (Client& c : m_clients)
        if (!c.held)
            catchUp(c);
}

void EventStream::catchUp(Client& client)
{
    QString error;
    for (;;) {
        Page page;
        page.afterId = client.lastId;
        page.limit = kPageRows;
        const auto rows = m_store.query({}, &error, page);
        if (!client.socket)
            return;
        for (const EventRow& r : rows) {
            client.socket->write("id: " + QByteArray::number(qint64(r.id)) + "\ndata: " + eventJson(r) + "\n\n");
            client.lastId = r.id;
        }
        if (client.socket->bytesToWrite() > kHighWaterBytes) {
            client.held = true;
            return;
        }
        if (rows.size() < std::size_t(kPageRows))
            return;
    }
}

void EventStream::prune()
{
    std::erase_if(m_clients, [](const Client& c) { return !c.socket || c.socket->state() != QAbstractSocket::ConnectedState; });
    if (m_clients.empty())
        m_keepAlive.stop();
}

} // namespace collector
