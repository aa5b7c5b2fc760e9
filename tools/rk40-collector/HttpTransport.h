#pragma once

// The HTTP side of the service, without its meaning: takes requests from
// Qt's HTTP server (bounded in path, query and body), hands each to the
// handler with a Responder, and writes the answer the handler gives, now
// or later (an answer from a port's thread comes back here first). A
// Responder can also turn its connection into an event stream. Counts the
// answers by status for the metrics.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QUrlQuery>

#include <functional>

class QTcpSocket;

namespace collector {

inline constexpr int kMaxPathBytes = 1024;
inline constexpr int kMaxQueryBytes = 2048;
inline constexpr qint64 kMaxBodyBytes = 1024 * 1024;

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct ApiRequest {
    QByteArray method;     // "GET", "POST", ...
    QString path;          // percent-encoded, as sent
    QUrlQuery query;
    HeaderList headers;
    QByteArray body;
    // The value of the header (names compared in any case); empty when absent.
    QByteArray header(const QByteArray& name) const;
};

struct Reply {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    HeaderList headers;
    static Reply json(const QJsonObject& object, int status = 200);
    static Reply error(int status, const QString& message);
};

class HttpTransport;

// Where one request's answer goes. Copyable; a connection that closed
// meanwhile takes nothing. Use on the transport's thread only.
class Responder {
public:
    Responder() = default;
    Responder(HttpTransport* transport, QTcpSocket* socket, bool close = false)
        : m_transport(transport), m_socket(socket), m_close(close) {}
    void send(const Reply& reply) const;
    // Answers with an event stream's header; the socket is then the
    // caller's to write events to (nullptr when it has gone).
    QTcpSocket* startStream() const;
    bool secure() const;

private:
    QPointer<HttpTransport> m_transport;
    QPointer<QTcpSocket> m_socket;
    bool m_close = false;   // the client asked for "Connection: close"
};

class HttpTransport : public QAbstractHttpServer {
    Q_OBJECT
public:
    using Handler = std::function<void(const ApiRequest&, const Responder&)>;
    explicit HttpTransport(Handler handler, QObject* parent = nullptr);

    // Listens on the address and port; with a certificate and key, HTTPS.
    // A non-loopback address without them is refused. False with `error`.
    bool start(const QHostAddress& address, quint16 port, const QString& certFile, const QString& keyFile,
               QString* error);
    quint16 port() const { return m_port; }
    bool secure() const { return m_secure; }

    // Writes the answer; with `close`, the connection ends once it is sent.
    void write(QTcpSocket* socket, const Reply& reply, bool close = false);
    void countStreamStart() { ++m_byStatus[200]; }
    const QMap<int, quint64>& answersByStatus() const { return m_byStatus; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Handler m_handler;
    quint16 m_port = 0;
    bool m_secure = false;
    QMap<int, quint64> m_byStatus;
};

} // namespace collector
