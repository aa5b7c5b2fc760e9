#include "core/CRK40Comm.h"

#include "platform/component/Registry.h"
#include "platform/resources/Resources.h"

#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcWrapper, "termset.control")

using component::InvokeKind;

CRK40Comm::CRK40Comm(std::unique_ptr<component::IDispatchControl> control) : m_control(std::move(control)) {}

CRK40Comm::~CRK40Comm() = default;

namespace {
QString& ownModule()
{
    static QString path;  // set once at start-up, before any control is made
    return path;
}
} // namespace

void CRK40Comm::setOwnModule(const QString& modulePath) { ownModule() = modulePath; }

std::unique_ptr<component::IDispatchControl> CRK40Comm::createRegistered(const QString& progId, QString* error)
{
    component::HRESULT hr = component::S_OK;
    auto control = component::createControl(progId, &hr, error);
    const QString module = ownModule();
    // Only a class registered nowhere: a registration that names another
    // module is the user's choice and stays.
    if (control || hr != component::REGDB_E_CLASSNOTREG || module.isEmpty() || !QFileInfo::exists(module))
        return control;
    QString why;
    if (!component::succeeded(component::registerModule(module, false, &why))) {
        qCWarning(lcWrapper) << "cannot register" << module << ":" << why;
        return control;
    }
    qCInfo(lcWrapper).noquote() << "registered" << module << "for this user in" << component::Registry::defaultPath();
    return component::createControl(progId, &hr, error);
}

bool CRK40Comm::Create(const QString& progId)
{
    m_control = createRegistered(progId, &m_error);
    if (!m_control)
        qCWarning(lcWrapper) << "cannot create" << progId << ":" << m_error;
    return m_control != nullptr;
}

component::InvokeResult CRK40Comm::call(int dispid, InvokeKind kind, const QVariantList& args) const
{
    if (!m_control) {
        m_error = QStringLiteral("the communication control is not available");
        return {component::E_FAIL, {}, m_error};
    }
    auto result = m_control->invoke(dispid, kind, args);
    if (!result.ok()) {
        m_error = result.error;
        qCWarning(lcWrapper) << "DISPID" << dispid << "failed:" << result.error;
    }
    return result;
}

static short shortResult(const component::InvokeResult& r)
{
    return r.ok() ? static_cast<short>(r.value.toInt()) : CRK40Comm::kCallFailed;
}

QString CRK40Comm::GetFirmware() const { return call(kFirmware, InvokeKind::PropertyGet).value.toString(); }
QString CRK40Comm::GetInBuffer() const { return call(kInBuffer, InvokeKind::PropertyGet).value.toString(); }
QString CRK40Comm::GetRtc() const { return call(kRtc, InvokeKind::PropertyGet).value.toString(); }
void CRK40Comm::SetWorkOnLine(bool on) { call(kWorkOnLine, InvokeKind::PropertyPut, {on}); }
void CRK40Comm::SetAsciiFileName(const QString& path) { call(kAsciiFileName, InvokeKind::PropertyPut, {path}); }
void CRK40Comm::SetBaudRate(qint32 baud) { call(kBaudRate, InvokeKind::PropertyPut, {baud}); }
bool CRK40Comm::SetDevicePath(const QString& path) { return m_control && m_control->setDevicePath(path); }
void CRK40Comm::DestroyTerminal() { call(kDestroyTerminal, InvokeKind::Method); }
short CRK40Comm::GetStatus() { return shortResult(call(kGetStatus, InvokeKind::Method)); }

bool CRK40Comm::InitTerminal(short portNum)
{
    const auto r = call(kInitTerminal, InvokeKind::Method, {QVariant::fromValue<qint16>(portNum)});
    return r.ok() && r.value.toBool();
}

short CRK40Comm::ReadEEPR(short address)
{
    return shortResult(call(kReadEEPR, InvokeKind::Method, {QVariant::fromValue<qint16>(address)}));
}

short CRK40Comm::WriteEEPR(short address, qint32 contents)
{
    return shortResult(call(kWriteEEPR, InvokeKind::Method, {QVariant::fromValue<qint16>(address), contents}));
}

QString CRK40Comm::GetEepromLoc(short address) const { return word(address); }

void CRK40Comm::SetEepromLoc(short address, const QString& value) { trySetWord(address, value); }

QString CRK40Comm::wordFailureText(bool storing, int address, const QString& reason)
{
    return resources::loadString(storing ? kStoreFailedText : kReadFailedText).arg(QString::number(address), reason);
}

void CRK40Comm::imageCallFailed(bool storing, int address) const
{
    m_imageFailed = true;
    qCWarning(lcWrapper) << (storing ? "store" : "read") << "word" << address << "failed:" << m_error;
    // One report for a run of failures, and none while one is shown (a
    // box's event loop may repaint a page, which reads words again). Without
    // a control at all its creator has told the user already.
    if (!m_listener || !m_control || m_failureShown || m_reporting)
        return;
    m_failureShown = true;
    m_reporting = true;
    m_listener(wordFailureText(storing, address, m_error));
    m_reporting = false;
}

std::optional<QString> CRK40Comm::readWord(int address) const
{
    if (address < 0 || address > 255)
        return QString();
    const auto r = call(kEepromLoc, InvokeKind::PropertyGet, {QVariant::fromValue<qint16>(static_cast<short>(address))});
    if (!r.ok()) {
        m_imageFailed = true;
        return std::nullopt;
    }
    m_failureShown = false;
    return r.value.toString();
}

QString CRK40Comm::word(int address) const
{
    std::optional<QString> w = readWord(address);
    if (!w) {
        imageCallFailed(false, address);
        return {};
    }
    return *w;
}

void CRK40Comm::setWord(int address, const QString& text)
{
    trySetWord(address, text);
}

bool CRK40Comm::trySetWord(int address, const QString& text)
{
    if (address < 0 || address > 255)
        return false;
    const auto r = call(kEepromLoc, InvokeKind::PropertyPut,
                        {QVariant::fromValue<qint16>(static_cast<short>(address)), text});
    if (!r.ok()) {
        imageCallFailed(true, address);
        return false;
    }
    m_failureShown = false;
    return true;
}
