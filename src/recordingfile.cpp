#include "recordingfile.h"

#include "ddbheader.h"

#include <QFile>
#include <QFileInfo>

#include <limits>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
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

ReadResult readRecording(const QString &path, QByteArray &bytes)
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

    QByteArray content(size, Qt::Uninitialized);
    prepareBuffer(content.data(), size);
    if (!readFully(file, content.data(), size))
        return ReadResult::ReadFailed;
    releaseCachedPages(file);
    bytes = std::move(content);
    return ReadResult::Loaded;
}

} // namespace Ddb
