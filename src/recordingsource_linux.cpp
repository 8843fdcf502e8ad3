// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Linux, held by its descriptor: the checks and the reads concern the
// one file that was opened, whatever is put under its name meanwhile.
#include "recordingsource.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Ddb {

RecordingSource::~RecordingSource()
{
    close();
}

RecordingSource::RecordingSource(RecordingSource &&other) noexcept
{
    *this = std::move(other);
}

RecordingSource &RecordingSource::operator=(RecordingSource &&other) noexcept
{
    if (this != &other) {
        close();
        m_path = std::move(other.m_path);
        m_file = std::exchange(other.m_file, -1);
        m_size = std::exchange(other.m_size, -1);
        m_identity = std::exchange(other.m_identity, FileIdentity());
    }
    return *this;
}

ReadResult RecordingSource::open(const QString &path)
{
    close();
    // Not blocking: a FIFO swapped in would wait for a writer, a terminal would become ours.
    const int file = ::open(QFile::encodeName(path).constData(),
                            O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
        return ReadResult::CannotOpen;
    struct stat status
    { };
    const bool known = fstat(file, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        ::close(file);
        return known ? ReadResult::NotARegularFile : ReadResult::CannotOpen;
    }
    m_path = path;
    m_file = file;
    m_size = status.st_size;
    m_identity = { quint64(status.st_dev), quint64(status.st_ino) };
    return ReadResult::Loaded;
}

bool RecordingSource::read(char *data, qint64 size)
{
    for (qint64 done = 0; done < size;) {
        const ssize_t got = pread(int(m_file), data + done, size_t(size - done), off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        // An end before the size seen at opening is an end, never a wait for more.
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

void RecordingSource::releaseCachedPages()
{
    posix_fadvise(int(m_file), 0, 0, POSIX_FADV_DONTNEED);
}

void RecordingSource::close()
{
    if (m_file != -1)
        ::close(int(m_file));
    m_file = -1;
    m_size = -1;
    m_identity = FileIdentity();
    m_path.clear();
}

} // namespace Ddb
