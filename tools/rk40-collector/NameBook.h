#pragma once

// Names of the cards, from a key file (id,access,name) given with the
// `names` setting: read at start and again when the file changes, so an
// edited list shows without a restart. Terminals keep no names; the page
// shows these beside the cards.

#include <QDateTime>
#include <QJsonObject>
#include <QString>

namespace collector {

class NameBook {
public:
    explicit NameBook(QString path = {}) : m_path(std::move(path)) {}

    // The names by card id; the ones read before when the file has become
    // unreadable or wrong (said once in the log).
    QJsonObject names();
    // Reads the file now; false with `error` when it is not a key file.
    bool load(QString* error);

private:
    QString m_path;
    QDateTime m_readAt;
    QJsonObject m_names;
};

} // namespace collector
