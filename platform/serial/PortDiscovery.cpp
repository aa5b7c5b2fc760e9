#include "platform/serial/PortDiscovery.h"

#include "platform/serial/PortLocks.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace serial {

namespace {

EnumerationSource& source()
{
    static EnumerationSource s;
    return s;
}

// "ttyS3" -> 3; -1 for other names.
int ttySNumber(const QString& path)
{
    static const QRegularExpression re(QStringLiteral("^ttyS(\\d+)$"));
    const auto m = re.match(QFileInfo(path).fileName());
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

int sysfsUartType(const QString& name)
{
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(name));
    if (!type.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int value = type.readLine(16).trimmed().toInt(&ok);
    return ok ? value : -1;
}

} // namespace

QString DetectedPort::description() const
{
    // Some adapters repeat the maker in the product name.
    QString text = info.product;
    if (!info.manufacturer.isEmpty() && !info.product.startsWith(info.manufacturer))
        text = (info.manufacturer + QLatin1Char(' ') + info.product).trimmed();
    if (text.isEmpty() && info.vendorId && info.productId)
        text = QStringLiteral("USB device %1:%2")
                   .arg(*info.vendorId, 4, 16, QLatin1Char('0'))
                   .arg(*info.productId, 4, 16, QLatin1Char('0'));
    if (text.isEmpty() && realUart)
        text = QStringLiteral("built-in serial port");
    if (text.isEmpty())
        text = QStringLiteral("serial device");
    if (!info.serialNumber.isEmpty())
        text += QStringLiteral(", serial ") + info.serialNumber;
    return text;
}

void setEnumerationSource(EnumerationSource s) { source() = std::move(s); }

QList<PortDescription> systemPorts()
{
    // The by-id links, by the node they point at.
    QHash<QString, QString> byId;
    const QDir links(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(canonicalDevicePath(link.absoluteFilePath()), link.absoluteFilePath());

    QList<PortDescription> out;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts()) {
        PortDescription d;
        d.path = p.systemLocation();
        d.byIdLink = byId.value(canonicalDevicePath(d.path));
        if (p.hasVendorIdentifier())
            d.vendorId = p.vendorIdentifier();
        if (p.hasProductIdentifier())
            d.productId = p.productIdentifier();
        d.manufacturer = p.manufacturer();
        d.product = p.description();
        d.serialNumber = p.serialNumber();
        if (ttySNumber(d.path) >= 0)
            d.uartType = sysfsUartType(p.portName());
        out << d;
    }
    return out;
}

QList<DetectedPort> detectPorts()
{
    const QList<PortDescription> all = source() ? source()() : systemPorts();
    QList<DetectedPort> withId, uarts, others;
    for (const PortDescription& d : all) {
        DetectedPort p{d, false};
        if (ttySNumber(d.path) >= 0) {
            // A ttyS node exists for every slot the kernel reserves; only
            // those with a UART behind them are ports.
            if (d.uartType == 0)
                continue;
            p.realUart = true;
        }
        if (!d.byIdLink.isEmpty())
            withId << p;
        else if (p.realUart)
            uarts << p;
        else
            others << p;
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(withId.begin(), withId.end(),
              [&](const DetectedPort& a, const DetectedPort& b) { return natural.compare(a.info.byIdLink, b.info.byIdLink) < 0; });
    std::sort(uarts.begin(), uarts.end(),
              [](const DetectedPort& a, const DetectedPort& b) { return ttySNumber(a.info.path) < ttySNumber(b.info.path); });
    std::sort(others.begin(), others.end(),
              [&](const DetectedPort& a, const DetectedPort& b) { return natural.compare(a.info.path, b.info.path) < 0; });
    return withId + uarts + others;
}

std::optional<DetectedPort> findDetected(const QList<DetectedPort>& ports, const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QString real = canonicalDevicePath(path);
    for (const DetectedPort& p : ports) {
        if (p.info.path == path || p.info.byIdLink == path || canonicalDevicePath(p.info.path) == real)
            return p;
    }
    return std::nullopt;
}

} // namespace serial
