#pragma once

#include <QByteArray>
#include <QString>

// Replaces a whole file so that a crash, a full disk or a failed write never leaves it half
// written: the bytes go to a temporary file in the same folder, every write is checked,
// flushed and synced, the file is renamed over the old one and the folder synced. The file
// is owner-only (0600 on POSIX), also when it is created. Used for the settings file, whose
// wording its failure messages carry.
class DurableFile {
public:
    // Puts bytes in place of the file at path, holding its Lock. Throws PlatformError when
    // the file cannot be written completely; the old file then keeps every byte and no
    // temporary file is left behind.
    static void Replace(const QString& path, const QByteArray& bytes);

    // Keeps other running copies of the program, and other threads, from replacing path
    // while it is held: a lock file "<path>.lock" plus an in-process mutex. Replace holds
    // it; hold one across reading a file and replacing it, so that no other save comes in
    // between. Nests within one thread. Throws PlatformError when the lock cannot be had
    // within a few seconds.
    class Lock {
    public:
        explicit Lock(const QString& path);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        struct Entry;
        Entry* m_Entry;
    };
};
