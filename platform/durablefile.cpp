#include "durablefile.h"

#include "platformerror.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QMutex>
#include <QRecursiveMutex>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <chrono>
#include <memory>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

QString nativePath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

// Forces the file's bytes to the disk, so that the rename never puts a file in place whose
// data the system has not stored yet.
bool syncToDisk(int fd) {
#ifdef Q_OS_WIN
    return _commit(fd) == 0;
#else
    return fsync(fd) == 0;
#endif
}

// Makes the rename itself durable. Best effort: the new file is already in place.
void syncFolder(const QString& path) {
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

} // namespace

// Every step is checked: QSaveFile::commit() alone would rename a file whose buffered writes
// failed (a full disk), so the file is unbuffered and its data synced before the rename. On
// any failure the temporary file goes and the old file stays as it was.
void DurableFile::Replace(const QString& path, const QByteArray& bytes) {
    const Lock lock(path);
    const QString where = nativePath(path);
    const auto failed = [&where](const QString& why) {
        return PlatformError(
            QStringLiteral("Cannot write the settings file %1: %2").arg(where, why));
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw failed(file.errorString());
    // Owner-only before the first byte goes in: the file holds a credential.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw PlatformError(
            QStringLiteral("Cannot restrict the permissions of %1: %2").arg(where, why));
    }
    const qint64 written = file.write(bytes);
    if (written != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        const QString why = file.error() != QFileDevice::NoError
                                ? file.errorString()
                                : QStringLiteral("only %1 of %2 bytes could be written.")
                                      .arg(qMax<qint64>(written, 0))
                                      .arg(bytes.size());
        file.cancelWriting();
        throw failed(why);
    }
    if (!syncToDisk(file.handle())) {
        const QString why = qt_error_string(errno);
        file.cancelWriting();
        throw failed(why);
    }
    if (!file.commit())
        throw failed(file.errorString());
    syncFolder(path);
}

struct DurableFile::Lock::Entry {
    QRecursiveMutex mutex;
    int depth = 0; // guarded by mutex
    std::unique_ptr<QLockFile> file;
};

DurableFile::Lock::Lock(const QString& path) {
    using namespace std::chrono_literals;
    const QString where = nativePath(path);
    {
        // One entry per file for the life of the process: a handful at most.
        static QMutex registryMutex;
        static QHash<QString, Entry*> registry;
        const QMutexLocker locked(&registryMutex);
        Entry*& entry = registry[where];
        if (!entry)
            entry = new Entry;
        m_Entry = entry;
    }
    m_Entry->mutex.lock();
    if (m_Entry->depth == 0) {
        auto file = std::make_unique<QLockFile>(where + QStringLiteral(".lock"));
        // Another copy's save takes milliseconds; waiting longer means it hangs. Tried in
        // short steps: QLockFile's own wait doubles its pauses up to seconds.
        QDeadlineTimer deadline(10s);
        bool locked = file->tryLock(0);
        while (!locked && file->error() == QLockFile::LockFailedError && !deadline.hasExpired()) {
            QThread::msleep(5);
            locked = file->tryLock(0);
        }
        if (!locked) {
            m_Entry->mutex.unlock();
            const QString why =
                file->error() == QLockFile::LockFailedError
                    ? QStringLiteral("another running copy of Corvala keeps it locked.")
                    : QStringLiteral("the lock file %1.lock cannot be created.").arg(where);
            throw PlatformError(
                QStringLiteral("Cannot write the settings file %1: %2").arg(where, why));
        }
        m_Entry->file = std::move(file);
    }
    ++m_Entry->depth;
}

DurableFile::Lock::~Lock() {
    if (--m_Entry->depth == 0)
        m_Entry->file.reset(); // unlocks and removes the lock file
    m_Entry->mutex.unlock();
}
