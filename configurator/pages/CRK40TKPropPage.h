#pragma once

// The four reader pages. Each shows the rows T, TA, TB and TC of its reader.
// The Reader 1 page also hosts the communication control, whose EepromLoc
// property is the register image every page edits, and keeps the state of
// the transfers (serial port text, reuse-port flag, remote selection).

#include "core/CRK40Comm.h"
#include "core/RemoteSelection.h"
#include "pages/RowPage.h"

#include <QPointer>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;

// One reader's page; readers 2 to 4 are this page with their own template,
// identifiers and words.
class CReaderPage : public CRowPage {
    Q_OBJECT
public:
    int reader() const { return m_reader; }

    // Dialog template of each reader's page.
    static int dialogIdOf(int reader);

protected:
    // reader: 1..4.
    CReaderPage(int reader, CRK40TKPropPage* reader1, QWidget* parent);

private:
    int m_reader;
};

class CRK40TKPropPage : public CReaderPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 206;
    static constexpr int kControlId = 1000;
    static constexpr int kPortBoxId = 1124;
    static constexpr int kRemoteTextId = 1232;

    // The remote terminal chosen last in the network dialog.
    using RemoteSelection = ::RemoteSelection;

    using ControlFactory = std::function<std::unique_ptr<component::IDispatchControl>()>;

    // Creates the communication control through the component registry (or
    // through the factory set with setControlFactory), switches its on-line
    // mode off and clears words 10..37 to "0000".
    explicit CRK40TKPropPage(QWidget* parent = nullptr);
    // The same with a control made by the caller.
    explicit CRK40TKPropPage(std::unique_ptr<component::IDispatchControl> control, QWidget* parent = nullptr);
    // Closes the port (DestroyTerminal) before the control goes.
    ~CRK40TKPropPage() override;

    // Makes the default constructor take its control from `factory` instead
    // of the registry (an empty function restores the registry).
    static void setControlFactory(ControlFactory factory);

    CRK40Comm& comm() { return m_comm; }
    const CRK40Comm& comm() const { return m_comm; }
    // Why the control could not be made; empty when it was. The page does
    // not report it: whoever shows the pages decides what to do without it.
    QString controlError() const { return m_controlError; }

    RemoteSelection& remoteSelection() { return m_remote; }
    const RemoteSelection& remoteSelection() const { return m_remote; }

    // The serial port box (never shown): "COM3" or "Not selected.".
    QString portText() const { return m_portText; }
    void setPortText(const QString& text);
    // The remote terminal text (control 1232, in the hidden transfer area).
    QString remoteText() const;
    void setRemoteText(const QString& text);

private:
    struct MadeControl {
        std::unique_ptr<component::IDispatchControl> control;
        QString error;
    };
    static MadeControl makeControl();
    CRK40TKPropPage(MadeControl made, QWidget* parent);
    void buildTransferArea();

    CRK40Comm m_comm;
    QString m_controlError;
    RemoteSelection m_remote;
    QString m_portText;
    QPointer<QWidget> m_face;
    QLineEdit* m_portBox = nullptr;
    QLabel* m_remoteLabel = nullptr;
};

class CTK2PropPage : public CReaderPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 209;
    explicit CTK2PropPage(CRK40TKPropPage& reader1, QWidget* parent = nullptr);
};

class CTK3PropPage : public CReaderPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 210;
    explicit CTK3PropPage(CRK40TKPropPage& reader1, QWidget* parent = nullptr);
};

class CTK4PropPage : public CReaderPage {
    Q_OBJECT
public:
    static constexpr int kDialogId = 211;
    explicit CTK4PropPage(CRK40TKPropPage& reader1, QWidget* parent = nullptr);
};
