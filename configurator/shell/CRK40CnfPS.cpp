#include "shell/CRK40CnfPS.h"
#include "core/StringIds.h"
#include "shell/NetworkCommands.h"

#include "shell/AboutBox.h"
#include "core/ActFile.h"
#include "shell/AppIcon.h"
#include "core/AppPaths.h"
#include "shell/CommandIds.h"
#include "core/PasswordChecksum.h"
#include "shell/PasswordDialogs.h"
#include "core/Profile.h"
#include "pages/PropertyPage.h"
#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"
#include "platform/resources/TextFill.h"
#include "platform/ui/WaitCursor.h"

#include <QAction>
#include <QDir>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcSheet, "termset.sheet")

namespace {

QString str(int id) { return resources::loadString(id); }

const QString kFileFilter = QStringLiteral("RK-40 Config Files (*.act)");

} // namespace

CRK40CnfPS::CRK40CnfPS(const PageFactory& factory, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CRK40CnfPS"));
    setWindowTitle(str(strid::kAppTitle));
    setWindowIcon(appIcon());
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 7);
    layout->setSpacing(7);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    layout->addWidget(m_tabs, 1);

    SheetPages made = factory ? factory(this) : SheetPages{};
    m_pages = std::move(made.pages);
    m_image = made.image;
    m_comm = made.comm;
    m_reader1 = made.reader1;
    m_controlError = made.controlError;
    for (CPropertyPage* page : m_pages)
        m_tabs->addTab(page, page->title());
    m_tabs->setCurrentIndex(0);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CRK40CnfPS::onTabChanged);

    auto* strip = new QWidget(this);
    strip->setObjectName(QStringLiteral("strip"));
    buildStrip(strip);
    layout->addWidget(strip);

    buildMenu();
    layout->setMenuBar(menuBar());
}

CRK40CnfPS::~CRK40CnfPS() = default;

bool CRK40CnfPS::hasControl() const { return m_image != nullptr && m_controlError.isEmpty(); }

void CRK40CnfPS::buildStrip(QWidget* strip)
{
    // One row: the grey frame with "Last read:" and its value, "Apply To
    // Last" beside it, and the sheet's one button, "Exit", at the right.
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(3, 0, 0, 0);
    row->setSpacing(10);

    m_frame = new QFrame(strip);
    m_frame->setObjectName(QString::number(cmd::kFrame));
    m_frame->setFrameShape(QFrame::Box);
    m_frame->setFrameShadow(QFrame::Plain);
    const QPalette textPalette = m_frame->palette();
    QPalette framePalette = textPalette;
    framePalette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    m_frame->setPalette(framePalette);
    m_frame->setFixedSize(350, 23);

    QFont bold = font();
    bold.setBold(true);
    m_lastReadLabel = new QLabel(str(strid::kLastRead), m_frame);
    m_lastReadLabel->setObjectName(QString::number(cmd::kLastReadLabel));
    m_lastReadLabel->setFont(bold);
    m_lastReadLabel->setPalette(textPalette);
    m_lastReadLabel->setGeometry(4, 3, 108, 18);
    m_lastReadValue = new QLabel(str(strid::kLastReadNone), m_frame);
    m_lastReadValue->setObjectName(QString::number(cmd::kLastReadValue));
    m_lastReadValue->setFont(bold);
    m_lastReadValue->setPalette(textPalette);
    m_lastReadValue->setGeometry(114, 3, 232, 18);
    m_lastReadValue->setTextFormat(Qt::PlainText);   // may name a remote terminal
    row->addWidget(m_frame);

    m_applyButton = new QPushButton(str(strid::kApplyToLast), strip);
    m_applyButton->setObjectName(QString::number(cmd::kApplyToLast));
    m_applyButton->setFixedSize(140, 23);
    m_applyButton->setAutoDefault(false);
    m_applyButton->setEnabled(false);
    connect(m_applyButton, &QPushButton::clicked, this, [this] { runCommand(cmd::kApplyToLast); });
    row->addWidget(m_applyButton);
    row->addStretch(1);

    m_exitButton = new QPushButton(str(strid::kExit), strip);
    m_exitButton->setObjectName(QString::number(cmd::kExitButton));
    m_exitButton->setMinimumSize(75, 23);
    m_exitButton->setAutoDefault(false);
    connect(m_exitButton, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(m_exitButton);

    // The COM port and remote-terminal captions: kept up to date by the
    // transfers but never shown.
    auto hidden = [&](int id, const QString& text) {
        auto* label = new QLabel(text, strip);
        label->setObjectName(QString::number(id));
        label->hide();
        return label;
    };
    hidden(cmd::kComPortLabel, str(strid::kComPort));
    m_comPortValue = hidden(cmd::kComPortValue, str(strid::kNotSelected));
    hidden(cmd::kRemoteLabel, str(strid::kRemoteTerminal));
    m_remoteValue = hidden(cmd::kRemoteValue, str(strid::kRemoteNotSelected));
}

QAction* CRK40CnfPS::addCommand(QMenu* menu, int commandId, bool enabled)
{
    QAction* a = menu->addAction(resources::menuText(cmd::kMainMenu, commandId));
    a->setData(commandId);
    a->setObjectName(QString::number(commandId));
    a->setEnabled(enabled);
    connect(a, &QAction::triggered, this, [this, commandId] { runCommand(commandId); });
    m_actions[commandId] = a;
    return a;
}

void CRK40CnfPS::buildMenu()
{
    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("menu%1").arg(cmd::kMainMenu));
    auto popup = [&](QMenu* into, int key) {
        QMenu* m = into ? into->addMenu(resources::menuText(cmd::kMainMenu, key))
                        : bar->addMenu(resources::menuText(cmd::kMainMenu, key));
        m->setObjectName(QStringLiteral("popup%1").arg(key));
        return m;
    };

    QMenu* file = popup(nullptr, cmd::kPopupFile);
    addCommand(file, cmd::kEnterPassword, false);
    addCommand(file, cmd::kChangePassword);
    file->addSeparator();
    addCommand(file, cmd::kFileLoad);
    addCommand(file, cmd::kFileSaveAs);
    addCommand(file, cmd::kSaveAsDefault);
    file->addSeparator();
    addCommand(file, cmd::kExit);

    m_configurationMenu = popup(nullptr, cmd::kPopupConfiguration);
    QMenu* serial = popup(m_configurationMenu, cmd::kPopupSerial);
    addCommand(serial, cmd::kSerialStatus);
    addCommand(serial, cmd::kSerialRead);
    addCommand(serial, cmd::kSerialWrite, false);
    QMenu* remote = popup(m_configurationMenu, cmd::kPopupRemote);
    addCommand(remote, cmd::kRemoteStatus);
    addCommand(remote, cmd::kRemoteRead);
    addCommand(remote, cmd::kRemoteWrite, false);
    m_configurationMenu->addSeparator();
    addCommand(m_configurationMenu, cmd::kClear);
    addCommand(m_configurationMenu, cmd::kRestoreDefaults);
    m_configurationMenu->addSeparator();
    addCommand(m_configurationMenu, cmd::kApplyToLast);

    QMenu* help = popup(nullptr, cmd::kPopupHelp);
    addCommand(help, cmd::kAbout);
}

QMenuBar* CRK40CnfPS::menuBar() const { return findChild<QMenuBar*>(QStringLiteral("menu149")); }

QAction* CRK40CnfPS::action(int commandId) const
{
    const auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CRK40CnfPS::OnInitDialog()
{
    if (m_initialised)
        return;
    m_initialised = true;

    if (!m_pages.empty())
        m_pages[static_cast<std::size_t>(m_activeIndex)]->OnSetActive();

    if (!password::isSet(Profile().param1(0)))
        ui::prompter().message(this, str(strid::kNoPasswordSet), ui::Look::Information);

    if (!LoadDefaultFile())
        ClearImage();

    setApplyToLastEnabled(false);

    if (password::isSet(Profile().param1(0))) {
        OnEnterPassword();
        action(cmd::kEnterPassword)->setEnabled(!m_unlocked);
        action(cmd::kChangePassword)->setEnabled(m_unlocked);
    }

    m_languagesMenu = m_configurationMenu->addMenu(QStringLiteral("Languages"));
    m_languagesMenu->setObjectName(QStringLiteral("popupLanguages"));
    if (m_languageMenuBuilder)
        m_languageMenuBuilder(m_languagesMenu, *this);
}

void CRK40CnfPS::runCommand(int commandId)
{
    switch (commandId) {
    case cmd::kEnterPassword: OnEnterPassword(); break;
    case cmd::kChangePassword: OnChangePassword(); break;
    case cmd::kFileLoad: OnFileLoad(); break;
    case cmd::kFileSaveAs: OnFileSaveAs(); break;
    case cmd::kSaveAsDefault: OnSaveAsDefault(); break;
    case cmd::kExit: reject(); break;
    case cmd::kClear: OnClear(); break;
    case cmd::kRestoreDefaults: OnRestoreDefaults(); break;
    case cmd::kApplyToLast: OnApplyToLast(); break;
    case cmd::kAbout: OnAbout(); break;
    case cmd::kSerialStatus: ShowStatus(); break;
    case cmd::kSerialRead:
        ReadConfiguration();
        RefreshActivePage();
        break;
    case cmd::kSerialWrite: WriteConfiguration(); break;
    case cmd::kRemoteStatus:
    case cmd::kRemoteRead:
    case cmd::kRemoteWrite:
        if (!m_reader1)
            return notAvailable();
        remote::runNetworkCommand(commandId == cmd::kRemoteRead    ? remote::NetworkMode::Read
                                  : commandId == cmd::kRemoteWrite ? remote::NetworkMode::Write
                                                                   : remote::NetworkMode::Status,
                                  *this, *m_reader1, m_networkOptions);
        break;
    default:
        notAvailable();
        break;
    }
}

void CRK40CnfPS::notAvailable() { ui::prompter().message(this, str(strid::kNotAvailable)); }

void CRK40CnfPS::onTabChanged(int index)
{
    if (m_revertingTab || index < 0 || static_cast<std::size_t>(index) >= m_pages.size())
        return;
    if (index == m_activeIndex)
        return;
    // The page being left may refuse (an entry it cannot accept).
    CPropertyPage* leaving = m_pages[static_cast<std::size_t>(m_activeIndex)];
    if (!leaving->OnKillActive()) {
        m_revertingTab = true;
        m_tabs->setCurrentIndex(m_activeIndex);
        m_revertingTab = false;
        return;
    }
    m_activeIndex = index;
    m_pages[static_cast<std::size_t>(index)]->OnSetActive();
}

void CRK40CnfPS::RefreshActivePage()
{
    if (m_activeIndex >= 0 && static_cast<std::size_t>(m_activeIndex) < m_pages.size())
        m_pages[static_cast<std::size_t>(m_activeIndex)]->LoadFields();
}

void CRK40CnfPS::EnableWriteCommands()
{
    if (m_lastTerminal.valid)
        setApplyToLastEnabled(true);
    action(cmd::kSerialWrite)->setEnabled(true);
    action(cmd::kRemoteWrite)->setEnabled(true);
}

void CRK40CnfPS::setLastReadText(const QString& text) { m_lastReadValue->setText(text); }
QString CRK40CnfPS::lastReadText() const { return m_lastReadValue->text(); }
void CRK40CnfPS::setRemoteTerminalText(const QString& text) { m_remoteValue->setText(text); }

void CRK40CnfPS::setApplyToLastEnabled(bool enabled)
{
    m_applyButton->setEnabled(enabled);
    action(cmd::kApplyToLast)->setEnabled(enabled);
}

bool CRK40CnfPS::isApplyToLastEnabled() const { return m_applyButton->isEnabled(); }

void CRK40CnfPS::AppendTransferLog(int serialPort, const QString& address, int tcpPort)
{
    const translog::TransferLog log(apppaths::transferLogPath(), m_logClock);
    QString error;
    if (!log.append(serialPort, address, tcpPort, &error)) {
        qCWarning(lcSheet) << "transfer log" << log.path() << ":" << error;
        ui::prompter().message(this, resources::formatString(strid::kLogFailed, {QDir::toNativeSeparators(log.path()), error}), ui::Look::Stop);
    }
}

// --- Password ---

void CRK40CnfPS::OnEnterPassword()
{
    // One dialog object for every attempt: after a wrong password it opens
    // again with the text typed before.
    CPasswordDlg dlg(this);
    for (;;) {
        if (ui::prompter().exec(dlg) != QDialog::Accepted) {
            ui::prompter().message(this, str(strid::kPasswordNotEntered));
            return;
        }
        if (password::unlocks(dlg.password(), Profile().param1(0)))
            break;
        ui::prompter().message(this, str(strid::kWrongPassword), ui::Look::Stop);
    }
    EnableWriteCommands();
    action(cmd::kEnterPassword)->setEnabled(false);
    action(cmd::kChangePassword)->setEnabled(true);
    m_unlocked = true;
}

void CRK40CnfPS::OnChangePassword()
{
    CNewPasswordDlg dlg(this);
    if (ui::prompter().exec(dlg) != QDialog::Accepted)
        return;
    // The dialog's OK accepts only a confirmed password that can be stored.
    if (!CNewPasswordDlg::isAcceptable(dlg.newPassword(), dlg.confirmation()))
        return;
    // A password that was not stored would be gone at the next start.
    Profile profile;
    if (!profile.setParam1(password::checksumOf(dlg.newPassword()))) {
        ui::prompter().message(this, profile.failureText(), ui::Look::Stop);
        return;
    }
    EnableWriteCommands();
    m_unlocked = true;
}

// --- Files ---

bool CRK40CnfPS::loadImageFrom(const QString& path, bool reportOpenFailure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (reportOpenFailure)
            ui::prompter().message(this, resources::formatString(strid::kCannotOpen, {QDir::toNativeSeparators(path)}), ui::Look::Stop);
        return false;
    }
    const act::LoadResult result = act::loadImage(file, *m_image);
    file.close();
    if (!result.ok) {
        qCInfo(lcSheet) << path << "line" << result.invalidLine << ":" << result.reason;
        ui::prompter().message(this, str(strid::kInvalidData));
    }
    RefreshActivePage();
    return true;
}

bool CRK40CnfPS::LoadDefaultFile() { return loadImageFrom(apppaths::defaultConfigReadPath(), false); }

void CRK40CnfPS::ClearImage()
{
    for (int a = image::kFirstWord; a <= image::kLastWord; ++a)
        m_image->setWord(a, QStringLiteral("0000"));
    RefreshActivePage();
}

void CRK40CnfPS::OnFileLoad()
{
    QFileDialog dlg(this, QString(), QString(), kFileFilter);
    dlg.setObjectName(QStringLiteral("fileOpen"));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setDefaultSuffix(QStringLiteral("act"));
    if (ui::prompter().exec(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    loadImageFrom(dlg.selectedFiles().constFirst(), true);
}

void CRK40CnfPS::OnFileSaveAs()
{
    QFileDialog dlg(this, QString(), QString(), kFileFilter);
    dlg.setObjectName(QStringLiteral("fileSave"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setDefaultSuffix(QStringLiteral("act"));
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.selectFile(QStringLiteral("config"));
    if (ui::prompter().exec(dlg) != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return;
    const QString path = dlg.selectedFiles().constFirst();
    QString error;
    bool saved = false;
    {
        ui::WaitCursor wait;
        saved = act::saveImageFile(path, *m_image, &error);
    }
    if (!saved) {
        qCWarning(lcSheet) << "save" << path << ":" << error;
        ui::prompter().message(this, resources::formatString(strid::kCannotWrite, {QDir::toNativeSeparators(path)}), ui::Look::Stop);
    }
}

void CRK40CnfPS::OnSaveAsDefault()
{
    const QString path = apppaths::defaultConfigPath();
    // The user's own folder may not exist yet.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString error;
    if (!act::saveImageFile(path, *m_image, &error)) {
        qCWarning(lcSheet) << "save default" << path << ":" << error;
        ui::prompter().message(this, str(strid::kDefaultNotWritten), ui::Look::Stop);
        return;
    }
    ui::prompter().message(this, str(strid::kDefaultWritten), ui::Look::Information);
}

void CRK40CnfPS::OnRestoreDefaults()
{
    if (!LoadDefaultFile())
        ClearImage();
}

// --- Help ---

void CRK40CnfPS::OnAbout()
{
    CAboutBox box(this);
    ui::prompter().exec(box);
}
