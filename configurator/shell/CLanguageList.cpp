#include "shell/CLanguageList.h"

#include "platform/ui/Prompt.h"
#include "platform/resources/Resources.h"

#include <QAction>
#include <QMenu>

namespace {

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
}

bool CLanguageList::Search(const QString& programFolder, const QString& currentName)
{
    if (!m_searched)
        m_current = currentName;
    m_searched = true;
    return m_search.Search(programFolder, currentName);
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
        QAction* item = languages->addAction(itemText(entries()[static_cast<std::size_t>(i)].languageName));
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
    const QString name = entries()[static_cast<std::size_t>(index)].languageName;
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
    return entries()[static_cast<std::size_t>(index)].languageName == m_current;
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
