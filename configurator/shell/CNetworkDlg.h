#pragma once

// The network dialog (dialog 145): the operator picks a gateway computer,
// its TCP port and the gateway serial port the terminal hangs on, and runs
// one remote action on it: read the configuration, write it, or show the
// terminal's status. The dialog stays open after an action; "Close" ends it.

#include "remote/ComputerDiscovery.h"
#include "shell/NetworkActions.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace remote {

class DropDownList;

class CNetworkDlg : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CNetworkDlg)
public:
    static constexpr int kDialogId = 145;
    static constexpr int kComputerList = 1228;  // editable: names from the discovery, or a typed address
    static constexpr int kSerialList = 1229;    // the gateway's serial ports as "%02d"
    static constexpr int kActionButton = 1230;  // "Read", "Write" or "Status"
    static constexpr int kPortEdit = 1231;      // the gateway's TCP port
    static constexpr int kCloseButton = 2;
    // The captions above the controls.
    static constexpr int kComputerLabel = 65535;
    static constexpr int kPortLabel = 65534;
    static constexpr int kSerialLabel = 65533;

    // Offers the remote selection of the page (when one was made) and the
    // TCP port stored in the profile (15027 when none is).
    CNetworkDlg(NetworkMode mode, ISheetServices& sheet, CRK40TKPropPage& page, QWidget* parent = nullptr);
    ~CNetworkDlg() override;

    NetworkMode mode() const { return m_mode; }
    NetworkActions& actions() { return m_actions; }
    // Where the computer list looks for gateway candidates.
    void setDiscoverySources(const DiscoverySources& sources) { m_sources = sources; }
    // Time limits of the serial port list request (the actions have their own).
    void setLimits(const Limits& limits);

    QComboBox* computerList() const;
    QComboBox* serialList() const;
    QLineEdit* portEdit() const { return m_portEdit; }
    QPushButton* actionButton() const { return m_action; }

    // What opening each list does: rebuilds it (from the discovery, or from
    // the gateway named by the controls).
    void fillComputerList();
    void fillSerialList();
    // The action button: checks the controls, remembers the selection and
    // runs the mode's action.
    void OnAction();

private:
    // Takes the computer text and the TCP port from the controls. A port
    // edit that is not a number from 1024 to 65535 is reported and gives
    // false.
    bool readControls();
    // The address the requests go to: the chosen entry's address, else the
    // typed dotted address, else the address a typed computer name has now
    // (the system's resolver, off the interface thread), else empty
    // (address 0). False when the controls were refused or the name cannot
    // be found (said so).
    bool addressText(QString* text, quint32* address);
    void addComputer(const QString& name, quint32 address);

    NetworkMode m_mode;
    NetworkActions m_actions;
    DiscoverySources m_sources;
    Limits m_limits;
    QString m_computerText;
    quint16 m_tcpPort = kDefaultGatewayPort;
    DropDownList* m_computers = nullptr;
    DropDownList* m_serialPorts = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QPushButton* m_action = nullptr;
};

} // namespace remote
