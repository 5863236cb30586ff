#pragma once

#include <QString>

// The exclusive right to poll into one data directory. Two pollers on one folder would
// race on the spool file and archive each other's records twice; the lock file makes the
// second one refuse at start. The lock goes with the process, so a killed poller never
// leaves a stale lock behind.
class DataDirLock
{
public:
    static constexpr const char *kFileName = "ostracom.lock";

    DataDirLock() = default;
    ~DataDirLock();
    DataDirLock(const DataDirLock &) = delete;
    DataDirLock &operator=(const DataDirLock &) = delete;

    // Takes the lock on `dataDir`. Throws StoreError naming the running program's process
    // id when another process holds it, or the cause when the lock file cannot be used.
    void acquire(const QString &dataDir);
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
