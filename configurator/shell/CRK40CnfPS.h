#pragma once

// The main window: a tabbed sheet of the eight configuration pages, the menu
// (resource 149), the strip below the pages ("Last read:" and "Apply To
// Last") and one "Exit" button. Closing it never writes anything.

#include "core/LastTerminal.h"
#include "shell/NetworkCommands.h"
#include "shell/SheetServices.h"
#include "core/TransferLog.h"

#include <QDialog>

#include <functional>
#include <map>
#include <vector>

class CPortDlg;
class CProgressDlg;
class CPropertyPage;
class CRK40Comm;
class CRK40TKPropPage;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QTabWidget;

// The pages the sheet shows, made by a factory so that the sheet can be
// built with the real pages (defaultPages) or, in tests, with others.
struct SheetPages {
    std::vector<CPropertyPage*> pages;      // tab order; the sheet takes them over
    image::IRegisterImage* image = nullptr; // the register image the pages edit
    CRK40Comm* comm = nullptr;              // the control wrapper (transfers); may be null
    CRK40TKPropPage* reader1 = nullptr;     // the page hosting the control; may be null
    QString controlError;                   // why the control could not be created, if it could not
};
using PageFactory = std::function<SheetPages(QWidget* parent)>;

// The eight pages of the configurator, the Reader 1 page hosting the control.
PageFactory defaultPages();

class CRK40CnfPS : public QDialog, public ISheetServices {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CRK40CnfPS)
public:
    explicit CRK40CnfPS(const PageFactory& factory = defaultPages(), QWidget* parent = nullptr);
    ~CRK40CnfPS() override;

    // Whether the communication control exists; without it the sheet has no
    // register image to work on. controlError() says why.
    bool hasControl() const;
    QString controlError() const { return m_controlError; }

    // The start-up steps once the window exists: the "no password" notice,
    // the default configuration (or a cleared image), the password question
    // when one is set, the menu states and the Languages popup. Runs once.
    void OnInitDialog();

    // ISheetServices
    bool isUnlocked() const override { return m_unlocked; }
    LastTerminal& lastTerminal() override { return m_lastTerminal; }
    void setLastReadText(const QString& text) override;
    QString lastReadText() const override;
    void setRemoteTerminalText(const QString& text) override;
    void setApplyToLastEnabled(bool enabled) override;
    bool isApplyToLastEnabled() const override;
    void AppendTransferLog(int serialPort, const QString& address, int tcpPort) override;
    void RefreshActivePage() override;
    image::IRegisterImage& registerImage() override { return *m_image; }
    QWidget* sheetWindow() override { return this; }

    // Enables the write commands (and "Apply To Last" when the last-terminal
    // record is valid). Run when the sheet is unlocked.
    void EnableWriteCommands();

    // Commands of the menu.
    void OnEnterPassword();
    void OnChangePassword();
    void OnFileLoad();
    // File, Load without the dialog: loads the file into the image, reporting
    // a file that cannot be opened or holds an invalid line.
    void LoadFile(const QString& path) { loadImageFrom(path, true); }
    void OnFileSaveAs();
    void OnSaveAsDefault();
    void OnClear() { ClearImage(); }
    void OnRestoreDefaults();
    void OnAbout();
    void OnApplyToLast();

    // Serial commands: the terminal's status, reading the image from a
    // terminal and writing it into one. Each reports its outcome itself.
    void ShowStatus();
    void ReadConfiguration();
    void WriteConfiguration();

    // Loads "default.act" (the user's own when the program folder is shared
    // and the user has saved one, else the program folder's). Returns true when the
    // file could be opened, whatever its lines held (an invalid line is
    // reported), false otherwise (without a message).
    bool LoadDefaultFile();
    // Sets every word 10..39 to "0000" and refreshes the showing page.
    void ClearImage();

    // Runs a command by identifier, as the menu does.
    void runCommand(int commandId);

    // The menu action of a command (nullptr for an unknown identifier).
    QAction* action(int commandId) const;
    QMenuBar* menuBar() const;
    QPushButton* applyToLastButton() const { return m_applyButton; }
    QTabWidget* tabs() const { return m_tabs; }
    const std::vector<CPropertyPage*>& pages() const { return m_pages; }
    CRK40Comm* comm() const { return m_comm; }
    CRK40TKPropPage* reader1() const { return m_reader1; }
    QMenu* languagesMenu() const { return m_languagesMenu; }

    // The clock of the transfer log lines (tests fix it).
    void setLogClock(translog::Clock clock) { m_logClock = std::move(clock); }

    // What the network dialog of the Remote commands uses (tests shorten
    // its limits and choose its discovery).
    void setNetworkOptions(remote::NetworkOptions options) { m_networkOptions = std::move(options); }

    // Fills the Languages popup when the sheet is initialised.
    using LanguageMenuBuilder = std::function<void(QMenu* languages, CRK40CnfPS& sheet)>;
    void setLanguageMenuBuilder(LanguageMenuBuilder builder) { m_languageMenuBuilder = std::move(builder); }

signals:
    // A serial transfer has shown its progress window (tests follow it).
    void transferProgressShown(CProgressDlg* progress);

private:
    // A word failed every attempt: the port and the last terminal are
    // forgotten and Apply To Last is disabled.
    void forgetPort();
    void buildMenu();
    void buildStrip(QWidget* strip);
    QAction* addCommand(QMenu* menu, int commandId, bool enabled = true);
    void onTabChanged(int index);
    void notAvailable();
    bool loadImageFrom(const QString& path, bool reportOpenFailure);
    // The serial port box of the Reader 1 page and the hidden caption 107.
    void setPortText(const QString& text);
    // The serial write: with the port dialog, or to the last terminal's port.
    void writeSerial(bool toLastTerminal);

    std::vector<CPropertyPage*> m_pages;
    image::IRegisterImage* m_image = nullptr;
    CRK40Comm* m_comm = nullptr;
    CRK40TKPropPage* m_reader1 = nullptr;
    QString m_controlError;

    QTabWidget* m_tabs = nullptr;
    int m_activeIndex = 0;
    bool m_revertingTab = false;
    std::map<int, QAction*> m_actions;
    QMenu* m_configurationMenu = nullptr;
    QMenu* m_languagesMenu = nullptr;

    QPushButton* m_applyButton = nullptr;
    QFrame* m_frame = nullptr;
    QLabel* m_lastReadLabel = nullptr;
    QLabel* m_lastReadValue = nullptr;
    QLabel* m_comPortValue = nullptr;
    QLabel* m_remoteValue = nullptr;
    QPushButton* m_exitButton = nullptr;

    bool m_unlocked = false;
    bool m_initialised = false;
    LastTerminal m_lastTerminal;
    translog::Clock m_logClock = &QDateTime::currentDateTime;
    remote::NetworkOptions m_networkOptions;
    LanguageMenuBuilder m_languageMenuBuilder;
};
