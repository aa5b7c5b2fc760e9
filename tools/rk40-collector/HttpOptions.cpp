#include "HttpOptions.h"

namespace collector {

bool parseHttpListen(const QString& text, HttpListen* listen, QString* error)
{
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(':');
    QString host = colon < 0 ? QString() : t.left(colon);
    const QString portText = colon < 0 ? t : t.mid(colon + 1);
    bool ok = false;
    const int port = portText.toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        *error = QString("--http wants [ADDRESS:]PORT with a port 1..65535, not %1").arg(text);
        return false;
    }
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    QHostAddress address(QHostAddress::LocalHost);
    if (host == QLatin1String("localhost"))
        address = QHostAddress(QHostAddress::LocalHost);
    else if (!host.isEmpty() && !address.setAddress(host)) {
        *error = QString("--http wants an IP address (or localhost), not %1").arg(host);
        return false;
    }
    listen->address = address;
    listen->port = quint16(port);
    return true;
}

} // namespace collector
