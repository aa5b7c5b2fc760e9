#include "shell/CConfiguratorApp.h"
#include "core/StringIds.h"

#include "core/AppPaths.h"
#include "core/CRK40Comm.h"
#include "core/Profile.h"
#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"
#include "platform/resources/TextFill.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcApp, "termset.app")

#ifdef Q_OS_WIN
#include <winsock2.h>
#endif

CConfiguratorApp::CConfiguratorApp()
{
    m_languages.setNameStore([](const QString& name) {
        Profile profile;
        return profile.setLanguage(name) ? QString() : profile.failureText();
    });
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
    CRK40Comm::setOwnModule(apppaths::controlModulePath());

    const bool languageLoaded = m_languageSearch && m_languageSearch(m_programFolder);
    QStringList found;
    for (const CLanguageList::Entry& entry : m_languages.entries())
        found << entry.languageName;
    qCInfo(lcApp).noquote() << "program folder" << m_programFolder << "with" << found.size()
                            << "language libraries:" << found.join(QStringLiteral(", "));
    if (m_languageSearch && !languageLoaded) {
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
            const QString module = QDir::toNativeSeparators(apppaths::controlModulePath());
            ui::prompter().message(nullptr, resources::formatString(strid::kNoControl, {sheet->controlError(), module}),
                                   ui::Look::Stop);
            code = 1;
        } else {
            qCInfo(lcApp) << "control created; the sheet opens";
            sheet->show();
            sheet->OnInitDialog();
            // A file named on the command line (a double-click on a .act
            // file) loads as File, Load would, after default.act.
            if (!m_startupFile.isEmpty())
                sheet->LoadFile(m_startupFile);
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
