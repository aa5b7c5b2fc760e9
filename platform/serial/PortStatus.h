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

// String table identifiers of the texts (resource table english/serial.tsv).
namespace reason {
inline constexpr int kMissing = 61750;           // "%1 does not exist (is the device plugged in?)"
inline constexpr int kNoPermission = 61751;      // "no permission to open %1"
inline constexpr int kNoPermissionGroup = 61752; // ... "which belongs to the group %2" ...
inline constexpr int kBusy = 61753;              // "%1 is in use by another program"
inline constexpr int kBusyBy = 61754;            // "%1 is in use by %2"
inline constexpr int kNotSerial = 61755;         // "%1 is not a serial device"
inline constexpr int kRemoved = 61756;           // "the device was removed"
inline constexpr int kNotAssigned = 61757;       // "no serial device is assigned to it"
inline constexpr int kBaudNotOffered = 61758;    // "%1 baud is not offered"
inline constexpr int kCannotOpen = 61759;        // "%1 cannot be opened: %2"
inline constexpr int kSettingsUnreadable = 61760; // "the settings of %1 cannot be read"
inline constexpr int kSettingsRefused = 61761;   // "%1 refuses %2 baud, 8N1"
} // namespace reason

// The texts, one per problem, in the program's language.
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
