#include "CLanguageList.h"

#include "Prompt.h"
#include "Resources.h"

#include <QAction>
#include <QDir>
#include <QMenu>

namespace {

// Shared libraries as the platform names them.
#ifdef Q_OS_WIN
const QString kLibraryPattern = QStringLiteral("*.dll");
#else
const QString kLibraryPattern = QStringLiteral("*.so");
#endif

// A language name as a menu item text: an ampersand in a name is shown, not
// taken for a mnemonic.
QString itemText(const QString& languageName)
{
    QString text = languageName;
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

CLanguageList::~CLanguageList()
{
    // Menu items must not call back into a list that is gone.
    for (const QMetaObject::Connection& c : m_connections)
        QObject::disconnect(c);
    if (m_ownsPopup && m_popup)
        delete m_popup.data();
    // Nothing may ask the library for a text once it is unloaded.
    if (m_loaded && resources::languageProvider() == m_loaded)
        resources::setLanguageProvider(nullptr);
    m_loaded.reset();
}

bool CLanguageList::Search(const QString& programFolder, const QString& currentName)
{
    if (m_searched)
        return m_searchResult;
    m_searched = true;
    m_current = currentName;

    const QDir folder(programFolder);
    int selected = -1;
    const QStringList files = folder.entryList({kLibraryPattern}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        if (count() >= kCapacity)
            break;
        const resources::LanguageProbe probe = resources::probeLanguageLibrary(folder.absoluteFilePath(file));
        if (!probe.isLanguage)
            continue;
        m_entries.push_back({file, probe.name});
        // Exact comparison; a later library of the same name wins.
        if (probe.name == m_current)
            selected = count() - 1;
    }

    if (selected >= 0) {
        const auto index = static_cast<std::size_t>(selected);
        m_loaded = resources::LibraryLanguage::load(folder.absoluteFilePath(m_entries[index].fileName));
        if (m_loaded) {
            m_loadedIndex = selected;
            resources::setLanguageProvider(m_loaded);
        }
    }
    m_searchResult = m_loaded != nullptr;
    return m_searchResult;
}

QMenu* CLanguageList::AppendMenu(QMenu* parent, QWidget* owner)
{
    if (m_ownsPopup && m_popup)
        delete m_popup.data();
    auto* languages = new QMenu(QStringLiteral("Languages"), parent);
    languages->setObjectName(QStringLiteral("popupLanguages"));
    parent->addMenu(languages);
    FillMenu(languages, owner);
    m_ownsPopup = true;
    return languages;
}

void CLanguageList::FillMenu(QMenu* languages, QWidget* owner)
{
    for (const QMetaObject::Connection& c : m_connections)
        QObject::disconnect(c);
    m_connections.clear();
    m_popup = languages;
    m_ownsPopup = false;
    languages->clear();

    const QPointer<QWidget> messageOwner(owner);
    for (int i = 0; i < count(); ++i) {
        const int command = kIdBase + 1 + i;
        QAction* item = languages->addAction(itemText(m_entries[static_cast<std::size_t>(i)].languageName));
        item->setCheckable(true);
        item->setData(command);
        item->setObjectName(QString::number(command));
        m_connections.push_back(QObject::connect(item, &QAction::triggered, item, [this, i, messageOwner] {
            Choose(i, messageOwner.data());
        }));
    }
    // The check marks follow the current name whenever the popup opens.
    m_connections.push_back(QObject::connect(languages, &QMenu::aboutToShow, languages, [this] { updateCheckMarks(); }));
    updateCheckMarks();
}

void CLanguageList::Choose(int index, QWidget* owner)
{
    if (index < 0 || index >= count())
        return;
    const QString name = m_entries[static_cast<std::size_t>(index)].languageName;
    if (m_store) {
        const QString failure = m_store(name);
        if (!failure.isEmpty()) {
            ui::prompter().message(owner, failure, ui::Look::Stop);
            return;
        }
    }
    m_current = name;
    updateCheckMarks();
    ui::prompter().message(owner, resources::loadString(kChosenString), ui::Look::Information);
}

bool CLanguageList::OnCommand(int commandId, QWidget* owner)
{
    if (commandId < kFirstCommand || commandId > kLastCommand)
        return false;
    const int index = commandId - kFirstCommand;
    if (index >= count())
        return false;
    Choose(index, owner);
    return true;
}

bool CLanguageList::IsChecked(int commandId) const
{
    const int index = commandId - kFirstCommand;
    if (index < 0 || index >= count())
        return false;
    return m_entries[static_cast<std::size_t>(index)].languageName == m_current;
}

QMenu* CLanguageList::popup() const { return m_popup.data(); }

QAction* CLanguageList::action(int commandId) const
{
    if (!m_popup)
        return nullptr;
    for (QAction* a : m_popup->actions())
        if (a->data().toInt() == commandId)
            return a;
    return nullptr;
}

void CLanguageList::updateCheckMarks()
{
    if (!m_popup)
        return;
    for (QAction* a : m_popup->actions()) {
        bool ok = false;
        const int command = a->data().toInt(&ok);
        if (ok)
            a->setChecked(IsChecked(command));
    }
}
