#include "PortWorker.h"

#include "BlockLedger.h"
#include "StoreWorker.h"

#include "platform/component/Registry.h"
#include "platform/component/TypeInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace collector {

namespace {

constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;
// An open port is asked for its status when no block has come for this
// long: a block is proof enough that the line is alive.
constexpr int kHealthCheckMs = 5000;
constexpr int kSpaceCheckMs = 1000;

std::int64_t freeBytes(const QString& file)
{
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), &vfs) != 0)
        return -1;
    return std::int64_t(vfs.f_bavail) * std::int64_t(vfs.f_frsize);
}

QVariant propertyAt(component::IDispatchControl& c, const char* name, int index)
{
    const auto* m = c.typeLibrary().dispatch.member(QString::fromLatin1(name));
    if (!m)
        return {};
    const auto r = c.invoke(m->dispid, component::InvokeKind::PropertyGet, {qint16(index)});
    return r.ok() ? r.value : QVariant();
}

// A record as it stood in the block, put together again from the control's
// arrays (date "dd.mm.yy", time "hh:mm", source name, card, "%02d" terminal).
QByteArray recordFromArrays(component::IDispatchControl& c, int i)
{
    static const QStringList sources = {"T1", "T2", "T3", "T4", "S1O", "S1Z", "S2O", "S2Z",
                                        "S3O", "S3Z", "S4O", "S4Z", "E1", "E2", "E3", "E4"};
    const QString date = propertyAt(c, "DateArr", i).toString(), time = propertyAt(c, "TimeArr", i).toString();
    const QString term = propertyAt(c, "TermNoArr", i).toString();
    const auto source = sources.indexOf(propertyAt(c, "ActionArr", i).toString());
    const QString text = date.left(2) + date.mid(3, 2) + date.right(1) + time.left(2) + time.mid(3, 2)
                         + QString::number(std::max<qsizetype>(source, 0), 16).toUpper()
                         + propertyAt(c, "CardArr", i).toString() + term.right(1);
    return text.toLatin1();
}

} // namespace

PortWorker::PortWorker(PortSettings settings, StoreWorker& store)
    : m_settings(std::move(settings)), m_store(store), m_retryMs(kFirstRetryMs),
      m_retry(this), m_health(this), m_space(this), m_pause(this)
{
    m_snapshot.port = m_settings.spec.name;
    m_snapshot.device = m_settings.spec.name.startsWith('/')
                            ? m_settings.spec.name
                            : qEnvironmentVariable(qPrintable(QString("RK40_COM%1").arg(m_settings.com)), m_settings.spec.name);
    m_snapshot.baud = m_settings.spec.baud;
    m_snapshot.state = QStringLiteral("starting");
    m_snapshot.since = QDateTime::currentDateTimeUtc();
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, [this] { resume(); });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { tryOpen(); });
    m_health.setInterval(kHealthCheckMs);
    connect(&m_health, &QTimer::timeout, this, [this] {
        if (!m_sinceBlock.isValid() || m_sinceBlock.elapsed() >= kHealthCheckMs)
            checkPort();
    });
    m_space.setInterval(kSpaceCheckMs);
    connect(&m_space, &QTimer::timeout, this, [this] { updateAccepting(); });
}

PortWorker::~PortWorker()
{
    if (m_watchFd >= 0)
        ::close(m_watchFd);
}

QVariant PortWorker::call(const char* name, const QVariantList& args)
{
    const auto* m = m_control->typeLibrary().dispatch.member(QString::fromLatin1(name));
    if (!m)
        return {};
    const auto r = m_control->invoke(m->dispid, component::InvokeKind::Method, args);
    if (!r.ok()) {
        qWarning("%s failed: %s", name, qPrintable(r.error.isEmpty() ? component::describeResult(r.hr) : r.error));
        return {};
    }
    return r.value;
}

void PortWorker::put(const char* name, const QVariant& value)
{
    const auto* m = m_control->typeLibrary().dispatch.member(QString::fromLatin1(name));
    if (m)
        m_control->invoke(m->dispid, component::InvokeKind::PropertyPut, {value});
}

bool PortWorker::start(QString* error)
{
    QString createError;
    component::HRESULT hr = component::S_OK;
    m_control = component::createControl(m_settings.progId, &hr, &createError);
    if (!m_control) {
        *error = QString("cannot create the control %1: %2 (is it registered? see regctl)")
                     .arg(m_settings.progId, createError);
        return false;
    }
    m_control->initNew();
    m_control->advise(this);
    put("AsciiFileName", m_settings.registerFile);
    put("WorkOnLine", true);
    put("Ready", true);
    put("BaudRate", qint32(m_settings.spec.baud));
    m_space.start();
    updateAccepting();
    // Opening asks the terminal for its status: not while the caller waits.
    QTimer::singleShot(0, this, [this] { tryOpen(); });
    return true;
}

void PortWorker::stop()
{
    m_pause.stop();
    m_retry.stop();
    m_health.stop();
    m_space.stop();
    if (m_control) {
        call("DestroyTerminal");
        m_control->unadvise(this);
        m_control.reset();
    }
    moveToThread(QCoreApplication::instance()->thread());
}

void PortWorker::openWatch()
{
    if (m_watchFd >= 0)
        ::close(m_watchFd);
    m_watchFd = ::open(QFile::encodeName(m_settings.registerFile).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

void PortWorker::tryOpen()
{
    const QString& name = m_settings.spec.name;
    if (!call("InitTerminal", {qint16(m_settings.com - 1)}).toBool()) {
        call("DestroyTerminal");
        portFailed("cannot be opened");
        return;
    }
    openWatch();
    // The port opened; a terminal that answers makes it collecting. Any
    // result but 0 is a terminal that does not answer.
    int code = call("GetStatus").toInt();
    if (code != 0)
        code = call("GetStatus").toInt();
    if (code != 0) {
        call("DestroyTerminal");
        portFailed(QString("the terminal does not answer (status result %1)").arg(code));
        return;
    }
    if (m_state != State::Up)
        qInfo("%s: collecting (%d baud)", qPrintable(name), m_settings.spec.baud);
    if (m_state != State::Up)
        setState(QStringLiteral("collecting"));
    m_state = State::Up;
    readStatusProperties();
    m_downReason.clear();
    m_retryMs = kFirstRetryMs;
    m_health.start();
    if (m_settings.syncClock)
        syncClock();
}

void PortWorker::checkPort()
{
    if (m_state != State::Up || !m_control)
        return;
    int code = call("GetStatus").toInt();
    if (code != 0)
        code = call("GetStatus").toInt();
    if (code == 0) {
        readStatusProperties();
        return;
    }
    m_health.stop();
    call("DestroyTerminal");
    portFailed(QString("the terminal stopped answering (status result %1)").arg(code));
}

void PortWorker::portFailed(const QString& why)
{
    // Each change is logged once, not every retry.
    if (m_state != State::Down || m_downReason != why)
        qWarning("%s: %s; retrying with back-off up to %d s", qPrintable(m_settings.spec.name), qPrintable(why),
                 kLastRetryMs / 1000);
    m_retryMs = m_state == State::Down ? std::min(m_retryMs * 2, kLastRetryMs) : kFirstRetryMs;
    if (m_state != State::Down || m_downReason != why)
        setState(QStringLiteral("retrying"), why);
    m_state = State::Down;
    m_downReason = why;
    m_retry.start(m_retryMs);
}

void PortWorker::reopen(quint64 generation)
{
    // Between blocks (this thread is not in a block's handler): a block
    // already announced but not yet read is left unanswered and comes again.
    if (m_state == State::Up && m_control) {
        call("DestroyTerminal");
        if (!call("InitTerminal", {qint16(m_settings.com - 1)}).toBool()) {
            call("DestroyTerminal");
            m_health.stop();
            portFailed("cannot be opened again after the register file changed");
        } else {
            openWatch();
        }
    }
    emit reopened(generation);
}

void PortWorker::onEvent(int, const QString& name, const QVariantList& args)
{
    if (name == "RxRegs") {
        onBlock(args.value(0).toInt());
    } else if (name == "ErrMessage") {
        // A refused block, or the line went: ask the terminal, but not
        // from inside the control's handler.
        if (!m_checkQueued) {
            m_checkQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_checkQueued = false;
                checkPort();
            });
        }
    } else if (name == "Error") {
        // The block was acknowledged but could not be appended: take no
        // more until writing works again.
        m_appendProblem = QString("the register file %1 cannot be written").arg(m_settings.registerFile);
        m_blockLost = true;
    }
}

void PortWorker::onBlock(int records)
{
    m_sinceBlock.start();
    {
        QMutexLocker lock(&m_snapshotMutex);
        m_snapshot.lastBlockAt = QDateTime::currentDateTimeUtc();
    }
    if (std::exchange(m_blockLost, false) && m_control) {
        // The terminal has its ACK and the file has not got the block: what
        // the control still holds goes to the store directly, and the log
        // says which records they are and how many are missing.
        QList<QByteArray> kept;
        QStringList shown;
        for (int i = 0; i < std::min(records, 32); ++i) {
            const QByteArray r = recordFromArrays(*m_control, i);
            kept << r;
            shown << QString::fromLatin1(r);
        }
        qCritical("%s: %d acknowledged records were not written to the register file (%lld of them are kept in the "
                  "store from the control): %s", qPrintable(m_settings.spec.name), records,
                  static_cast<long long>(kept.size()), qPrintable(shown.join(' ')));
        QMetaObject::invokeMethod(&m_store, [store = &m_store, kept, port = m_settings.spec.name] {
            store->keepLost(kept, port);
        });
        updateAccepting();
        return;
    }
    // Called while the control holds the register file lock, right after
    // its append: the file ends with this block.
    struct stat st {};
    if (m_watchFd >= 0 && ::fstat(m_watchFd, &st) == 0)
        m_store.ledger().add({std::int64_t(st.st_dev), std::int64_t(st.st_ino), std::int64_t(st.st_size), records,
                      m_settings.spec.name});
    m_store.requestIngest();
    updateAccepting();
}

void PortWorker::setStoreProblem(const QString& reason)
{
    m_storeProblem = reason;
    updateAccepting();
}

QString PortWorker::spaceProblem() const
{
    for (const QString& file : {m_settings.registerFile, m_settings.storeFile}) {
        const std::int64_t free = freeBytes(file);
        if (free >= 0 && free < m_settings.minFreeBytes)
            return QString("only %1 KiB free for %2 (at least %3 KiB wanted)")
                .arg(free / 1024).arg(file).arg(m_settings.minFreeBytes / 1024);
    }
    return {};
}

bool PortWorker::probeWrite() const
{
    // As much as a block at its longest, written and taken away again.
    const QByteArray path = QFile::encodeName(m_settings.registerFile + ".probe");
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const QByteArray bytes(2048, '0');
    const bool ok = ::write(fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    ::unlink(path.constData());
    return ok;
}

void PortWorker::updateAccepting()
{
    if (!m_appendProblem.isEmpty() && spaceProblem().isEmpty() && probeWrite())
        m_appendProblem.clear();
    QString why = m_appendProblem;
    if (why.isEmpty())
        why = m_storeProblem;
    if (why.isEmpty())
        why = spaceProblem();
    const bool accept = why.isEmpty();
    if (accept == m_accepting && why == m_degradedReason)
        return;
    if (m_control)
        put("Ready", accept);
    if (!accept)
        qWarning("%s: degraded: %s; blocks are left with the terminal until writing works",
                 qPrintable(m_settings.spec.name), qPrintable(why));
    else
        qInfo("%s: writing works again; taking blocks", qPrintable(m_settings.spec.name));
    m_accepting = accept;
    m_degradedReason = why;
    QMutexLocker lock(&m_snapshotMutex);
    m_snapshot.accepting = accept;
    if (!accept)
        m_snapshot.lastError = why;
}

PortSnapshot PortWorker::snapshot() const
{
    QMutexLocker lock(&m_snapshotMutex);
    return m_snapshot;
}

void PortWorker::setState(const QString& state, const QString& error)
{
    QMutexLocker lock(&m_snapshotMutex);
    m_snapshot.state = state;
    m_snapshot.since = QDateTime::currentDateTimeUtc();
    if (!error.isEmpty())
        m_snapshot.lastError = error;
    if (state != QLatin1String("paused"))
        m_snapshot.pausedUntil = {};
}

void PortWorker::readStatusProperties()
{
    auto text = [this](const char* name) {
        const auto* m = m_control->typeLibrary().dispatch.member(QString::fromLatin1(name));
        if (!m)
            return QString();
        const auto r = m_control->invoke(m->dispid, component::InvokeKind::PropertyGet, {});
        return r.ok() ? r.value.toString().trimmed() : QString();
    };
    const QString firmware = text("Firmware"), clock = text("RTC"), day = text("DayOfWeek");
    QMutexLocker lock(&m_snapshotMutex);
    m_snapshot.firmware = firmware;
    m_snapshot.clock = clock;
    m_snapshot.dayOfWeek = day;
    m_snapshot.statusReadAt = QDateTime::currentDateTime();
}

void PortWorker::runOperation(const Operation& op)
{
    // Queued to this thread, so never inside a block's handler; each member
    // the operation calls takes the control's exchange lock.
    if (m_state == State::Up && m_control) {
        op(m_control.get(), {});
        return;
    }
    if (m_state == State::Paused)
        op(nullptr, QString("the port is paused until %1 so that another program can use it")
                        .arg(snapshot().pausedUntil.toLocalTime().toString("HH:mm:ss")));
    else if (m_state == State::Starting)
        op(nullptr, QStringLiteral("the port is being opened"));
    else
        op(nullptr, QString("the port is retrying: %1").arg(m_downReason));
}

void PortWorker::runWithPortFree(const ExclusiveOperation& op)
{
    if (m_state != State::Up || !m_control) {
        runOperation([&](component::IDispatchControl*, const QString& unavailable) { op(0, 0, unavailable); });
        return;
    }
    m_health.stop();
    call("DestroyTerminal");
    op(m_settings.com, m_settings.spec.baud, {});
    tryOpen();
}

void PortWorker::pause(int minutes)
{
    m_retry.stop();
    m_health.stop();
    if (m_control && m_state == State::Up)
        call("DestroyTerminal");
    if (m_state != State::Paused)
        qInfo("%s: paused for %d minute(s); the port is free for other programs", qPrintable(m_settings.spec.name), minutes);
    m_state = State::Paused;
    setState(QStringLiteral("paused"));
    {
        QMutexLocker lock(&m_snapshotMutex);
        m_snapshot.pausedUntil = QDateTime::currentDateTimeUtc().addSecs(qint64(minutes) * 60);
    }
    m_pause.start(std::chrono::minutes(minutes));
}

void PortWorker::resume()
{
    if (m_state != State::Paused)
        return;
    m_pause.stop();
    qInfo("%s: pause over; taking the port back", qPrintable(m_settings.spec.name));
    m_state = State::Starting;
    setState(QStringLiteral("starting"));
    tryOpen();
}

void PortWorker::syncClock()
{
    if (m_state != State::Up || !m_control)
        return;
    const int rc = call("PCTimeCopy").toInt();
    if (rc != 0)
        qWarning("%s: setting the terminal's clock failed (result %d)", qPrintable(m_settings.spec.name), rc);
    else
        qInfo("%s: terminal clock set", qPrintable(m_settings.spec.name));
}

} // namespace collector
