#pragma once

// The remote terminal chosen last in the network dialog; zero or empty until
// one is chosen. Reader 1's page keeps it for the run; the network dialog
// offers it again.

#include <QString>

struct RemoteSelection {
    quint32 address = 0;  // IPv4, network byte order; 0: none chosen
    QString name;
    quint16 port = 0;     // TCP port of the gateway
    quint8 serialPort = 0;
};
