#include "terminalops/KeyAudit.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace terminalops {

namespace {

QString field(QString text)
{
    for (QChar& c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    return text.isEmpty() ? QStringLiteral("-") : text;
}

} // namespace

QByteArray formatAuditLine(const QDateTime& when, const QString& user, const QString& port, bool added,
                           const QString& id, int access)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6\n")
        .arg(when.toString(QStringLiteral("dd.MM.yyyy. hh:mm:ss")), field(user), field(port),
             added ? QStringLiteral("added") : QStringLiteral("removed"), field(id),
             access < 0 ? QStringLiteral("-") : QString::number(access))
        .toUtf8();
}

QString currentUserName()
{
    const uid_t uid = ::geteuid();
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QStringLiteral("uid %1").arg(uid);
}

bool appendAuditLine(const QString& path, const QByteArray& line, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // One write: in append mode the whole line lands at the end, never
    // interleaved with another writer's.
    ssize_t written;
    do {
        written = ::write(fd, line.constData(), static_cast<std::size_t>(line.size()));
    } while (written < 0 && errno == EINTR);
    const int writeError = errno;
    ::close(fd);
    if (written != line.size()) {
        if (error)
            *error = written < 0 ? QString::fromLocal8Bit(std::strerror(writeError)) : QStringLiteral("short write");
        return false;
    }
    return true;
}

} // namespace terminalops
