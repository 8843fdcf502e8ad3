// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's folder through the toolkit, for systems without steps of their own: known
// by its path alone, so a folder renamed meanwhile is not followed; one split at a time through
// a lock file in it.
#include "recordingfolder.h"

#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>

namespace System {

struct RecordingFolder::Private
{
    std::unique_ptr<QLockFile> lockFile;
};

RecordingFolder::RecordingFolder()
    : d(std::make_unique<Private>())
{ }
RecordingFolder::~RecordingFolder() = default;
RecordingFolder::RecordingFolder(RecordingFolder &&other) noexcept = default;
RecordingFolder &RecordingFolder::operator=(RecordingFolder &&other) noexcept = default;

// Only what the toolkit can tell by the folder's path; an unknown file system is taken as one
// whose times tell nothing.
void RecordingFolder::open(const QString &path)
{
    close();
    m_path = path;
    const QByteArray type = QStorageInfo(path).fileSystemType().toLower();
    const QList<QByteArray> fineTimes
            = { "ext4", "xfs", "btrfs", "apfs", "hfs", "ntfs", "zfs", "ufs", "tmpfs" };
    m_fineTimes = fineTimes.contains(type);
    m_inMemory = type == "tmpfs" || type == "ramfs";
}

void RecordingFolder::close()
{
    *this = RecordingFolder();
}

qintptr RecordingFolder::handle() const
{
    return -1;
}

// A lock file in the folder, which the toolkit removes again, and takes over from a program
// that ended without removing it.
RecordingFolder::Lock RecordingFolder::lock()
{
    d->lockFile = std::make_unique<QLockFile>(m_path + QStringLiteral("/.tranchel.lock"));
    if (d->lockFile->tryLock(0))
        return Lock::Held;
    const bool heldElsewhere = d->lockFile->error() == QLockFile::LockFailedError;
    d->lockFile.reset();
    return heldElsewhere ? Lock::HeldElsewhere : Lock::NotLockable;
}

void RecordingFolder::unlock()
{
    d->lockFile.reset();
}

// The toolkit cannot flush a folder.
Error RecordingFolder::sync() const
{
    return {};
}

// No folder is held: where its path leads now.
QString RecordingFolder::pathNow(bool *removed) const
{
    const QFileInfo folder(m_path);
    *removed = !folder.isDir();
    return folder.absoluteFilePath();
}

} // namespace System
