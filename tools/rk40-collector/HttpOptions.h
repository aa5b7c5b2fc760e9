#pragma once

// Where the HTTP API listens: "[ADDR:]PORT", the address 127.0.0.1 when
// none is given ("[::1]:8080" for IPv6, "localhost" for loopback).

#include <QHostAddress>
#include <QString>

namespace collector {

struct HttpListen {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 0;
};

bool parseHttpListen(const QString& text, HttpListen* listen, QString* error);

} // namespace collector
