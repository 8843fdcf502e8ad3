// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "recordingfile.h"

#include "ddbheader.h"

#include <QFile>
#include <QFileInfo>

#include <limits>
#include <new>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

// Faulting in a fresh multi-gigabyte buffer a page at a time, inside read(), costs several
// times more than copying the file from the page cache. Populating the buffer in one call
// first is much cheaper. It is only a hint: where the kernel lacks it, read() faults the
// pages in as usual. (Huge pages were measured too: they were slower, as the kernel then
// takes fresh memory instead of reusing pages freed a moment ago.)
void prepareBuffer(char *data, qint64 size)
{
#if defined(Q_OS_LINUX) && defined(MADV_POPULATE_WRITE)
    const quintptr pageSize = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr begin = (quintptr(data) + pageSize - 1) & ~(pageSize - 1);
    const quintptr end = (quintptr(data) + quintptr(size)) & ~(pageSize - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

// The recording is now held here whole; the kernel's cached copy of the file would only
// double the memory it takes, and the pieces written next can reuse those pages.
void releaseCachedPages(QFile &file)
{
#if defined(Q_OS_LINUX)
    posix_fadvise(file.handle(), 0, 0, POSIX_FADV_DONTNEED);
#else
    Q_UNUSED(file);
#endif
}

bool readFully(QFile &file, char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 got = file.read(data + done, size - done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

Ddb::FileIdentity identityOf(QFile &file)
{
    Ddb::FileIdentity identity;
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    if (fstat(file.handle(), &status) == 0) {
        identity.device = quint64(status.st_dev);
        identity.inode = quint64(status.st_ino);
    }
#else
    Q_UNUSED(file);
#endif
    return identity;
}

// The one place that catches an exception: Qt's containers throw std::bad_alloc when
// memory runs out (an address-space limit, say), and a refused recording is better than
// a vanished window.
bool allocate(QByteArray &buffer, qint64 size)
{
    try {
        buffer = QByteArray(size, Qt::Uninitialized);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace

namespace Ddb {

qint64 maxRecordingSize()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 allocates the array's bookkeeping and terminator inside the same int-sized block.
    return std::numeric_limits<int>::max() - 64;
#else
    return std::numeric_limits<qsizetype>::max() - 64;
#endif
}

ReadResult readRecording(const QString &path, QByteArray &bytes, FileIdentity &identity,
                         qint64 memoryLimit)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return info.exists() ? ReadResult::NotARegularFile : ReadResult::CannotOpen;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return ReadResult::CannotOpen;
    const qint64 size = file.size();
    if (size < FieldsEnd)
        return ReadResult::TooShort;
    if (size > maxRecordingSize())
        return ReadResult::TooLarge;

    if (memoryLimit >= 0 && size > memoryLimit)
        return ReadResult::NotEnoughMemory;

    QByteArray content;
    if (!allocate(content, size))
        return ReadResult::NotEnoughMemory;
    // Only memory the check above has granted is touched before the read.
    if (memoryLimit >= 0)
        prepareBuffer(content.data(), size);
    if (!readFully(file, content.data(), size))
        return ReadResult::ReadFailed;
    releaseCachedPages(file);
    bytes = std::move(content);
    identity = identityOf(file);
    return ReadResult::Loaded;
}

} // namespace Ddb
