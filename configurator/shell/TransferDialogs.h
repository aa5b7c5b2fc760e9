#pragma once

// The dialogs of a serial transfer: choosing the port and the speed
// (dialog 139), and the modeless progress window with its Cancel button
// (dialog 103).

#include <QDialog>

#include <array>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

class CPortDlg : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPortDlg)
public:
    static constexpr int kDialogId = 139;
    static constexpr int kFirstRadio = 1023;  // COM1 .. COM10: 1023 .. 1032
    static constexpr int kBaudList = 1127;
    static constexpr int kDeviceText = 1128;  // which device the chosen COM name is
    static constexpr int kDetectedLabel = 1129;
    static constexpr int kAssign = 1130;       // assigns the detected device to the chosen COM
    static constexpr int kDetectedList = 1131;
    static constexpr int kFirstSlotText = 1133; // COM1 .. COM10: the device beside each, 1133 .. 1142

    // Looks at COM1..COM10 without opening anything: a port that cannot be
    // used right now (no device, missing, no permission, held by another
    // program) is disabled with the reason as its tool tip; the first usable
    // one is selected. Beside each COM name stands its device and what the
    // system says it is. 9600 baud is proposed.
    explicit CPortDlg(QWidget* parent = nullptr);

    // 0..9, or -1 when no port could be selected.
    int portIndex() const;
    // 0, 1, 2 for 2400, 4800, 9600 baud.
    int baudIndex() const;
    int baud() const;
    QRadioButton* radio(int portIndex) const { return m_radios.at(static_cast<std::size_t>(portIndex)); }
    QComboBox* baudList() const { return m_baud; }
    QLabel* slotText(int portIndex) const { return m_slotTexts.at(static_cast<std::size_t>(portIndex)); }
    // The detected devices (item data: the path to store) and the button
    // that assigns the chosen one to the chosen COM name (saved in ports.ini).
    QComboBox* detectedList() const { return m_detected; }
    QPushButton* assignButton() const { return m_assign; }

private:
    void showDevice();
    // Describes and probes every COM name again.
    void refreshSlots();
    void assignDetected();

    std::array<QRadioButton*, 10> m_radios{};
    std::array<QLabel*, 10> m_slotTexts{};
    QComboBox* m_detected = nullptr;
    QPushButton* m_assign = nullptr;
    QComboBox* m_baud = nullptr;
    QLabel* m_device = nullptr;
};

class CProgressDlg : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CProgressDlg)
public:
    static constexpr int kDialogId = 103;
    static constexpr int kActivity = 1005;
    static constexpr int kPercent = 1004;
    static constexpr int kBar = 1003;

    // Shows the window over owner, disabling the owner while the window
    // exists (when it was enabled). caption: the string table entry.
    CProgressDlg(int captionStringId, QWidget* owner);
    // Closes the window and enables the owner again if it disabled it.
    ~CProgressDlg() override;

    void SetRange(int lower, int upper);
    void SetPos(int position);
    void SetStep(int step) { m_step = step; }
    // Processes pending events, advances the bar by the step and shows the
    // done part in percent ("3%" ... "100%").
    void StepIt();
    void SetStatus(const QString& activity);
    // Processes pending events, then returns whether Cancel was pressed
    // since the last check (and forgets it).
    bool CheckCancelButton();
    void Close();

    int position() const { return m_pos; }
    QString percentText() const;
    QPushButton* cancelButton() const { return m_cancel; }

signals:
    // After every step, with the new position.
    void stepped(int position);

protected:
    // The close box, Escape and Cancel only ask the transfer to stop.
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void updatePercent();

    QWidget* m_owner = nullptr;
    bool m_disabledOwner = false;
    bool m_cancelled = false;
    bool m_closed = false;
    int m_lower = 0, m_upper = 100, m_step = 1, m_pos = 0;
    QLabel* m_activity = nullptr;
    QLabel* m_percent = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_cancel = nullptr;
};
