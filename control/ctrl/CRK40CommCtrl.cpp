#include "control/ctrl/CRK40CommCtrl.h"

#include "platform/serial/ComPorts.h"
#include "platform/component/PropertyBag.h"

#include "platform/ui/Prompt.h"

#include "control/face/FaceWiring.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QObject>
#include <QWidget>

#include <type_traits>
#include <variant>

Q_LOGGING_CATEGORY(lcControl, "rk40comm.control")

namespace rk40 {

using component::InvokeKind;
using component::InvokeResult;
namespace res = result;

namespace {

std::atomic<int> g_liveObjects{0};

constexpr int kPersistenceVersion = 0x00010000; // 1.0

const char* const kDefaultAsciiFileName = "reg.txt";
const char* const kDefaultTermMessage = "'Bar dan!";
constexpr qint16 kDefaultIdtPrevRx = -1;
constexpr qint32 kDefaultBaudRate = 9600;

QVariant i2(qint16 v) { return QVariant::fromValue(v); }
QVariant i4(qint32 v) { return QVariant::fromValue(v); }

} // namespace

int CRK40CommCtrl::liveObjects()
{
    return g_liveObjects.load();
}

CRK40CommCtrl::CRK40CommCtrl()
    : m_dispatch(rk40::typeLibrary().dispatch), m_sinks(rk40::typeLibrary().events), m_window(new QObject),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    ++g_liveObjects;
    m_window->setObjectName(QStringLiteral("RK40CommCtrlWindow"));
    resetProperties();
    registerHandlers();
}

CRK40CommCtrl::~CRK40CommCtrl()
{
    // A container that forgot DestroyTerminal still leaves no thread, port
    // or open file behind.
    DestroyTerminal();
    delete m_window; // drops hand-overs still queued to it
    delete m_face.data();
    --g_liveObjects;
}

const component::TypeLibInfo& CRK40CommCtrl::typeLibrary() const
{
    return rk40::typeLibrary();
}

InvokeResult CRK40CommCtrl::invoke(int dispid, InvokeKind kind, const QVariantList& args)
{
    return m_dispatch.invoke(dispid, kind, args);
}

void CRK40CommCtrl::advise(component::IEventSink* sink)
{
    m_sinks.advise(sink);
}

void CRK40CommCtrl::unadvise(component::IEventSink* sink)
{
    m_sinks.unadvise(sink);
}

void CRK40CommCtrl::fire(int eventId, const QVariantList& args)
{
    m_sinks.fire(eventId, args);
}

// ---------------------------------------------------------------------------
// Properties and persistence

struct CRK40CommCtrl::PersistentProperty {
    const char* name;
    int dispid;
    component::VarType type;
    std::variant<QString CRK40CommCtrl::*, qint32 CRK40CommCtrl::*, qint16 CRK40CommCtrl::*, bool CRK40CommCtrl::*> member;
    QVariant defaultValue;
};

std::span<const CRK40CommCtrl::PersistentProperty> CRK40CommCtrl::persistentProperties()
{
    using component::VarType;
    static const PersistentProperty properties[] = {
        {"AsciiFileName", dispid::AsciiFileName, VarType::BStr, &CRK40CommCtrl::m_asciiFileName,
         QString::fromLatin1(kDefaultAsciiFileName)},
        {"Total", dispid::Total, VarType::I4, &CRK40CommCtrl::m_total, i4(0)},
        {"TermMessage", dispid::TermMessage, VarType::BStr, &CRK40CommCtrl::m_termMessage,
         QString::fromLatin1(kDefaultTermMessage)},
        {"IDT_PrevRx", dispid::IDTPrevRx, VarType::I2, &CRK40CommCtrl::m_idtPrevRx, i2(kDefaultIdtPrevRx)},
        {"WorkOnLine", dispid::WorkOnLine, VarType::Bool, &CRK40CommCtrl::m_workOnLine, QVariant(true)},
        {"Ready", dispid::Ready, VarType::Bool, &CRK40CommCtrl::m_ready, QVariant(true)},
        {"BaudRate", dispid::BaudRate, VarType::I4, &CRK40CommCtrl::m_baudRate, i4(kDefaultBaudRate)},
    };
    return properties;
}

QVariant CRK40CommCtrl::persistentValue(const PersistentProperty& property) const
{
    return std::visit([this](auto member) { return QVariant::fromValue(this->*member); }, property.member);
}

void CRK40CommCtrl::setPersistentValue(const PersistentProperty& property, const QVariant& value)
{
    std::visit(
        [&](auto member) {
            using Value = std::remove_reference_t<decltype(this->*member)>;
            this->*member = value.value<Value>();
        },
        property.member);
}

void CRK40CommCtrl::resetProperties()
{
    for (const PersistentProperty& property : persistentProperties())
        setPersistentValue(property, property.defaultValue);
}

void CRK40CommCtrl::initNew()
{
    resetProperties();
    m_dirty = false;
}

component::HRESULT CRK40CommCtrl::save(component::PropertyBag& bag) const
{
    bag.write(QStringLiteral("_Version"), i4(kPersistenceVersion));
    bag.write(QStringLiteral("_ExtentX"), i4(m_extentX));
    bag.write(QStringLiteral("_ExtentY"), i4(m_extentY));
    bag.write(QStringLiteral("_StockProps"), i4(0));
    for (const PersistentProperty& property : persistentProperties())
        bag.write(QString::fromLatin1(property.name), persistentValue(property));
    m_dirty = false;
    return component::S_OK;
}

component::HRESULT CRK40CommCtrl::load(const component::PropertyBag& bag)
{
    resetProperties();
    // A value that is missing or of the wrong type keeps its default.
    auto read = [&](const char* name, component::VarType type) -> QVariant {
        QVariant v = bag.read(QString::fromLatin1(name));
        if (!v.isValid() || component::coerceValue(type, v, QString::fromLatin1(name)))
            return {};
        return v;
    };
    using component::VarType;
    if (QVariant v = read("_ExtentX", VarType::I4); v.isValid())
        m_extentX = v.value<qint32>();
    if (QVariant v = read("_ExtentY", VarType::I4); v.isValid())
        m_extentY = v.value<qint32>();
    for (const PersistentProperty& property : persistentProperties()) {
        if (QVariant v = read(property.name, property.type); v.isValid())
            setPersistentValue(property, v);
    }
    m_dirty = false;
    return component::S_OK;
}

void CRK40CommCtrl::registerHandlers()
{
    auto text = [this](int id, QString* field) {
        m_dispatch.onProperty(
            id, [field] { return QVariant(*field); },
            [this, field](const QVariant& v) {
                *field = v.toString();
                markDirty();
            });
    };
    auto shortInt = [this](int id, qint16* field) {
        m_dispatch.onProperty(
            id, [field] { return i2(*field); },
            [this, field](const QVariant& v) {
                *field = v.value<qint16>();
                markDirty();
            });
    };
    for (const PersistentProperty& property : persistentProperties()) {
        m_dispatch.onProperty(
            property.dispid, [this, &property] { return persistentValue(property); },
            [this, &property](const QVariant& v) {
                setPersistentValue(property, v);
                markDirty();
            });
    }
    text(dispid::CurrDaytype, &m_currDaytype);
    text(dispid::CurrWeektype, &m_currWeektype);
    text(dispid::DayOfWeek, &m_dayOfWeek);
    shortInt(dispid::ErrCode, &m_errCode);
    text(dispid::Firmware, &m_firmware);
    shortInt(dispid::IDTCurrRx, &m_idtCurrRx);
    text(dispid::IDTElement, &m_idtElement);
    text(dispid::IDTNum, &m_idtNum);
    text(dispid::InBuffer, &m_inBuffer);
    text(dispid::RTC, &m_rtc);

    // Indexed properties: the dispatch table has refused indexes outside
    // the table before these run.
    auto plainArray = [this](int id, auto* array) {
        m_dispatch.onIndexed(
            id, [array](int index) { return QVariant(array->at(static_cast<std::size_t>(index))); },
            [this, array](int index, const QVariant& v) {
                array->at(static_cast<std::size_t>(index)) = v.toString();
                markDirty();
            });
    };
    plainArray(dispid::CardArr, &m_cardArr);
    plainArray(dispid::TermNoArr, &m_termNoArr);
    plainArray(dispid::EepromLoc, &m_eepromLoc);
    m_dispatch.onIndexed(
        dispid::ActionArr, [this](int index) { return QVariant(m_actionArr.at(static_cast<std::size_t>(index))); },
        [this](int index, const QVariant& v) {
            if (const auto name = protocol::actionName(toBytes(v.toString())))
                m_actionArr.at(static_cast<std::size_t>(index)) = fromBytes(*name);
            markDirty();
        });
    m_dispatch.onIndexed(
        dispid::TimeArr, [this](int index) { return QVariant(m_timeArr.at(static_cast<std::size_t>(index))); },
        [this](int index, const QVariant& v) {
            m_timeArr.at(static_cast<std::size_t>(index)) = fromBytes(protocol::timeText(toBytes(v.toString())));
            markDirty();
        });
    m_dispatch.onIndexed(
        dispid::DateArr, [this](int index) { return QVariant(m_dateArr.at(static_cast<std::size_t>(index))); },
        [this](int index, const QVariant& v) {
            m_dateArr.at(static_cast<std::size_t>(index)) =
                fromBytes(protocol::dateText(toBytes(v.toString()), m_clock().date().year()));
            markDirty();
        });

    // Methods.
    m_dispatch.onMethod(dispid::InitTerminal, [this](const QVariantList& a) {
        return QVariant(InitTerminal(a.at(0).value<qint16>()));
    });
    m_dispatch.onMethod(dispid::DestroyTerminal, [this](const QVariantList&) {
        DestroyTerminal();
        return QVariant();
    });
    m_dispatch.onMethod(dispid::ReadEEPR, [this](const QVariantList& a) {
        return i2(ReadEEPR(a.at(0).value<qint16>()));
    });
    m_dispatch.onMethod(dispid::WriteEEPR, [this](const QVariantList& a) {
        return i2(WriteEEPR(a.at(0).value<qint16>(), a.at(1).value<qint32>()));
    });

    m_dispatch.onMethod(dispid::AddIDElement, [this](const QVariantList& a) {
        return i2(AddIDElement(a.at(0).toString(), a.at(1).value<qint16>()));
    });
    m_dispatch.onMethod(dispid::KillIDElement, [this](const QVariantList& a) {
        return i2(KillIDElement(a.at(0).toString(), a.at(1).value<qint16>()));
    });
    m_dispatch.onMethod(dispid::KillIDT, [this](const QVariantList&) { return i2(KillIDT()); });
    m_dispatch.onMethod(dispid::TakeIDTNum, [this](const QVariantList&) { return i2(TakeIDTNum()); });
    m_dispatch.onMethod(dispid::RxIDTElement, [this](const QVariantList&) { return i2(RxIDTElement()); });
    m_dispatch.onMethod(dispid::ResetCurrTx, [this](const QVariantList&) { return i2(ResetCurrTx()); });

    m_dispatch.onMethod(dispid::AboutBox, [this](const QVariantList&) {
        AboutBox();
        return QVariant();
    });
    m_dispatch.onMethod(dispid::TakeData, [this](const QVariantList&) { return i2(TakeData()); });
    m_dispatch.onMethod(dispid::ReconstructData, [this](const QVariantList&) { return i2(ReconstructData()); });

    m_dispatch.onMethod(dispid::GetStatus, [this](const QVariantList&) { return i2(GetStatus()); });
    m_dispatch.onMethod(dispid::PCTimeCopy, [this](const QVariantList&) { return i2(PCTimeCopy()); });
    m_dispatch.onMethod(dispid::TxDayType, [this](const QVariantList& a) { return i2(TxDayType(a.at(0).toString())); });
    m_dispatch.onMethod(dispid::TxWeekType, [this](const QVariantList& a) { return i2(TxWeekType(a.at(0).toString())); });
    m_dispatch.onMethod(dispid::RxDayType, [this](const QVariantList&) { return i2(RxDayType()); });
    m_dispatch.onMethod(dispid::RxWeekType, [this](const QVariantList&) { return i2(RxWeekType()); });
    m_dispatch.onMethod(dispid::SendMessage, [this](const QVariantList& a) { return i2(SendMessage(a.at(0).value<qint16>())); });
    m_dispatch.onMethod(dispid::EraseMessage, [this](const QVariantList&) { return i2(EraseMessage()); });
}

QWidget* CRK40CommCtrl::createFace(QWidget* parent)
{
    // One face per control; a new one replaces the old.
    delete m_face.data();
    m_face = face::createFace(parent, m_status, [this] { fire(eventid::Click); }, [this] { fire(eventid::DblClick); });
    return m_face;
}

void CRK40CommCtrl::AboutBox()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    face::showAboutBox(m_face.data());
}

void CRK40CommCtrl::setStatus(int bits)
{
    m_status = bits;
    face::showStatus(m_face, bits);
    if (m_statusListener)
        m_statusListener(bits);
}

// ---------------------------------------------------------------------------
// Connection

bool CRK40CommCtrl::InitTerminal(qint16 portNum)
{
    // A second InitTerminal without DestroyTerminal in between ends the
    // first connection before it opens the new one.
    if (m_reception.joinable() || m_link.isOpen() || m_registerFile.isOpen())
        DestroyTerminal();

    m_codePage = CodePage::fromProfile();
    // An empty name: a container that takes no on-line blocks (the
    // configurator, the command line) opens and creates no file at all.
    QString error;
    if (!m_asciiFileName.isEmpty() && !m_registerFile.open(m_asciiFileName, &error)) {
        qCWarning(lcControl) << "cannot open the register file" << m_asciiFileName << ":" << error;
        setStatus(0);
        return false;
    }

    const int com = portNum >= 0 && portNum <= 9 ? portNum + 1 : 1;
    m_portName = m_devicePath.isEmpty() ? QStringLiteral("COM%1").arg(com) : m_devicePath;
    const QString device = m_devicePath.isEmpty() ? serial::comDevicePath(com) : m_devicePath;
    m_failureReason.clear();
    m_removalReported = false;
    const serial::OpenResult opened =
        device.isEmpty() ? serial::OpenResult::CannotOpen : m_link.open(device, m_baudRate);
    if (opened != serial::OpenResult::Ok) {
        m_failureReason = device.isEmpty() ? QStringLiteral("%1: %2").arg(m_portName, serial::notAssignedReason())
                                           : m_link.deviceStatus().reason;
        qCWarning(lcControl).noquote() << m_portName << "cannot be opened:" << m_failureReason << "(result"
                                       << static_cast<int>(opened) << ")";
        setStatus(m_registerFile.isOpen() ? kRegisterFileOpen : 0);
        return false;
    }
    setStatus((m_registerFile.isOpen() ? kRegisterFileOpen : 0) | kPortOpen);
    markDirty();

    // The exchange lock exists from here on, in both modes.
    m_lockCreated = true;
    if (m_workOnLine)
        startReception();
    return true;
}

void CRK40CommCtrl::DestroyTerminal()
{
    stopReception();
    ExchangeGuard exchange(*this);
    if (m_link.isOpen()) {
        if (m_link.close())
            setStatus(m_status & ~kPortOpen);
        else
            qCWarning(lcControl) << "closing" << m_portName << "failed";
    }
    m_registerFile.close();
}

bool CRK40CommCtrl::acquireExchange()
{
    if (!m_lockCreated)
        return false;
    // While a member waits, the reception thread leaves the port alone.
    ++m_lockWaiters;
    const bool ok = m_lock.try_lock_for(kLockWait);
    --m_lockWaiters;
    return ok;
}

void CRK40CommCtrl::releaseExchange()
{
    // Every member's exchange ends here: a device that went away during it
    // is told once, in words.
    if (m_link.deviceRemoved())
        noteRemoval();
    m_lock.unlock();
}

void CRK40CommCtrl::noteRemoval()
{
    if (m_removalReported)
        return;
    m_removalReported = true;
    m_failureReason = QStringLiteral("%1 (%2)").arg(serial::removedReason(), m_link.devicePath());
    qCWarning(lcControl).noquote() << QStringLiteral("%1: %2").arg(m_portName, m_failureReason);
}

// ---------------------------------------------------------------------------
// Reception thread and hand-over

void CRK40CommCtrl::startReception()
{
    m_stop = false;
    m_receptionEnded = false;
    m_reception = std::thread([this] {
        receptionLoop();
        m_receptionEnded = true;
    });
}

void CRK40CommCtrl::stopReception()
{
    if (!m_reception.joinable())
        return;
    {
        std::lock_guard lock(m_handOverMutex);
        m_stop = true;
    }
    m_handOverDone.notify_all();
    m_reception.join();
    m_stop = false;
}

void CRK40CommCtrl::receptionLoop()
{
    const TerminalLink::Interrupt interrupt = [this] { return m_stop.load() || m_lockWaiters.load() > 0; };
    while (!m_stop) {
        // A member call waiting for the lock goes first.
        if (m_lockWaiters.load() > 0) {
            std::this_thread::sleep_for(TerminalLink::kAttemptTimeout);
            continue;
        }
        // While the line is quiet, wait for input without the lock and
        // without waking every attempt: member calls go ahead meanwhile,
        // and an idle control costs next to nothing.
        if (!m_link.inputWaiting(kIdleWait))
            continue;
        std::uint8_t byte = 0;
        {
            std::unique_lock lock(m_lock, std::defer_lock);
            if (!lock.try_lock_for(kPollLockWait))
                continue;
            byte = m_link.ReadByte(TerminalLink::kStandardAttempts, interrupt);
            if (m_link.deviceRemoved()) {
                // Nothing more will come: stop polling a dead descriptor
                // and tell the container on its own thread.
                QMetaObject::invokeMethod(m_window, [this] { onDeviceRemoved(); }, Qt::QueuedConnection);
                return;
            }
        }
        // Any other byte is dropped.
        if (byte == protocol::SOH && !m_stop)
            handOver();
    }
}

void CRK40CommCtrl::onDeviceRemoved()
{
    // The connection may have been ended (and another begun) since.
    if (!m_link.deviceRemoved())
        return;
    noteRemoval();
    m_errCode = kErrDeviceRemoved;
    fire(eventid::ErrMessage);
}

bool CRK40CommCtrl::handOverPending() const
{
    std::lock_guard lock(m_handOverMutex);
    return m_pendingHandOver != 0;
}

void CRK40CommCtrl::handOver()
{
    std::unique_lock lock(m_handOverMutex);
    const quint64 id = ++m_handOverSerial;
    m_pendingHandOver = id;
    lock.unlock();

    QMetaObject::invokeMethod(m_window, [this, id] { onGetMessage(id); }, Qt::QueuedConnection);

    // Wait until the owner thread has handled the block, or until the
    // connection is being ended (the owner thread may be the one ending it).
    lock.lock();
    m_handOverDone.wait(lock, [&] { return m_pendingHandOver != id || m_stop.load(); });
    m_pendingHandOver = 0;
}

void CRK40CommCtrl::onGetMessage(quint64 handOverId)
{
    {
        // A hand-over that was given up (connection ended) does nothing.
        std::lock_guard lock(m_handOverMutex);
        if (m_pendingHandOver != handOverId || m_stop.load())
            return;
    }
    handleOnlineBlock();
    {
        std::lock_guard lock(m_handOverMutex);
        if (m_pendingHandOver == handOverId)
            m_pendingHandOver = 0;
    }
    m_handOverDone.notify_all();
}

void CRK40CommCtrl::handleOnlineBlock()
{
    ExchangeGuard exchange(*this);
    if (!exchange.locked())
        return;
    if (!m_ready) {
        // Neither read nor answered: the terminal tries again later.
        return;
    }
    int records = m_total;
    const int code = m_link.ReceiveOnlineBlock(&records);
    if (records != m_total) {
        m_total = records;
        markDirty(); // a persisted property changed
    }
    m_link.WriteByte(code == res::kOk ? protocol::ACK : protocol::NAK);
    const std::string data = code == res::kOk ? std::string(m_link.frameText(0)) : std::string();
    exchange.release();

    if (code != res::kOk) {
        qCInfo(lcControl) << "on-line block refused:" << code << QString::fromStdString(res::describeResult(res::Family::OnlineBlock, code));
        m_errCode = static_cast<qint16>(code);
        fire(eventid::ErrMessage);
        return;
    }

    storeRecords(data);

    if (!m_registerFile.isOpen()) {
        // No register file: the block is taken and reported, not kept.
        fireRxRegs();
        m_errCode = 0;
        return;
    }
    bool showError = false;
    {
        // The terminal has its ACK: the block is written whatever the wait,
        // and a block that cannot be written is reported.
        RegisterFileLockGuard fileLock(m_registerFile);
        QString error = fileLock.error();
        if (!fileLock.locked() || !appendToRegisterFile(data, &error))
            showError = notifyRegisterFileError(error);
        // Fired while the lock is held: other instances append after the
        // container has dealt with this block.
        fireRxRegs();
    }
    m_errCode = 0;
    // The message box waits for the user: not while others wait for the lock.
    if (showError)
        showRegisterFileError();
}

void CRK40CommCtrl::fireRxRegs()
{
    fire(eventid::RxRegs, {i2(static_cast<qint16>(std::clamp(m_total, 0, 32767)))});
}

void CRK40CommCtrl::storeRecords(std::string_view data)
{
    // Records are the LF-ended lines of the block; the arrays hold the first
    // 32 of them, further ones are counted and written but not kept here.
    const int year = m_clock().date().year();
    int i = 0;
    std::size_t pos = 0;
    while (i < kRecordEntries && i < m_total && pos < data.size()) {
        const std::size_t lf = data.find('\n', pos);
        const std::size_t end = lf == std::string_view::npos ? data.size() : lf;
        const std::string_view line = data.substr(pos, std::min(end - pos, protocol::kEventRecordLength));
        const protocol::EventRecord r = protocol::decodeEventRecord(line, year);
        const auto at = static_cast<std::size_t>(i);
        m_cardArr.at(at) = fromBytes(r.card);
        m_actionArr.at(at) = fromBytes(r.action);
        m_timeArr.at(at) = fromBytes(r.time);
        m_dateArr.at(at) = fromBytes(r.date);
        m_termNoArr.at(at) = fromBytes(r.terminalNumber);
        ++i;
        if (lf == std::string_view::npos)
            break;
        pos = lf + 1;
    }
}

bool CRK40CommCtrl::appendToRegisterFile(std::string_view data, QString* error)
{
    // One line per record, each ended by CR LF. Characters after the last
    // record end are not a record (a record end lost on the line, which the
    // checksum does not cover): they are not written, so that the file holds
    // exactly the Total records reported with RxRegs.
    const std::size_t end = data.rfind('\n');
    const std::string_view records = end == std::string_view::npos ? std::string_view() : data.substr(0, end + 1);
    if (records.size() < data.size())
        qCWarning(lcControl) << "on-line block: characters after the last record end not written:"
                             << QByteArray(data.data() + records.size(), static_cast<qsizetype>(data.size() - records.size()));
    std::string lines;
    lines.reserve(records.size() + records.size() / 19 + 2);
    for (char c : records) {
        if (c == '\n')
            lines += "\r\n";
        else
            lines += c;
    }
    // One write of the whole block at the file's end: another program
    // appending under the same lock never sees part of it, and a failed
    // write leaves nothing behind.
    return m_registerFile.append(lines, error);
}

bool CRK40CommCtrl::notifyRegisterFileError(const QString& reason)
{
    const QString text = QString::fromLatin1(kRegisterFileErrorText);
    qCWarning(lcControl) << "the block was not written to the register file" << m_registerFile.path() << ":" << reason;
    // The stock error notification goes to every sink; the text is shown
    // unless one of them sets CancelDisplay (it tells the user itself).
    const auto scode = kRegisterFileErrorScode;
    QVariantList args{i2(static_cast<qint16>(scode & 0xFFFF)),
                      text,
                      QVariant::fromValue<qint32>(scode),
                      QStringLiteral("RK40Comm"),
                      QString(),
                      QVariant::fromValue<qint32>(0),
                      QVariant(false)};
    m_sinks.fireByRef(eventid::Error, args);
    return !args.value(kErrorCancelDisplay).toBool();
}

void CRK40CommCtrl::showRegisterFileError()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        ui::prompter().message(m_face.data(), QString::fromLatin1(kRegisterFileErrorText), ui::Look::Stop,
                               controlString(1, Language::English));
}

// ---------------------------------------------------------------------------
// Register and EEPROM access

qint16 CRK40CommCtrl::ReadEEPR(qint16 address)
{
    if (address < 0 || address >= kEepromEntries)
        return res::kRegisterBadArgument;
    ExchangeGuard exchange(*this);
    if (!exchange.locked())
        return res::kRegisterLockFailed;
    if (m_link.OpenCommand(protocol::command::ReadEeprom) != res::kOk)
        return res::kRegisterNotReady;
    const int code = m_link.RegisterRead(address);
    std::array<std::uint8_t, protocol::kRegisterAnswerLength> answer{};
    std::copy_n(m_link.frame().begin(), answer.size(), answer.begin());
    exchange.release();
    if (code != res::kOk)
        return static_cast<qint16>(code);
    const auto word = protocol::decodeRegisterAnswer(answer);
    if (!word)
        return res::kRegisterBadAnswer;
    m_eepromLoc.at(static_cast<std::size_t>(address)) = fromBytes(*word);
    markDirty();
    return res::kOk;
}

qint16 CRK40CommCtrl::WriteEEPR(qint16 address, qint32 contents)
{
    if (address < 0 || address >= kEepromEntries || contents < 0 || contents > 0xFFFF)
        return res::kRegisterBadArgument;
    ExchangeGuard exchange(*this);
    if (!exchange.locked())
        return res::kRegisterLockFailed;
    if (m_link.OpenCommand(protocol::command::WriteEeprom) != res::kOk)
        return res::kRegisterNotReady;
    std::uint8_t answer = 0;
    const int code = m_link.RegisterWrite(address, contents, &answer);
    exchange.release();
    if (code != res::kOk)
        return static_cast<qint16>(code);
    switch (protocol::classifyWriteAnswer(answer)) {
    case protocol::WriteAnswer::Written: return res::kOk;
    case protocol::WriteAnswer::Refused: return res::kRegisterBadAnswer;
    case protocol::WriteAnswer::Other: return res::kRegisterOtherAnswer;
    }
    return res::kRegisterOtherAnswer;
}

// ---------------------------------------------------------------------------
// Common command steps

qint16 CRK40CommCtrl::beginCommand(ExchangeGuard& exchange, char letter, qint16 lockFailure)
{
    if (!exchange.locked())
        return lockFailure;
    return static_cast<qint16>(m_link.OpenCommand(letter));
}

qint16 CRK40CommCtrl::openingOnly(char letter)
{
    ExchangeGuard exchange(*this);
    return beginCommand(exchange, letter);
}

void CRK40CommCtrl::storeSequence(const TerminalLink::Sequence& sequence)
{
    m_idtCurrRx = sequence.current;
    if (m_idtPrevRx != sequence.previous) {
        m_idtPrevRx = sequence.previous;
        markDirty(); // a persisted property changed
    }
}

QString CRK40CommCtrl::localString(int id) const
{
    return controlString(id, m_language.value_or(uiLanguage()));
}

// ---------------------------------------------------------------------------
// Identification table

qint16 CRK40CommCtrl::sendIdElement(char letter, const QString& ibutton, int accessByte)
{
    // A longer identifier (a full 16-digit one with its checksum byte) is
    // sent by its first 14 characters; those must all be hexadecimal digits.
    const auto frame = protocol::idElementFrame(toBytes(ibutton.left(static_cast<qsizetype>(protocol::kIdentifierDigits))), accessByte);
    if (!frame)
        return res::kIdArgumentRefused;
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, letter))
        return failure;
    if (!m_link.loadFrame(*frame))
        return res::kFrameWriteFailed;
    const int sent = m_link.SendConfirmedFrame(frame->size());
    exchange.release();
    return static_cast<qint16>(sent);
}

qint16 CRK40CommCtrl::AddIDElement(const QString& ibutton, qint16 abyte)
{
    return sendIdElement(protocol::command::AddIdElement, ibutton, abyte);
}

qint16 CRK40CommCtrl::KillIDElement(const QString& ibutton, qint16 abyte)
{
    // The frame carries only the low five bits: any access byte will do.
    return sendIdElement(protocol::command::KillIdElement, ibutton, protocol::killAccessByte(abyte));
}

qint16 CRK40CommCtrl::KillIDT()
{
    return openingOnly(protocol::command::KillIdTable);
}

qint16 CRK40CommCtrl::ResetCurrTx()
{
    return openingOnly(protocol::command::ResetCurrentTx);
}

qint16 CRK40CommCtrl::TakeIDTNum()
{
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, protocol::command::TakeIdtNumber))
        return failure;
    std::string line;
    const int received = m_link.ReceiveTextLine(&line);
    exchange.release();
    if (received == res::kOk)
        m_idtNum = fromBytes(line);
    return static_cast<qint16>(received);
}

qint16 CRK40CommCtrl::RxIDTElement()
{
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, protocol::command::ReceiveIdElement))
        return failure;
    TerminalLink::Sequence sequence{m_idtPrevRx, m_idtCurrRx};
    std::string record;
    const int received = m_link.ReceiveRecord(protocol::RecordKind::Identification, sequence, &record);
    exchange.release();
    storeSequence(sequence);
    if (received != res::kOk)
        return static_cast<qint16>(received);
    if (const auto element = protocol::decodeIdElement(record)) {
        m_idtElement = fromBytes(element->identifier);
        m_currWeektype = QStringLiteral("%1").arg(element->accessByte, 2, 10, QLatin1Char('0'));
    }
    return res::kOk;
}

// ---------------------------------------------------------------------------
// Status, clock, calendar types and terminal messages

qint16 CRK40CommCtrl::GetStatus()
{
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, protocol::command::Status))
        return failure;
    const int received = m_link.ReceiveStatusBlock();
    std::array<std::uint8_t, protocol::kStatusBlockLength> block{};
    std::copy_n(m_link.frame().begin(), block.size(), block.begin());
    exchange.release();

    // Without a byte of the block there is nothing to show: the properties
    // keep what they had.
    if (received == 0)
        return res::kStatusNoBlock;
    if (received == 1 && block[0] == protocol::NAK)
        return res::kStatusRefused;
    // The texts are taken as they come, even when bytes are missing.
    const auto texts = protocol::splitStatusBlock(std::span<const std::uint8_t>(block.data(), std::size_t(received)));
    m_firmware = fromBytes(texts.firmware);
    m_dayOfWeek = localString(protocol::weekdayStringId(texts.clock));
    m_rtc = fromBytes(protocol::clockWithoutWeekday(texts.clock));
    m_inBuffer = fromBytes(texts.inBuffer);
    return res::kOk;
}

qint16 CRK40CommCtrl::PCTimeCopy()
{
    const QDateTime now = m_clock();
    protocol::LocalTime t;
    t.year = now.date().year();
    t.month = now.date().month();
    t.day = now.date().day();
    t.dayOfWeek = now.date().dayOfWeek() % 7; // Qt counts Monday 1 .. Sunday 7
    t.hour = now.time().hour();
    t.minute = now.time().minute();
    const std::string text = protocol::clockText(t);

    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, protocol::command::ClockCopy))
        return failure;
    if (!m_link.loadFrame(text))
        return res::kClockNotTaken;
    const int sent = m_link.SendAcknowledgedText(text.size());
    exchange.release();
    return sent == res::kOk ? res::kOk : res::kClockNotTaken;
}

qint16 CRK40CommCtrl::sendTypeText(char letter, const QString& text)
{
    const std::string bytes = toBytes(text);
    // Longer texts are refused whole rather than cut: the terminal would
    // take a cut day or week type as a valid one. A zero byte would end
    // the text on the terminal's side.
    if (bytes.size() > protocol::kMaxTextLength || bytes.find('\0') != std::string::npos)
        return res::kFrameWriteFailed;
    const std::string frame = bytes + static_cast<char>(protocol::ETX);
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, letter))
        return failure;
    if (!m_link.loadFrame(frame))
        return res::kFrameWriteFailed;
    const int sent = m_link.SendConfirmedFrame(frame.size());
    exchange.release();
    return static_cast<qint16>(sent);
}

qint16 CRK40CommCtrl::TxDayType(const QString& day)
{
    return sendTypeText(protocol::command::SendDayType, day);
}

qint16 CRK40CommCtrl::TxWeekType(const QString& week)
{
    return sendTypeText(protocol::command::SendWeekType, week);
}

qint16 CRK40CommCtrl::receivePlainRecord(char letter, QString* into)
{
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, letter))
        return failure;
    TerminalLink::Sequence sequence{m_idtPrevRx, m_idtCurrRx};
    std::string record;
    const int received = m_link.ReceiveRecord(protocol::RecordKind::Plain, sequence, &record);
    exchange.release();
    storeSequence(sequence);
    if (received == res::kOk)
        *into = fromBytes(record);
    return static_cast<qint16>(received);
}

qint16 CRK40CommCtrl::RxDayType()
{
    return receivePlainRecord(protocol::command::ReceiveDayType, &m_currDaytype);
}

qint16 CRK40CommCtrl::RxWeekType()
{
    return receivePlainRecord(protocol::command::ReceiveWeekType, &m_currWeektype);
}

qint16 CRK40CommCtrl::SendMessage(qint16 cmd)
{
    const std::string text = protocol::messageText(toBytes(m_termMessage));
    // A zero byte would cut the text short on the line, its checksum with it.
    if (text.find('\0') != std::string::npos)
        return res::kMessageNotCarried;
    ExchangeGuard exchange(*this);
    if (const qint16 failure = beginCommand(exchange, static_cast<char>(cmd & 0xFF)))
        return failure;
    if (!m_link.loadFrame(text))
        return res::kMessageNotSent;
    const int sent = m_link.SendAcknowledgedText(text.size());
    exchange.release();
    if (sent == res::kOk)
        return res::kOk;
    return sent == res::kTextNak ? res::kMessageRefused : res::kMessageNotSent;
}

qint16 CRK40CommCtrl::TakeData()
{
    return openingOnly(protocol::command::TakeData);
}

qint16 CRK40CommCtrl::ReconstructData()
{
    return openingOnly(protocol::command::ReconstructData);
}

qint16 CRK40CommCtrl::EraseMessage()
{
    return openingOnly(protocol::command::EraseMessage);
}

} // namespace rk40
