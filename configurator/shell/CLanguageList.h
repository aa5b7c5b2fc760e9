#pragma once

// The language libraries beside the program: the start-up search that finds
// them and loads the one the profile names, and the "Languages" popup of the
// Configuration menu that lists them and chooses the language of the next
// start.

#include "core/LanguageSearch.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

class CLanguageList {
public:
    static constexpr int kCapacity = LanguageSearch::kCapacity;
    static constexpr int kIdBase = 37375;       // entry i has command kIdBase + 1 + i
    static constexpr int kFirstCommand = 37376;
    static constexpr int kLastCommand = 37632;  // end of the command range of the sheet
    static constexpr int kChosenString = 175;   // "... restart application."

    using Entry = LanguageSearch::Entry;

    CLanguageList() = default;
    ~CLanguageList();
    CLanguageList(const CLanguageList&) = delete;
    CLanguageList& operator=(const CLanguageList&) = delete;

    // The start-up search (LanguageSearch). `currentName` is the profile
    // value "Language" and becomes the current name.
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

    const std::vector<Entry>& entries() const { return m_search.entries(); }
    int count() const { return m_search.count(); }
    QString currentLanguage() const { return m_current; }
    // The entry whose library is loaded, or -1.
    int loadedIndex() const { return m_search.loadedIndex(); }
    bool isLoaded() const { return m_search.isLoaded(); }
    // The Languages popup, or nullptr before it is made or once it is gone.
    QMenu* popup() const;
    QAction* action(int commandId) const;

private:
    void updateCheckMarks();

    LanguageSearch m_search;   // first member: the library outlives the menu
    bool m_searched = false;
    QString m_current;
    QPointer<QMenu> m_popup;
    std::vector<QMetaObject::Connection> m_connections;
    bool m_ownsPopup = false;
    NameStore m_store;
};
