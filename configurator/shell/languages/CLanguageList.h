#pragma once

// The language libraries beside the program: the start-up search that finds
// them and loads the one the profile names, and the "Languages" popup of the
// Configuration menu that lists them and chooses the language of the next
// start.

#include "LanguageLibrary.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QWidget;

class CLanguageList {
public:
    static constexpr int kCapacity = 100;       // entries the table holds
    static constexpr int kIdBase = 37375;       // entry i has command kIdBase + 1 + i
    static constexpr int kFirstCommand = 37376;
    static constexpr int kLastCommand = 37632;  // end of the command range of the sheet
    static constexpr int kChosenString = 175;   // "... restart application."

    struct Entry {
        QString fileName;      // as the folder search gave it, without the folder
        QString languageName;  // as the library names its language
    };

    CLanguageList() = default;
    // Takes the loaded library out of use and frees it.
    ~CLanguageList();
    CLanguageList(const CLanguageList&) = delete;
    CLanguageList& operator=(const CLanguageList&) = delete;

    // The start-up search. `currentName` is the profile value "Language".
    // Looks at every shared library of `programFolder` in name order (at
    // most kCapacity language libraries are kept; files that are no language
    // library are passed over silently), selects the last one whose name
    // equals `currentName` exactly, loads it for the run and makes it the
    // source of the program's texts. Returns true when a library was loaded;
    // false leaves the program's own texts in use (the caller says so).
    // Runs once; later calls return the first result.
    bool Search(const QString& programFolder, const QString& currentName);

    // Where a choice is kept for the next start (the profile value
    // "Language"): returns empty text when the name was stored, otherwise
    // why not (shown with the stop icon; the choice is then not made).
    // Without one a choice only changes the current name.
    using NameStore = std::function<QString(const QString& name)>;
    void setNameStore(NameStore store) { m_store = std::move(store); }

    // Destroys the previous Languages popup, makes a new one with an item for
    // every entry (command kIdBase + 1 + i, the language name as text) and
    // appends it, with the text "Languages", as the last item of `parent`.
    // Messages of a choice are shown over `owner`. Returns the popup.
    QMenu* AppendMenu(QMenu* parent, QWidget* owner);
    // The same for a popup made by the caller: removes its items and fills it.
    void FillMenu(QMenu* languages, QWidget* owner);

    // Chooses entry `index`: writes its name to the store, makes it the
    // current name and shows string 175 with the information icon. The texts
    // in use do not change before the next start. Out-of-range: nothing.
    void Choose(int index, QWidget* owner);
    // Runs a command of the range kFirstCommand..kLastCommand; false (and
    // nothing done) for any other command or an entry that does not exist.
    bool OnCommand(int commandId, QWidget* owner);

    // Whether the item of a command carries a check mark: its language name
    // equals the current name.
    bool IsChecked(int commandId) const;

    const std::vector<Entry>& entries() const { return m_entries; }
    int count() const { return static_cast<int>(m_entries.size()); }
    QString currentLanguage() const { return m_current; }
    // The entry whose library is loaded, or -1.
    int loadedIndex() const { return m_loadedIndex; }
    bool isLoaded() const { return m_loaded != nullptr; }
    // The Languages popup, or nullptr before it is made or once it is gone.
    QMenu* popup() const;
    QAction* action(int commandId) const;

private:
    void updateCheckMarks();

    bool m_searched = false;
    bool m_searchResult = false;
    QString m_current;
    std::vector<Entry> m_entries;
    int m_loadedIndex = -1;
    std::shared_ptr<resources::LibraryLanguage> m_loaded;
    QPointer<QMenu> m_popup;
    std::vector<QMetaObject::Connection> m_connections;
    bool m_ownsPopup = false;
    NameStore m_store;
};
