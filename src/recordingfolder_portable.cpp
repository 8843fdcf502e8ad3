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
    QString path;
    std::unique_ptr<QLockFile> lockFile;
    bool fineTimes = false;
    bool inMemory = false;
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
    d->path = path;
    const QByteArray type = QStorageInfo(path).fileSystemType().toLower();
    const QList<QByteArray> fineTimes
            = { "ext4", "xfs", "btrfs", "apfs", "hfs", "ntfs", "zfs", "ufs", "tmpfs" };
    d->fineTimes = fineTimes.contains(type);
    d->inMemory = type == "tmpfs" || type == "ramfs";
}

void RecordingFolder::close()
{
    d = std::make_unique<Private>();
}

const QString &RecordingFolder::path() const
{
    return d->path;
}

qintptr RecordingFolder::handle() const
{
    return -1;
}

// Nothing is held that could fail to open.
const Error &RecordingFolder::error() const
{
    static const Error none;
    return none;
}

bool RecordingFolder::keepsFineTimes() const
{
    return d->fineTimes;
}

bool RecordingFolder::isInMemory() const
{
    return d->inMemory;
}

// A lock file in the folder, which the toolkit removes again, and takes over from a program
// that ended without removing it.
RecordingFolder::Lock RecordingFolder::lock()
{
    d->lockFile = std::make_unique<QLockFile>(d->path + QStringLiteral("/.tranchel.lock"));
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
    const QFileInfo folder(d->path);
    *removed = !folder.isDir();
    return folder.absoluteFilePath();
}

} // namespace System
