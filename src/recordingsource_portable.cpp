// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file through the toolkit, for systems without a descriptor-based reader:
// checked and read by its name, so a file swapped in between is not noticed, and no folder is
// held.
#include "recordingsource.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

System::FileIdentity identityOf(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    if (stat(QFile::encodeName(path).constData(), &status) == 0)
        return { quint64(status.st_dev), quint64(status.st_ino) };
#else
    Q_UNUSED(path);
#endif
    return {};
}

QString pathOf(const System::PathParts &parts)
{
    return parts.folder + QLatin1Char('/') + parts.name;
}

} // namespace

namespace System {

RecordingSource::Opened RecordingSource::open(const QString &path)
{
    close();
    const QFileInfo info(path);
    if (!info.exists())
        return Opened::Failed;
    if (!info.isFile())
        return Opened::NotARegularFile;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Opened::Failed;
    m_path = splitPath(path);
    m_size = file.size();
    // Only what the toolkit can tell by the folder's path; an unknown file system is taken as
    // one whose times tell nothing.
    const QByteArray type = QStorageInfo(m_path.folder).fileSystemType().toLower();
    const QList<QByteArray> fineTimes
            = { "ext4", "xfs", "btrfs", "apfs", "hfs", "ntfs", "zfs", "ufs", "tmpfs" };
    m_fineTimes = fineTimes.contains(type);
    m_inMemory = type == "tmpfs" || type == "ramfs";
    m_identity = identityOf(path);
    return Opened::Yes;
}

bool RecordingSource::read(char *data, qint64 size)
{
    QFile file(pathOf(m_path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    for (qint64 done = 0; done < size;) {
        const qint64 got = file.read(data + done, size - done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

void RecordingSource::releaseCachedPages()
{ }

// A lock file in the folder, which the toolkit removes again, and takes over from a program
// that ended without removing it.
RecordingSource::FolderLock RecordingSource::lockFolder()
{
    m_lockFile = std::make_unique<QLockFile>(m_path.folder + QStringLiteral("/.tranchel.lock"));
    if (m_lockFile->tryLock(0))
        return FolderLock::Held;
    const bool heldElsewhere = m_lockFile->error() == QLockFile::LockFailedError;
    m_lockFile.reset();
    return heldElsewhere ? FolderLock::HeldElsewhere : FolderLock::NotLockable;
}

void RecordingSource::unlockFolder()
{
    m_lockFile.reset();
}

// The toolkit cannot flush a folder.
Error RecordingSource::syncFolder() const
{
    return {};
}

// No folder is held: where its path leads now.
QString RecordingSource::folderPathNow(bool *removed) const
{
    const QFileInfo folder(m_path.folder);
    *removed = !folder.isDir();
    return folder.absoluteFilePath();
}

void RecordingSource::close()
{
    forget();
}

} // namespace System
