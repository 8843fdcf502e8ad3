// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's folder on Linux, held by its descriptor: every piece step goes through it,
// so pieces go into that folder whatever becomes of its path.
#include "recordingfolder.h"

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

struct RecordingFolder::Private
{
    ~Private()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }

    int descriptor = -1;
};

RecordingFolder::RecordingFolder()
    : d(std::make_unique<Private>())
{ }
RecordingFolder::~RecordingFolder() = default;
RecordingFolder::RecordingFolder(RecordingFolder &&other) noexcept = default;
RecordingFolder &RecordingFolder::operator=(RecordingFolder &&other) noexcept = default;

// Readable, unlike O_PATH, so that it can be flushed.
void RecordingFolder::open(const QString &path)
{
    close();
    m_path = path;
    d->descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d->descriptor < 0) {
        m_error = lastError();
        return;
    }
    const long type = fileSystemOf(d->descriptor);
    m_fineTimes = type != 0 && type != MSDOS_SUPER_MAGIC && type != ExfatMagic && type != FuseMagic;
    m_inMemory = keepsInMemory(d->descriptor, type);
}

void RecordingFolder::close()
{
    *this = RecordingFolder();
}

qintptr RecordingFolder::handle() const
{
    return d->descriptor;
}

RecordingFolder::Lock RecordingFolder::lock()
{
    if (flock(d->descriptor, LOCK_EX | LOCK_NB) == 0)
        return Lock::Held;
    // Some network file systems lock no folder (ENOLCK, EOPNOTSUPP, EBADF).
    return errno == EWOULDBLOCK ? Lock::HeldElsewhere : Lock::NotLockable;
}

void RecordingFolder::unlock()
{
    flock(d->descriptor, LOCK_UN);
}

Error RecordingFolder::sync() const
{
    return fsync(d->descriptor) == 0 ? Error() : lastError();
}

QString RecordingFolder::pathNow(bool *removed) const
{
    const QString link = QStringLiteral("/proc/self/fd/%1").arg(d->descriptor);
    QString now = QFileInfo(link).symLinkTarget();
    // Gone when no name leads to it any more: a folder may well be named "… (deleted)".
    struct stat status
    { };
    *removed = fstat(d->descriptor, &status) == 0 && status.st_nlink == 0;
    // The kernel marks the path of a removed folder so.
    const QString gone = QStringLiteral(" (deleted)");
    if (*removed && now.endsWith(gone))
        now.chop(gone.size());
    return now.isEmpty() ? m_path : now;
}

} // namespace System
