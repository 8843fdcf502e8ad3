// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Linux, held by its descriptor: the checks and the reads concern the
// one file that was opened, whatever is put under its name meanwhile.
#include "recordingsource.h"

#include "mountinfo.h"
#include "systemio.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Not in every version of linux/magic.h.
constexpr long ExfatMagic = 0x2011BAB0;
constexpr long FuseMagic = 0x65735546;

// The type of the folder's file system; 0 where it cannot be told.
long fileSystemOf(int folder)
{
    struct statfs fileSystem
    { };
    return folder >= 0 && fstatfs(folder, &fileSystem) == 0 ? long(fileSystem.f_type) : 0;
}

// Whether pieces written into the folder take memory: on tmpfs or ramfs, or on an overlay
// whose upper layer is one, as on live systems and in containers.
bool keepsInMemory(int folder, long type)
{
    if (type == TMPFS_MAGIC || type == RAMFS_MAGIC)
        return true;
    struct stat status
    { };
    if (type != OVERLAYFS_SUPER_MAGIC || fstat(folder, &status) != 0)
        return false;
    const QByteArray device = QByteArray::number(major(status.st_dev)) + ':'
            + QByteArray::number(minor(status.st_dev));
    return System::storesInMemory(QString(), device);
}

} // namespace

namespace System {

RecordingSource::Opened RecordingSource::open(const QString &path)
{
    close();
    const PathParts parts = splitPath(path);
    // Held from now on: pieces go into this folder whatever later happens to its path.
    // Readable, unlike O_PATH, so that it can be flushed.
    const int folder = ::open(QFile::encodeName(parts.folder).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const Error folderOpenError = folder < 0 ? lastError() : Error();
    // Not blocking: a FIFO swapped in would wait for a writer, a terminal would become ours.
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int file = folder >= 0 ? openat(folder, QFile::encodeName(parts.name).constData(), flags)
                                 : ::open(QFile::encodeName(path).constData(), flags);
    struct stat status
    { };
    const bool known = file >= 0 && fstat(file, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        if (file >= 0)
            ::close(file);
        if (folder >= 0)
            ::close(folder);
        return known ? Opened::NotARegularFile : Opened::Failed;
    }
    m_path = parts;
    m_file = file;
    m_folderHandle = folder;
    const long type = fileSystemOf(folder);
    m_fineTimes = type != 0 && type != MSDOS_SUPER_MAGIC && type != ExfatMagic && type != FuseMagic;
    m_inMemory = keepsInMemory(folder, type);
    m_folderError = folderOpenError;
    m_size = status.st_size;
    m_identity = { quint64(status.st_dev), quint64(status.st_ino) };
    return Opened::Yes;
}

bool RecordingSource::read(char *data, qint64 size)
{
    return readFully(m_file, 0, data, size);
}

void RecordingSource::releaseCachedPages()
{
    posix_fadvise(int(m_file), 0, 0, POSIX_FADV_DONTNEED);
}

RecordingSource::FolderLock RecordingSource::lockFolder()
{
    if (flock(int(m_folderHandle), LOCK_EX | LOCK_NB) == 0)
        return FolderLock::Held;
    // Some network file systems lock no folder (ENOLCK, EOPNOTSUPP, EBADF).
    return errno == EWOULDBLOCK ? FolderLock::HeldElsewhere : FolderLock::NotLockable;
}

void RecordingSource::unlockFolder()
{
    flock(int(m_folderHandle), LOCK_UN);
}

Error RecordingSource::syncFolder() const
{
    return fsync(int(m_folderHandle)) == 0 ? Error() : lastError();
}

QString RecordingSource::folderPathNow(bool *removed) const
{
    const QString link = QStringLiteral("/proc/self/fd/%1").arg(m_folderHandle);
    QString path = QFileInfo(link).symLinkTarget();
    // Gone when no name leads to it any more: a folder may well be named "… (deleted)".
    struct stat status
    { };
    *removed = fstat(int(m_folderHandle), &status) == 0 && status.st_nlink == 0;
    // The kernel marks the path of a removed folder so.
    const QString gone = QStringLiteral(" (deleted)");
    if (*removed && path.endsWith(gone))
        path.chop(gone.size());
    return path.isEmpty() ? m_path.folder : path;
}

void RecordingSource::close()
{
    if (m_file != -1)
        ::close(int(m_file));
    if (m_folderHandle != -1)
        ::close(int(m_folderHandle));
    forget();
}

} // namespace System
