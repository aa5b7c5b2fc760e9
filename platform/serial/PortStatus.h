#pragma once

// Why a serial device cannot be used, in words a user can act on, and the
// availability probe that tells it without opening the device (so that no
// other program's port is disturbed).

#include <QString>

namespace serial {

enum class PortProblem {
    None,
    NotAssigned,   // no device behind the COM name
    Missing,       // no such device node
    NoPermission,  // the user may not open it
    Busy,          // another program (or another of our own) holds it
    NotSerial,     // the node is no serial device
    Removed,       // it went away while open
    Other,         // anything else (the text says what)
};

struct PortStatus {
    PortProblem problem = PortProblem::None;
    QString reason;  // empty for None
    bool usable() const { return problem == PortProblem::None; }
};

// The texts, one per problem.
QString missingReason(const QString& path);
QString permissionReason(const QString& path);
// holder: "minicom (process 1234)", or empty when not known.
QString busyReason(const QString& path, const QString& holder);
QString notSerialReason(const QString& path);
QString removedReason();
QString notAssignedReason();

// Looks at the device without opening it: the node (stat), the user's
// access to it (access()), the lock files of the serial tools and the
// flock holders in /proc/locks.
PortStatus probePort(const QString& path);

// The holder of a busy device, for a message: its lock file, its flock, or
// another process that has it open.
QString describeHolder(const QString& path);

} // namespace serial
