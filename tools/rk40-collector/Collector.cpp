#include "Collector.h"

#include "Mqtt.h"
#include "PortWorker.h"
#include "Store.h"
#include "StoreWorker.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace collector {

namespace {

constexpr int kComSlots = 10;
// The clock timer is armed at most this far ahead and then looks again, so
// that a daylight-saving change or a set clock does not move the hour.
constexpr qint64 kClockLookMs = 3600 * 1000;

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

QDateTime nextDaily(const QDateTime& now, QTime at)
{
    for (int day = 0; day < 3; ++day) {
        const QDate date = now.date().addDays(day);
        QDateTime when(date, at, now.timeZone());
        // Skipped by a change to summer time: the first minute after the gap.
        for (int minute = 1; (!when.isValid() || when.date() != date || when.time() < at) && minute <= 180; ++minute)
            when = QDateTime(date, at.addSecs(60 * minute), now.timeZone());
        if (when.isValid() && when > now.addSecs(1))
            return when;
    }
    return now.addDays(1);
}

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
    std::vector<PortSettings> settings;
    int next = 1;
    for (const PortSpec& spec : m_options.ports) {
        PortSettings s;
        s.spec = spec;
        s.com = comNumber(spec.name);
        s.registerFile = m_options.registerFile;
        s.storeFile = m_options.storeFile;
        s.progId = m_options.progId;
        s.minFreeBytes = m_options.minFreeBytes;
        s.syncClock = m_options.syncClock.has_value();
        if (s.com == 0) {
            while (used.count(next)) ++next;
            if (next > kComSlots) {
                *error = QString("at most %1 ports can be collected").arg(kComSlots);
                return false;
            }
            s.com = next;
            used.insert(next);
            qputenv(qPrintable(QString("RK40_COM%1").arg(next)), QFile::encodeName(spec.name));
        }
        settings.push_back(s);
    }

    // The file exists before the controls open it, so that the store knows
    // it from the start and follows it if it is renamed before the first
    // block is stored.
    const int fd = ::open(QFile::encodeName(m_options.registerFile).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QString("cannot open the register file %1: %2").arg(m_options.registerFile, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::close(fd);

    // Records appended before the last stop (or crash) that the store has
    // not taken yet, and the rest of a file rotated meanwhile.
    m_storeWorker = std::make_unique<StoreWorker>(m_store, m_options.registerFile, m_mqtt);
    if (!m_storeWorker->catchUp(error))
        return false;
    m_storeWorker->moveToThread(&m_storeThread);
    if (m_mqtt)
        m_mqtt->moveToThread(&m_storeThread);
    m_storeThread.setObjectName("store");
    m_storeThread.start();
    connect(m_storeWorker.get(), &StoreWorker::rotationSeen, this, &Collector::onRotationSeen);

    StoreWorker* store = m_storeWorker.get();
    for (const PortSettings& s : settings) {
        Port port;
        port.worker = std::make_unique<PortWorker>(s, *store);
        port.thread = std::make_unique<QThread>();
        port.thread->setObjectName(s.spec.name);
        port.worker->moveToThread(port.thread.get());
        port.thread->start();
        PortWorker* w = port.worker.get();
        connect(store, &StoreWorker::storeProblem, w, &PortWorker::setStoreProblem);
        connect(w, &PortWorker::reopened, this, [this](quint64 generation) {
            if (generation == m_reopenGeneration && --m_reopenPending == 0)
                QMetaObject::invokeMethod(m_storeWorker.get(), &StoreWorker::releaseOld);
        });
        m_ports.push_back(std::move(port));
        bool created = false;
        QMetaObject::invokeMethod(w, [w, &created, error] { created = w->start(error); },
                                  Qt::BlockingQueuedConnection);
        if (!created)
            return false;
    }
    QMetaObject::invokeMethod(store, &StoreWorker::startFollowing);

    if (m_options.syncClock) {
        m_clockTimer.setSingleShot(true);
        m_clockTimer.setTimerType(Qt::PreciseTimer);
        connect(&m_clockTimer, &QTimer::timeout, this, &Collector::scheduleClockSync);
        m_nextClockSync = nextDaily(QDateTime::currentDateTime(), *m_options.syncClock);
        scheduleClockSync();
    }
    return true;
}

void Collector::stop()
{
    m_clockTimer.stop();
    for (Port& p : m_ports) {
        if (p.thread->isRunning()) {
            QMetaObject::invokeMethod(p.worker.get(), &PortWorker::stop, Qt::BlockingQueuedConnection);
            p.thread->quit();
            p.thread->wait();
        }
    }
    m_ports.clear();
    if (m_storeThread.isRunning()) {
        // Whatever the controls wrote last.
        QMetaObject::invokeMethod(m_storeWorker.get(), &StoreWorker::finish, Qt::BlockingQueuedConnection);
        m_storeThread.quit();
        m_storeThread.wait();
    }
    m_storeWorker.reset();
}

std::vector<PortWorker*> Collector::portWorkers() const
{
    std::vector<PortWorker*> out;
    for (const Port& p : m_ports)
        out.push_back(p.worker.get());
    return out;
}

void Collector::checkRegisterFile()
{
    if (m_storeWorker)
        m_storeWorker->requestIngest();
}

void Collector::onRotationSeen()
{
    // Every control switches to the new file between its blocks; the old
    // file is finished once none of them can append to it any more.
    ++m_reopenGeneration;
    m_reopenPending = int(m_ports.size());
    qInfo("the controls switch to the new register file %s", qPrintable(m_options.registerFile));
    if (m_reopenPending == 0) {
        QMetaObject::invokeMethod(m_storeWorker.get(), &StoreWorker::releaseOld);
        return;
    }
    for (Port& p : m_ports)
        QMetaObject::invokeMethod(p.worker.get(), [w = p.worker.get(), g = m_reopenGeneration] { w->reopen(g); });
}

void Collector::syncClocks()
{
    for (Port& p : m_ports)
        QMetaObject::invokeMethod(p.worker.get(), &PortWorker::syncClock);
}

void Collector::scheduleClockSync()
{
    const QDateTime now = QDateTime::currentDateTime();
    if (now.msecsTo(m_nextClockSync) <= 500) {
        syncClocks();
        m_nextClockSync = nextDaily(now.addSecs(60), *m_options.syncClock);
    }
    m_clockTimer.start(std::chrono::milliseconds(std::clamp<qint64>(now.msecsTo(m_nextClockSync), 1000, kClockLookMs)));
}

} // namespace collector
