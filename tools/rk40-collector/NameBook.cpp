#include "NameBook.h"

#include "terminalops/KeyTable.h"

#include <QFile>
#include <QFileInfo>

namespace collector {

bool NameBook::load(QString* error)
{
    if (m_path.isEmpty())
        return true;
    QFile f(m_path);
    m_readAt = QFileInfo(m_path).lastModified();
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QString("cannot read the names file %1: %2").arg(m_path, f.errorString());
        return false;
    }
    const terminalops::KeyFile file = terminalops::parseKeyCsv(f.readAll());
    if (!file.ok) {
        *error = QString("the names file %1, line %2: %3").arg(m_path).arg(file.line).arg(file.reason);
        return false;
    }
    QJsonObject names;
    for (const terminalops::Key& k : file.keys)
        if (!k.name.isEmpty())
            names.insert(k.id, k.name);
    m_names = names;
    return true;
}

QJsonObject NameBook::names()
{
    if (!m_path.isEmpty() && QFileInfo(m_path).lastModified() != m_readAt) {
        QString error;
        if (!load(&error))
            qWarning("%s; the names read before stay in use", qPrintable(error));
    }
    return m_names;
}

} // namespace collector
