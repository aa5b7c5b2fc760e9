#include "shell/TransferDialogs.h"
#include "core/StringIds.h"

#include "platform/serial/ComPorts.h"
#include "pages/DialogUnits.h"
#include "platform/resources/Resources.h"
#include "platform/serial/PortDiscovery.h"
#include "platform/serial/PortStatus.h"
#include "platform/ui/Prompt.h"
#include "core/SerialTransfer.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>

// --- CPortDlg ---

namespace {

constexpr int kCannotWrite = 61742;   // "%1 cannot be written."

// Where a COM name's device comes from, in the program's language.
QString mappingSource(int n, const QList<serial::DetectedPort>& detected)
{
    const QString source = serial::comMappingSource(n, detected);
    if (source == QLatin1String("environment"))
        return resources::loadString(strid::kFromEnvironment);
    if (source == QLatin1String("detected"))
        return resources::loadString(strid::kDetected);
    return source;   // "ports.ini", a file name
}

// What stands beside a COM name: the device node and what it is.
QString slotDescription(const QString& path, const QList<serial::DetectedPort>& detected)
{
    if (path.isEmpty())
        return QStringLiteral("-");
    const std::optional<serial::DetectedPort> port = serial::findDetected(detected, path);
    if (!port)
        return QDir::toNativeSeparators(path);
    return QStringLiteral("%1  %2").arg(QDir::toNativeSeparators(port->info.path), port->description());
}

} // namespace

CPortDlg::CPortDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(resources::dialogText(kDialogId, 0));
    const DialogUnits du(font());
    setFixedSize(du.size(330, 194));

    auto* ok = new QPushButton(resources::dialogText(kDialogId, 1), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(273, 7, 50, 14));
    auto* cancel = new QPushButton(resources::dialogText(kDialogId, 2), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(du.rect(273, 26, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // One row per COM name: the name, then its device and description.
    auto* group = new QButtonGroup(this);
    for (int i = 0; i < 10; ++i) {
        const int top = 8 + 12 * i;
        auto* radio = new QRadioButton(resources::dialogText(kDialogId, kFirstRadio + i), this);
        radio->setObjectName(QString::number(kFirstRadio + i));
        radio->setGeometry(du.rect(9, top, 38, 10));
        radio->resize(std::max(radio->width(), radio->sizeHint().width()), radio->height());
        group->addButton(radio, i);
        m_radios[static_cast<std::size_t>(i)] = radio;
        auto* text = new QLabel(this);
        text->setObjectName(QString::number(kFirstSlotText + i));
        text->setGeometry(du.rect(50, top, 216, 10));
        m_slotTexts[static_cast<std::size_t>(i)] = text;
        connect(radio, &QRadioButton::toggled, this, &CPortDlg::showDevice);
    }

    auto* label = new QLabel(resources::dialogText(kDialogId, 65535), this);
    label->setGeometry(du.rect(8, 132, 37, 8));
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    m_baud = new QComboBox(this);
    m_baud->setObjectName(QString::number(kBaudList));
    for (int rate : serialxfer::kBaudRates)
        m_baud->addItem(QString::number(rate));
    m_baud->setCurrentIndex(2);
    m_baud->setGeometry(du.rect(8, 142, 62, 14));

    m_device = new QLabel(this);
    m_device->setObjectName(QString::number(kDeviceText));
    m_device->setGeometry(du.rect(75, 142, 248, 14));
    m_device->setWordWrap(false);
    m_device->setTextFormat(Qt::PlainText);   // a device path from the environment

    auto* detectedLabel = new QLabel(resources::dialogText(kDialogId, kDetectedLabel), this);
    detectedLabel->setObjectName(QString::number(kDetectedLabel));
    detectedLabel->setGeometry(du.rect(8, 162, 80, 8));
    m_detected = new QComboBox(this);
    m_detected->setObjectName(QString::number(kDetectedList));
    m_detected->setGeometry(du.rect(8, 173, 200, 14));
    detectedLabel->setBuddy(m_detected);
    m_assign = new QPushButton(resources::dialogText(kDialogId, kAssign), this);
    m_assign->setObjectName(QString::number(kAssign));
    m_assign->setGeometry(du.rect(213, 173, 110, 14));
    connect(m_assign, &QPushButton::clicked, this, &CPortDlg::assignDetected);

    refreshSlots();
}

void CPortDlg::refreshSlots()
{
    const QList<serial::DetectedPort> detected = serial::detectPorts();
    const QString chosen = m_detected->currentData().toString();
    m_detected->clear();
    for (const serial::DetectedPort& port : detected)
        m_detected->addItem(QStringLiteral("%1  %2").arg(QDir::toNativeSeparators(port.info.path), port.description()),
                            port.stablePath());
    m_detected->setCurrentIndex(std::max(0, m_detected->findData(chosen)));
    m_assign->setEnabled(!detected.isEmpty());

    bool selected = portIndex() >= 0 && m_radios[static_cast<std::size_t>(portIndex())]->isEnabled();
    for (int i = 0; i < 10; ++i) {
        const int n = i + 1;
        QRadioButton* radio = m_radios[static_cast<std::size_t>(i)];
        QLabel* text = m_slotTexts[static_cast<std::size_t>(i)];
        const QString device = serial::comDevicePath(n, detected);
        const QString description = slotDescription(device, detected);
        text->setText(fontMetrics().elidedText(description, Qt::ElideMiddle, text->width()));
        // The probe opens nothing: another program's port keeps its settings.
        const serial::PortStatus state = serial::probePort(device);
        const QString tip = state.usable()
                                ? QStringLiteral("COM%1 = %2 (%3)")
                                      .arg(n)
                                      .arg(QDir::toNativeSeparators(device), mappingSource(n, detected))
                                : QStringLiteral("COM%1: %2").arg(n).arg(state.reason);
        radio->setToolTip(tip);
        text->setToolTip(state.usable() ? description : tip);
        radio->setEnabled(state.usable());
        text->setEnabled(state.usable());
        if (state.usable() && !selected) {
            radio->setChecked(true);
            selected = true;
        }
    }
    showDevice();
}

void CPortDlg::assignDetected()
{
    const int i = portIndex();
    const QString path = m_detected->currentData().toString();
    if (path.isEmpty())
        return;
    // No COM name chosen (all were grey): the first one takes the device.
    const int n = i >= 0 ? i + 1 : 1;
    if (!serial::assignComDevice(n, path)) {
        ui::prompter().message(this, resources::loadString(kCannotWrite).arg(QDir::toNativeSeparators(serial::portsFilePath())),
                               ui::Look::Stop);
        return;
    }
    refreshSlots();
    if (m_radios[static_cast<std::size_t>(n - 1)]->isEnabled())
        m_radios[static_cast<std::size_t>(n - 1)]->setChecked(true);
}

int CPortDlg::portIndex() const
{
    for (int i = 0; i < 10; ++i) {
        if (m_radios[static_cast<std::size_t>(i)]->isChecked())
            return i;
    }
    return -1;
}

int CPortDlg::baudIndex() const { return m_baud->currentIndex(); }

int CPortDlg::baud() const
{
    const int i = baudIndex();
    return i >= 0 && i < 3 ? serialxfer::kBaudRates[i] : 9600;
}

void CPortDlg::showDevice()
{
    const int i = portIndex();
    if (i < 0) {
        m_device->clear();
        return;
    }
    const QString path = QDir::toNativeSeparators(serial::comDevicePath(i + 1));
    m_device->setText(fontMetrics().elidedText(path, Qt::ElideLeft, m_device->width()));
    m_device->setToolTip(path);
}

// --- CProgressDlg ---

CProgressDlg::CProgressDlg(int captionStringId, QWidget* owner)
    // A window of its own rather than a child of the owner: disabling the
    // owner must not disable the Cancel button.
    : QDialog(nullptr), m_owner(owner)
{
    setObjectName(QString::number(kDialogId));
    setWindowTitle(resources::loadString(captionStringId));
    setAttribute(Qt::WA_DeleteOnClose, false);
    const DialogUnits du(font());
    setFixedSize(du.size(186, 79));

    m_activity = new QLabel(this);
    m_activity->setObjectName(QString::number(kActivity));
    m_activity->setGeometry(du.rect(13, 7, 158, 8));
    m_activity->resize(m_activity->width(), std::max(m_activity->height(), m_activity->sizeHint().height()));
    m_percent = new QLabel(resources::dialogText(kDialogId, kPercent), this);
    m_percent->setObjectName(QString::number(kPercent));
    m_percent->setGeometry(du.rect(80, 23, 28, 8));
    m_percent->resize(m_percent->width(), std::max(m_percent->height(), m_percent->sizeHint().height()));
    m_percent->setAlignment(Qt::AlignCenter);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QString::number(kBar));
    m_bar->setTextVisible(false);
    m_bar->setGeometry(du.rect(15, 34, 154, 13));
    m_cancel = new QPushButton(resources::dialogText(kDialogId, 2), this);
    m_cancel->setObjectName(QStringLiteral("2"));
    m_cancel->setGeometry(du.rect(67, 58, 50, 14));
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });

    m_bar->setRange(m_lower, m_upper);
    m_bar->setValue(m_pos);

    if (m_owner) {
        if (m_owner->isEnabled()) {
            m_owner->setEnabled(false);
            m_disabledOwner = true;
        }
        const QRect o = m_owner->frameGeometry();
        move(o.center() - rect().center());
    }
    show();
    if (m_owner && m_owner->windowHandle() && windowHandle())
        windowHandle()->setTransientParent(m_owner->windowHandle());
    QApplication::processEvents();
}

CProgressDlg::~CProgressDlg() { Close(); }

void CProgressDlg::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_disabledOwner && m_owner)
        m_owner->setEnabled(true);
    m_disabledOwner = false;
    hide();
}

void CProgressDlg::SetRange(int lower, int upper)
{
    m_lower = lower;
    m_upper = upper;
    m_bar->setRange(lower, upper);
    updatePercent();
}

void CProgressDlg::SetPos(int position)
{
    m_pos = position;
    m_bar->setValue(position);
    updatePercent();
}

void CProgressDlg::StepIt()
{
    QApplication::processEvents();
    m_pos = std::min(m_pos + m_step, m_upper);
    m_bar->setValue(m_pos);
    updatePercent();
    emit stepped(m_pos);
}

void CProgressDlg::SetStatus(const QString& activity) { m_activity->setText(activity); }

bool CProgressDlg::CheckCancelButton()
{
    QApplication::processEvents();
    const bool cancelled = m_cancelled;
    m_cancelled = false;
    return cancelled;
}

QString CProgressDlg::percentText() const { return m_percent->text(); }

void CProgressDlg::updatePercent()
{
    const int span = m_upper - m_lower;
    const int percent = span > 0 ? (m_pos - m_lower) * 100 / span : 0;
    const QString text = QStringLiteral("%1%").arg(percent);
    if (m_percent->text() != text)
        m_percent->setText(text);
}

void CProgressDlg::closeEvent(QCloseEvent* event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    m_cancelled = true;
    event->ignore();
}

void CProgressDlg::reject()
{
    if (!m_closed)
        m_cancelled = true;
}
