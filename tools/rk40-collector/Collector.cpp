#include "Collector.h"

#include "Mqtt.h"
#include "Store.h"

#include "platform/component/Registry.h"
#include "platform/component/TypeInfo.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <set>

namespace collector {

namespace {

constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;
// An open port is asked for its status when no block has come for this
// long: a block is proof enough that the line is alive.
constexpr int kHealthCheckMs = 5000;
constexpr int kFileWatchMs = 5000;
constexpr int kComSlots = 10;

QVariant call(component::IDispatchControl& c, const char* name, const QVariantList& args = {},
              component::InvokeKind kind = component::InvokeKind::Method)
{
    const auto* m = c.typeLibrary().dispatch.member(QString::fromLatin1(name));
    if (!m)
        return {};
    const auto r = c.invoke(m->dispid, kind, args);
    if (!r.ok()) {
        qWarning("%s failed: %s", name, qPrintable(r.error.isEmpty() ? component::describeResult(r.hr) : r.error));
        return {};
    }
    return r.value;
}

void put(component::IDispatchControl& c, const char* name, const QVariant& value)
{
    call(c, name, {value}, component::InvokeKind::PropertyPut);
}

int comNumber(const QString& name)
{
    static const QRegularExpression com("^COM([0-9]{1,2})$", QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(name);
    if (!m.hasMatch())
        return 0;
    const int n = m.captured(1).toInt();
    return n >= 1 && n <= kComSlots ? n : -1;
}

} // namespace

bool parsePortSpec(const QString& text, PortSpec* spec, QString* error)
{
    QString name = text.trimmed();
    int baud = 9600;
    const qsizetype colon = name.lastIndexOf(':');
    if (colon >= 0) {
        bool ok = false;
        baud = name.mid(colon + 1).toInt(&ok);
        if (!ok || baud <= 0) {
            *error = QString("bad baud rate in port %1").arg(text);
            return false;
        }
        name = name.left(colon);
    }
    if (name.isEmpty()) {
        *error = QString("port %1 names no port").arg(text);
        return false;
    }
    if (comNumber(name) < 0 || (comNumber(name) == 0 && !name.startsWith('/'))) {
        *error = QString("port %1 is neither COM1..COM10 nor a device path").arg(text);
        return false;
    }
    spec->name = name;
    spec->baud = baud;
    return true;
}

struct Collector::Port : public component::IEventSink {
    Collector* owner = nullptr;
    PortSpec spec;
    int com = 0;                 // COM number given to the control
    std::unique_ptr<component::IDispatchControl> control;
    enum class State { Starting, Up, Down } state = State::Starting;
    QString downReason;          // what the last change was logged with
    int retryMs = kFirstRetryMs;
    QTimer retry;
    QTimer health;
    QElapsedTimer sinceBlock;
    bool checkQueued = false;

    void onEvent(int, const QString& name, const QVariantList& args) override
    {
        if (name == "RxRegs") {
            owner->onBlock(*this, args.value(0).toInt());
        } else if (name == "ErrMessage") {
            // A refused block, or the line went: ask the terminal, but not
            // from inside the control's handler.
            if (!checkQueued) {
                checkQueued = true;
                QTimer::singleShot(0, &health, [this] {
                    checkQueued = false;
                    owner->checkPort(*this);
                });
            }
        } else if (name == "Error") {
            qWarning("%s: %s", qPrintable(spec.name), qPrintable(args.value(1).toString()));
        }
    }
};

Collector::Collector(Store& store, MqttPublisher* mqtt, CollectorOptions options, QObject* parent)
    : QObject(parent), m_store(store), m_mqtt(mqtt), m_options(std::move(options))
{
}

Collector::~Collector()
{
    stop();
}

bool Collector::start(QString* error)
{
    // COM names keep their own mapping; device paths get free COM numbers,
    // mapped for this process only.
    std::set<int> used;
    std::set<QString> names;
    for (const PortSpec& p : m_options.ports) {
        if (!names.insert(p.name.toUpper()).second) {
            *error = QString("port %1 is given twice").arg(p.name);
            return false;
        }
        if (const int n = comNumber(p.name); n > 0)
            used.insert(n);
    }
    int next = 1;
    for (const PortSpec& spec : m_options.ports) {
        auto port = std::make_unique<Port>();
        port->owner = this;
        port->spec = spec;
        port->com = comNumber(spec.name);
        if (port->com == 0) {
            while (used.count(next)) ++next;
            if (next > kComSlots) {
                *error = QString("at most %1 ports can be collected").arg(kComSlots);
                return false;
            }
            port->com = next;
            used.insert(next);
            qputenv(qPrintable(QString("RK40_COM%1").arg(next)), QFile::encodeName(spec.name));
        }
        port->retry.setSingleShot(true);
        connect(&port->retry, &QTimer::timeout, this, [this, p = port.get()] { tryOpen(*p); });
        port->health.setInterval(kHealthCheckMs);
        connect(&port->health, &QTimer::timeout, this, [this, p = port.get()] {
            if (!p->sinceBlock.isValid() || p->sinceBlock.elapsed() >= kHealthCheckMs)
                checkPort(*p);
        });
        m_ports.push_back(std::move(port));
    }

    // Records appended before the last stop (or crash) that the store has
    // not taken yet.
    QString why;
    const int caught = m_store.ingest(m_options.registerFile, {}, 0, m_mqtt != nullptr, &why);
    if (caught < 0) {
        *error = why;
        return false;
    }
    if (caught > 0)
        qInfo("took %d records from %s that were not stored yet", caught, qPrintable(m_options.registerFile));

    for (auto& p : m_ports) {
        QString createError;
        component::HRESULT hr = component::S_OK;
        p->control = component::createControl(m_options.progId, &hr, &createError);
        if (!p->control) {
            *error = QString("cannot create the control %1: %2 (is it registered? see regctl)")
                         .arg(m_options.progId, createError);
            return false;
        }
        p->control->initNew();
        p->control->advise(p.get());
        put(*p->control, "AsciiFileName", m_options.registerFile);
        put(*p->control, "WorkOnLine", true);
        put(*p->control, "Ready", true);
        put(*p->control, "BaudRate", qint32(p->spec.baud));
    }
    for (auto& p : m_ports)
        tryOpen(*p);

    // Other programs may append to the same register file.
    m_fileWatch.setInterval(kFileWatchMs);
    connect(&m_fileWatch, &QTimer::timeout, this, [this] { ingest({}, 0); });
    m_fileWatch.start();

    if (m_options.syncClock) {
        m_clockTimer.setSingleShot(true);
        connect(&m_clockTimer, &QTimer::timeout, this, [this] {
            syncClocks();
            scheduleClockSync();
        });
        scheduleClockSync();
    }
    return true;
}

void Collector::stop()
{
    m_fileWatch.stop();
    m_clockTimer.stop();
    for (auto& p : m_ports) {
        p->retry.stop();
        p->health.stop();
        if (!p->control)
            continue;
        call(*p->control, "DestroyTerminal");
        p->control->unadvise(p.get());
        p->control.reset();
    }
    // Whatever the controls wrote last.
    if (!m_ports.empty())
        ingest({}, 0);
    m_ports.clear();
}

void Collector::tryOpen(Port& port)
{
    if (!call(*port.control, "InitTerminal", {qint16(port.com - 1)}).toBool()) {
        call(*port.control, "DestroyTerminal");
        portFailed(port, "cannot be opened");
        return;
    }
    // The port opened; a terminal that answers makes it collecting.
    int code = call(*port.control, "GetStatus").toInt();
    if (code != 0)
        code = call(*port.control, "GetStatus").toInt();
    if (code != 0) {
        call(*port.control, "DestroyTerminal");
        portFailed(port, QString("the terminal does not answer (status result %1)").arg(code));
        return;
    }
    if (port.state != Port::State::Up)
        qInfo("%s: collecting (%d baud)", qPrintable(port.spec.name), port.spec.baud);
    port.state = Port::State::Up;
    port.downReason.clear();
    port.retryMs = kFirstRetryMs;
    port.health.start();
    if (m_options.syncClock) {
        const int rc = call(*port.control, "PCTimeCopy").toInt();
        if (rc != 0)
            qWarning("%s: setting the terminal's clock failed (result %d)", qPrintable(port.spec.name), rc);
    }
}

void Collector::checkPort(Port& port)
{
    if (port.state != Port::State::Up || !port.control)
        return;
    int code = call(*port.control, "GetStatus").toInt();
    if (code != 0)
        code = call(*port.control, "GetStatus").toInt();
    if (code == 0)
        return;
    port.health.stop();
    call(*port.control, "DestroyTerminal");
    portFailed(port, QString("the terminal stopped answering (status result %1)").arg(code));
}

void Collector::portFailed(Port& port, const QString& why)
{
    // Each change is logged once, not every retry.
    if (port.state != Port::State::Down || port.downReason != why)
        qWarning("%s: %s; retrying with back-off up to %d s", qPrintable(port.spec.name), qPrintable(why),
                 kLastRetryMs / 1000);
    if (port.state == Port::State::Down)
        port.retryMs = std::min(port.retryMs * 2, kLastRetryMs);
    else
        port.retryMs = kFirstRetryMs;
    port.state = Port::State::Down;
    port.downReason = why;
    port.retry.start(port.retryMs);
}

void Collector::onBlock(Port& port, int records)
{
    port.sinceBlock.start();
    // Called while the control holds the register file lock, right after
    // its append: the tail of the file is this port's block.
    ingest(port.spec.name, records);
}

void Collector::ingest(const QString& port, int records)
{
    QString error;
    const int added = m_store.ingest(m_options.registerFile, port, records, m_mqtt != nullptr, &error);
    if (added < 0)
        qWarning("storing records failed: %s", qPrintable(error));
    if (added > 0 && m_mqtt)
        m_mqtt->pump();
}

void Collector::syncClocks()
{
    for (auto& p : m_ports) {
        if (p->state != Port::State::Up)
            continue;
        const int rc = call(*p->control, "PCTimeCopy").toInt();
        if (rc != 0)
            qWarning("%s: setting the terminal's clock failed (result %d)", qPrintable(p->spec.name), rc);
        else
            qInfo("%s: terminal clock set", qPrintable(p->spec.name));
    }
}

void Collector::scheduleClockSync()
{
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime at(now.date(), *m_options.syncClock);
    if (at <= now.addSecs(1))
        at = at.addDays(1);
    m_clockTimer.start(std::chrono::milliseconds(std::max<qint64>(1000, now.msecsTo(at))));
}

} // namespace collector
