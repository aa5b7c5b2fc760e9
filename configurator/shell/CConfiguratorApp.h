#pragma once

// The application object: start-up (profile, program folder, languages,
// sockets), the main sheet run modally as the only window, and shutdown.

#include <QMenu>  // CLanguageList keeps a QPointer<QMenu>

#include "shell/CLanguageList.h"
#include "shell/CRK40CnfPS.h"

#include <QString>

#include <functional>

class CConfiguratorApp {
public:
    CConfiguratorApp();
    ~CConfiguratorApp();
    CConfiguratorApp(const CConfiguratorApp&) = delete;
    CConfiguratorApp& operator=(const CConfiguratorApp&) = delete;

    // Runs the program: start-up, the modal sheet, shutdown. Returns the
    // process exit code (non-zero when the sheet could not be run).
    int Run();

    // The start-up steps up to the sheet: profile, program folder, language
    // search, sockets. Run() calls it first.
    void InitInstance();
    // Makes the main sheet (not yet initialised or shown).
    std::unique_ptr<CRK40CnfPS> CreateSheet();
    // Clean-up after the sheet: sockets.
    void ExitInstance();

    QString programFolder() const { return m_programFolder; }

    // A configuration file to load once the sheet is up (the program's
    // argument), or empty.
    void setStartupFile(const QString& path) { m_startupFile = path; }

    // The language libraries found at start-up and the one in use; freed
    // with the application object.
    CLanguageList& languageList() { return m_languages; }

    // The language search of the start-up: given the program folder, finds
    // the language libraries, loads the chosen one and returns whether one
    // was loaded (by default: the language list's search for the profile's
    // language). Without a search the program runs with its own texts and
    // says nothing.
    using LanguageSearch = std::function<bool(const QString& programFolder)>;
    void setLanguageSearch(LanguageSearch search) { m_languageSearch = std::move(search); }
    // Fills the Languages popup of the sheet.
    void setLanguageMenuBuilder(CRK40CnfPS::LanguageMenuBuilder builder) { m_languageMenu = std::move(builder); }
    // The pages of the sheet (tests).
    void setPageFactory(PageFactory factory) { m_pageFactory = std::move(factory); }

private:
    bool startSockets();
    void cleanupSockets();

    CLanguageList m_languages;  // first member: outlives everything else
    QString m_programFolder;
    QString m_startupFile;
    bool m_socketsStarted = false;
    bool m_initialised = false;
    LanguageSearch m_languageSearch;
    CRK40CnfPS::LanguageMenuBuilder m_languageMenu;
    PageFactory m_pageFactory = defaultPages();
};
