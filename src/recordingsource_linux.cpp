// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Linux, held by its descriptor: the checks and the reads concern the
// one file that was opened, whatever is put under its name meanwhile. It is opened through its
// folder's descriptor.
#include "recordingsource.h"

#include "systemio.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace System {

RecordingSource::Opened RecordingSource::open(const QString &path)
{
    close();
    const PathParts parts = splitPath(path);
    // Held from now on: pieces go into this folder whatever later happens to its path.
    RecordingFolder held;
    held.open(parts.folder);
    // Not blocking: a FIFO swapped in would wait for a writer, a terminal would become ours.
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int file = held.handle() >= 0
            ? openat(int(held.handle()), QFile::encodeName(parts.name).constData(), flags)
            : ::open(QFile::encodeName(path).constData(), flags);
    struct stat status
    { };
    const bool known = file >= 0 && fstat(file, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        if (file >= 0)
            ::close(file);
        return known ? Opened::NotARegularFile : Opened::Failed;
    }
    m_fileName = parts.name;
    m_file = file;
    m_folder = std::move(held);
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

void RecordingSource::close()
{
    if (m_file != -1)
        ::close(int(m_file));
    forget();
}

} // namespace System
