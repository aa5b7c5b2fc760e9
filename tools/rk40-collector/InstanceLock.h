#pragma once

// One collector per store: a lock file beside the store (STORE.lock) held
// with flock for the process's lifetime and holding its process id, so a
// second collector, or `rotate`, can tell which process collects.

#include <QString>

#include <optional>

namespace collector {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False with `error` set when another process holds it (naming it) or
    // the lock file cannot be made.
    bool acquire(const QString& storeFile, QString* error);

    // The process collecting into the store, if one does.
    static std::optional<long long> holder(const QString& storeFile);

private:
    int m_fd = -1;
};

} // namespace collector
