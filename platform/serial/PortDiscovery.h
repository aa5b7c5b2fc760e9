#pragma once

// The machine's serial devices, as the system describes them: enumerated
// with QSerialPortInfo (udev underneath), completed with the stable links
// of /dev/serial/by-id and, for ttyS nodes, the serial core's port type from
// sysfs (type 0: a node with no UART behind it).
//
// The enumeration source can be replaced, so that tests feed recorded
// descriptions of real adapters.

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace serial {

// One device node as the system describes it.
struct PortDescription {
    QString path;                       // "/dev/ttyUSB0"
    QString byIdLink;                   // "/dev/serial/by-id/usb-FTDI_...", or empty
    std::optional<quint16> vendorId;    // USB ids, when it is a USB device
    std::optional<quint16> productId;
    QString manufacturer;
    QString product;
    QString serialNumber;
    int uartType = -1;                  // ttyS: the serial core's type (0: no hardware); -1: not known
};

// A device worth offering.
struct DetectedPort {
    PortDescription info;
    bool realUart = false;   // a ttyS node with a UART behind it

    // The path to store: the by-id link when there is one (it survives
    // replugging into another socket), otherwise the device path.
    QString stablePath() const { return info.byIdLink.isEmpty() ? info.path : info.byIdLink; }
    // "FTDI FT232R USB UART, serial A1B2C3", "USB device 1a86:7523",
    // "built-in serial port".
    QString description() const;
};

using EnumerationSource = std::function<QList<PortDescription>()>;

// Replaces the enumeration (an empty function restores the system's).
void setEnumerationSource(EnumerationSource source);

// What the system reports now.
QList<PortDescription> systemPorts();

// The devices to offer, in a stable order: those with a by-id link (sorted
// by it), then the ttyS nodes with a UART (by number), then any others (by
// path). ttyS nodes without hardware are left out.
QList<DetectedPort> detectPorts();

// The detected device a path names (the device path, its by-id link, or any
// other link to the same node); nothing when none.
std::optional<DetectedPort> findDetected(const QList<DetectedPort>& ports, const QString& path);

} // namespace serial
