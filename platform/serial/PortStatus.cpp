#include "platform/serial/PortStatus.h"

#include "platform/serial/PortLocks.h"
#include "platform/resources/Resources.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace serial {

namespace {

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// The texts come from the resource tables, so that a program with a
// language library says them in its language.
QString text(int id) { return resources::loadString(id); }

QString groupOf(const QString& path)
{
    struct stat node {};
    const QByteArray p = path.toLocal8Bit();
    if (::stat(p.constData(), &node) != 0)
        return {};
    // getgrgid_r with a buffer of our own: the plain call is not reentrant.
    group entry {};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(node.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return QString::number(node.st_gid);
    return QString::fromLocal8Bit(found->gr_name);
}

// The kernel's class of a character device, from sysfs: "tty" for serial
// devices. A node sysfs does not know (pseudo-terminals) passes.
bool isTtyClass(dev_t device)
{
    const QString link = QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major(device)).arg(minor(device));
    const QFileInfo subsystem(link);
    if (!subsystem.exists())
        return true;
    return QFileInfo(subsystem.canonicalFilePath()).fileName() == QLatin1String("tty");
}

} // namespace

QString missingReason(const QString& path) { return text(reason::kMissing).arg(native(path)); }

QString permissionReason(const QString& path)
{
    const QString group = groupOf(path);
    if (group.isEmpty() || group == QLatin1String("root"))
        return text(reason::kNoPermission).arg(native(path));
    return text(reason::kNoPermissionGroup).arg(native(path), group);
}

QString busyReason(const QString& path, const QString& holder)
{
    if (holder.isEmpty())
        return text(reason::kBusy).arg(native(path));
    return text(reason::kBusyBy).arg(native(path), holder);
}

QString notSerialReason(const QString& path) { return text(reason::kNotSerial).arg(native(path)); }

QString removedReason() { return text(reason::kRemoved); }

QString notAssignedReason() { return text(reason::kNotAssigned); }

QString describeHolder(const QString& path)
{
    if (const auto holder = lockHolder(path))
        return holder->text();
    if (const auto holder = flockHolder(path))
        return holder->text();
    if (const auto holder = processHolding(path, ::getpid()))
        return holder->text();
    return {};
}

PortStatus probePort(const QString& path)
{
    if (path.isEmpty())
        return {PortProblem::NotAssigned, notAssignedReason()};
    const QByteArray p = path.toLocal8Bit();
    struct stat node {};
    if (::stat(p.constData(), &node) != 0) {
        if (errno == EACCES)
            return {PortProblem::NoPermission, permissionReason(path)};
        return {PortProblem::Missing, missingReason(path)};
    }
    if (!S_ISCHR(node.st_mode) || !isTtyClass(node.st_rdev))
        return {PortProblem::NotSerial, notSerialReason(path)};
    if (::access(p.constData(), R_OK | W_OK) != 0)
        return {PortProblem::NoPermission, permissionReason(path)};
    if (const auto holder = lockHolder(path))
        return {PortProblem::Busy, busyReason(path, holder->text())};
    if (const auto holder = flockHolder(path))
        return {PortProblem::Busy, busyReason(path, holder->text())};
    return {};
}

} // namespace serial
