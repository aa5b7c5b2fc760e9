#pragma once

// The terminal read last (or, for a remote terminal, read or written last):
// what "Apply To Last" writes to without asking for a port or a gateway.
// The main sheet holds the program's one record; nothing of it is stored on
// disk.

#include <QString>

struct LastTerminal {
    bool valid = false;      // a last terminal is known
    bool remote = false;     // reached through a remote gateway, not a local port
    quint8 serialPort = 0;   // serial: COM number 1..10; remote: the gateway's serial port
    int baudRate = 0;        // serial only: 2400, 4800 or 9600
    QString address;         // remote only: the gateway's address
    quint16 tcpPort = 0;     // remote only: the gateway's TCP port
};
