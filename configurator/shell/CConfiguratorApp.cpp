#include "CConfiguratorApp.h"

#include "AppPaths.h"
#include "Profile.h"
#include "Prompt.h"
#include "Resources.h"
#include "TextFormat.h"

#include <QApplication>
#include <QDir>

#ifdef Q_OS_WIN
#include <winsock2.h>
#endif

CConfiguratorApp::CConfiguratorApp()
{
    m_languages.setNameStore([](const QString& name) { Profile().setLanguage(name); });
    m_languageSearch = [this](const QString& programFolder) {
        return m_languages.Search(programFolder, Profile().language());
    };
    m_languageMenu = [this](QMenu* languages, CRK40CnfPS& sheet) { m_languages.FillMenu(languages, &sheet); };
}

CConfiguratorApp::~CConfiguratorApp()
{
    if (m_socketsStarted)
        cleanupSockets();
}

void CConfiguratorApp::InitInstance()
{
    if (m_initialised)
        return;
    m_initialised = true;

    // The profile lives under the company key.
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrona"));
    QCoreApplication::setApplicationName(QStringLiteral("Termset"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Termset"));

    m_programFolder = apppaths::programFolder();

    if (m_languageSearch && !m_languageSearch(m_programFolder)) {
        ui::prompter().message(nullptr,
                               QStringLiteral("No languages found, or no default language library found.\nUsing English."));
    }

    if (!startSockets())
        ui::prompter().message(nullptr, QStringLiteral("ERROR !\nWindows Sockets support startup"));
}

std::unique_ptr<CRK40CnfPS> CConfiguratorApp::CreateSheet()
{
    auto sheet = std::make_unique<CRK40CnfPS>(m_pageFactory);
    if (m_languageMenu)
        sheet->setLanguageMenuBuilder(m_languageMenu);
    if (m_networkDialog)
        sheet->setNetworkDialogRunner(m_networkDialog);
    return sheet;
}

int CConfiguratorApp::Run()
{
    InitInstance();
    int code = 0;
    {
        auto sheet = CreateSheet();
        if (!sheet->hasControl()) {
            // Without the control there is no register image to edit.
            const QString module = QDir::toNativeSeparators(m_programFolder + QStringLiteral("libRK40COMM.so"));
            ui::prompter().message(nullptr, fillText(resources::loadString(191), {sheet->controlError(), module}),
                                   ui::Look::Stop);
            code = 1;
        } else {
            sheet->show();
            sheet->OnInitDialog();
            sheet->exec();
        }
        // The sheet and its pages go here; the Reader 1 page closes the port.
    }
    ExitInstance();
    return code;
}

void CConfiguratorApp::ExitInstance()
{
    if (m_socketsStarted)
        cleanupSockets();
}

bool CConfiguratorApp::startSockets()
{
#ifdef Q_OS_WIN
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    m_socketsStarted = true;
#endif
    // POSIX sockets need no start-up.
    return true;
}

void CConfiguratorApp::cleanupSockets()
{
#ifdef Q_OS_WIN
    WSACleanup();
#endif
    m_socketsStarted = false;
}
