// The main sheet's serial commands and Apply To Last: the port and progress
// dialogs around the windowless transfers, whose outcomes TransferMessages
// presents.

#include "shell/CRK40CnfPS.h"

#include "core/AppPaths.h"
#include "core/ApplyToLast.h"
#include "shell/TransferMessages.h"
#include "core/CRK40Comm.h"
#include "pages/CRK40TKPropPage.h"
#include "core/Profile.h"
#include "core/StringIds.h"
#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"
#include "core/SerialTransfer.h"
#include "platform/resources/TextFill.h"
#include "shell/TransferDialogs.h"
#include "platform/ui/WaitCursor.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QScopeGuard>
#include <QThread>

#include <functional>

namespace {

QString str(int id) { return resources::loadString(id); }

QString comText(int comNumber) { return QStringLiteral("COM%1").arg(comNumber); }

// The progress window drives the transfer: its Cancel (confirmed by a
// question) stops it, every word steps the bar, and the pauses keep the
// window painting.
class ProgressObserver : public serialxfer::ITransferObserver {
public:
    ProgressObserver(CProgressDlg& progress, int cancelQuestion, std::function<void(int)> opened)
        : m_progress(progress), m_question(cancelQuestion), m_opened(std::move(opened))
    {
    }
    void portOpened(int comNumber) override
    {
        if (m_opened)
            m_opened(comNumber);
    }
    bool stopRequested() override
    {
        if (!m_progress.CheckCancelButton())
            return false;
        return ui::prompter().askYesNo(&m_progress, str(m_question));
    }
    void wordDone(int) override { m_progress.StepIt(); }
    void pause(std::chrono::milliseconds duration) override
    {
        const QDeadlineTimer deadline(duration);
        while (!deadline.hasExpired()) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            const qint64 left = deadline.remainingTime();
            if (left > 0)
                QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, 5)));
        }
    }

private:
    CProgressDlg& m_progress;
    int m_question;
    std::function<void(int)> m_opened;
};

} // namespace

void CRK40CnfPS::setPortText(const QString& text)
{
    m_comPortValue->setText(text);
    if (m_reader1)
        m_reader1->setPortText(text);
}

void CRK40CnfPS::ShowStatus()
{
    if (!m_comm)
        return notAvailable();
    CPortDlg dlg(this);
    if (ui::prompter().exec(dlg) != QDialog::Accepted)
        return;
    const serialxfer::PortChoice port{dlg.portIndex(), dlg.baud()};
    serialxfer::SerialTransfer transfer(*m_comm, m_lastTerminal, nullptr);
    serialxfer::StatusOutcome out;
    {
        ui::WaitCursor wait;
        out = transfer.status(port);
    }
    const bool opened = out.status != serialxfer::StatusOutcome::PortFailed;
    setPortText(opened ? comText(out.comNumber) : str(strid::kNotSelected));
    transfermsg::showSerialStatus(out, this);
    if (out.status == serialxfer::StatusOutcome::Busy)
        setPortText(str(strid::kNotSelected));
}

void CRK40CnfPS::ReadConfiguration()
{
    if (!m_comm)
        return notAvailable();
    CProgressDlg progress(strid::kReadingTitle, this);
    progress.SetStatus(str(strid::kReadingActivity));
    progress.SetRange(0, image::kWordCount);
    progress.SetPos(0);
    emit transferProgressShown(&progress);

    CPortDlg dlg(&progress);
    if (ui::prompter().exec(dlg) != QDialog::Accepted)
        return;
    const serialxfer::PortChoice port{dlg.portIndex(), dlg.baud()};

    ProgressObserver observer(progress, strid::kCancelReading, [this](int com) {
        setPortText(comText(com));
        setLastReadText(comText(com));
        if (m_unlocked)
            setApplyToLastEnabled(true);
    });
    serialxfer::SerialTransfer transfer(*m_comm, m_lastTerminal, nullptr);
    const serialxfer::Outcome out = transfer.read(port, observer);
    progress.Close();

    switch (out.status) {
    case serialxfer::Outcome::PortFailed:
        forgetPort();
        break;
    case serialxfer::Outcome::Done:
        if (m_reader1)
            m_reader1->LoadFields();
        break;
    case serialxfer::Outcome::WordFailed:
    case serialxfer::Outcome::Cancelled:
        break;
    }
    transfermsg::showSerialOutcome(out, {}, this);
    if (out.status == serialxfer::Outcome::WordFailed)
        forgetPort();
}

void CRK40CnfPS::forgetPort()
{
    setPortText(str(strid::kNotSelected));
    setLastReadText(str(strid::kNotSelected));
    setApplyToLastEnabled(false);
}

void CRK40CnfPS::WriteConfiguration() { writeSerial(false); }

void CRK40CnfPS::writeSerial(bool toLastTerminal)
{
    if (!m_comm)
        return notAvailable();
    const bool reuse = toLastTerminal;
    CProgressDlg progress(strid::kWritingTitle, this);
    progress.SetStatus(str(strid::kWritingActivity));
    progress.SetRange(0, image::kWordCount);
    progress.SetPos(0);
    emit transferProgressShown(&progress);

    std::optional<serialxfer::PortChoice> port;
    if (!reuse) {
        CPortDlg dlg(&progress);
        if (ui::prompter().exec(dlg) != QDialog::Accepted)
            return;
        port = serialxfer::PortChoice{dlg.portIndex(), dlg.baud()};
    }

    ProgressObserver observer(progress, strid::kCancelWriting, [this, reuse](int com) {
        if (!reuse)
            setPortText(comText(com));
    });
    const translog::TransferLog log(apppaths::transferLogPath(), m_logClock);
    serialxfer::Outcome out;
    if (reuse) {
        // The port of the record, opened here; one that does not open makes
        // the first word fail, which is reported below.
        const bool opened = serialxfer::SerialTransfer(*m_comm, m_lastTerminal, nullptr).openRecordPort();
        lastterminal::SerialPath path{*m_comm, opened, observer};
        remotexfer::RemoteTransfer unused;
        out = lastterminal::applyToLast(m_lastTerminal, &log, &path, unused, *m_image).serial;
    } else {
        out = serialxfer::SerialTransfer(*m_comm, m_lastTerminal, &log).write(port, observer);
    }
    progress.Close();

    if (out.status == serialxfer::Outcome::PortFailed)
        setPortText(str(strid::kNotSelected));
    transfermsg::showSerialOutcome(out, log.path(), this);
    if (out.status == serialxfer::Outcome::WordFailed && !out.imageRefused)
        forgetPort();   // nothing was sent when the control refused a word
}

void CRK40CnfPS::OnApplyToLast()
{
    if (!m_lastTerminal.valid) {
        ui::prompter().message(this, str(strid::kNoTerminal));
        return;
    }
    // From the click until the write ends the command is off, so that a
    // second click (a double-click) sends nothing more; afterwards it
    // follows the record, which a failed serial word clears.
    setApplyToLastEnabled(false);
    const auto restore = qScopeGuard([this] { setApplyToLastEnabled(m_unlocked && m_lastTerminal.valid); });
    if (!m_lastTerminal.remote) {
        if (!m_comm || !m_reader1)
            return notAvailable();
        // The write skips its port dialog and uses the record's port.
        writeSerial(true);
        return;
    }
    const translog::TransferLog log(apppaths::transferLogPath(), m_logClock);
    remotexfer::RemoteTransfer remote(Profile().remoteLimits(), remote::progressRunner(this));
    lastterminal::ApplyOutcome out;
    {
        ui::WaitCursor wait;
        out = lastterminal::applyToLast(m_lastTerminal, &log, nullptr, remote, *m_image);
    }
    remote::showRemoteApplyOutcome(out, log.path(), this);
}
