#include "HttpTransport.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>

namespace collector {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

QByteArray methodName(QHttpServerRequest::Method m)
{
    switch (m) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    default: return "OTHER";
    }
}

} // namespace

QByteArray ApiRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

Reply Reply::json(const QJsonObject& object, int status)
{
    Reply r;
    r.status = status;
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return r;
}

Reply Reply::error(int status, const QString& message) { return json({{"error", message}}, status); }

void Responder::send(const Reply& reply) const
{
    if (m_transport && m_socket)
        m_transport->write(m_socket, reply);
}

QTcpSocket* Responder::startStream() const
{
    if (!m_transport || !m_socket)
        return nullptr;
    m_socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                    "X-Content-Type-Options: nosniff\r\nX-Accel-Buffering: no\r\n\r\n");
    m_transport->countStreamStart();
    return m_socket;
}

bool Responder::secure() const { return m_transport && m_transport->secure(); }

HttpTransport::HttpTransport(Handler handler, QObject* parent)
    : QAbstractHttpServer(parent), m_handler(std::move(handler))
{
}

bool HttpTransport::start(const QHostAddress& address, quint16 port, const QString& certFile, const QString& keyFile,
                          QString* error)
{
    if (certFile.isEmpty() != keyFile.isEmpty()) {
        *error = "HTTPS needs both --http-cert and --http-key";
        return false;
    }
    if (!address.isLoopback() && certFile.isEmpty()) {
        *error = QString("refusing to serve HTTP on %1, which is not a loopback address, without TLS: passwords and "
                         "personal data would cross the network in clear; give --http-cert and --http-key")
                     .arg(address.toString());
        return false;
    }
    if (!certFile.isEmpty()) {
        QFile cert(certFile), key(keyFile);
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
            *error = QString("cannot read the TLS certificate %1 or key %2").arg(certFile, keyFile);
            return false;
        }
        const QSslCertificate certificate(&cert, QSsl::Pem);
        QSslKey privateKey(&key, QSsl::Rsa, QSsl::Pem);
        if (privateKey.isNull()) {
            key.seek(0);
            privateKey = QSslKey(&key, QSsl::Ec, QSsl::Pem);
        }
        if (certificate.isNull() || privateKey.isNull()) {
            *error = QString("%1 or %2 is not a PEM certificate and private key").arg(certFile, keyFile);
            return false;
        }
        sslSetup(certificate, privateKey);
        m_secure = true;
    }
    m_port = listen(address, port);
    if (m_port == 0) {
        *error = QString("cannot listen on %1 port %2").arg(address.toString()).arg(port);
        return false;
    }
    return true;
}

void HttpTransport::write(QTcpSocket* socket, const Reply& reply)
{
    ++m_byStatus[reply.status];
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    for (const auto& [key, value] : reply.headers)
        out += key + ": " + value + "\r\n";
    out += "\r\n" + reply.body;
    socket->write(out);
}

bool HttpTransport::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const Responder responder(this, socket);
    const QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
    const QByteArray query = request.url().query(QUrl::FullyEncoded).toUtf8();
    if (path.size() > kMaxPathBytes) {
        responder.send(Reply::error(414, QString("the path is longer than %1 bytes").arg(kMaxPathBytes)));
        return true;
    }
    if (query.size() > kMaxQueryBytes) {
        responder.send(Reply::error(414, QString("the query is longer than %1 bytes").arg(kMaxQueryBytes)));
        return true;
    }
    if (request.body().size() > kMaxBodyBytes) {
        responder.send(Reply::error(413, QString("the body is larger than %1 bytes").arg(kMaxBodyBytes)));
        return true;
    }
    ApiRequest r;
    r.method = methodName(request.method());
    r.path = QString::fromUtf8(path);  // still encoded: %2F inside a segment stays there
    r.query = request.query();
    r.headers = request.headers();
    r.body = request.body();
    m_handler(r, responder);
    return true;
}

void HttpTransport::missingHandler(const QHttpServerRequest&, QTcpSocket* socket)
{
    write(socket, Reply::error(404, "no such path"));
}

} // namespace collector
