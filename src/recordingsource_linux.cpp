// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Linux, held by its descriptor: the checks and the reads concern the
// one file that was opened, whatever is put under its name meanwhile.
#include "recordingsource.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace System {

RecordingSource::Opened RecordingSource::open(const QString &path)
{
    close();
    m_path = path;
    // Held from now on: pieces go into this folder whatever later happens to its path.
    // Readable, unlike O_PATH, so that it can be flushed.
    const int folder = ::open(QFile::encodeName(folderPath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int folderOpenError = folder < 0 ? errno : 0;
    // Not blocking: a FIFO swapped in would wait for a writer, a terminal would become ours.
    constexpr int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int file = folder >= 0 ? openat(folder, QFile::encodeName(fileName()).constData(), flags)
                                 : ::open(QFile::encodeName(path).constData(), flags);
    if (file < 0) {
        if (folder >= 0)
            ::close(folder);
        m_path.clear();
        return Opened::Failed;
    }
    struct stat status
    { };
    const bool known = fstat(file, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        ::close(file);
        if (folder >= 0)
            ::close(folder);
        m_path.clear();
        return known ? Opened::NotARegularFile : Opened::Failed;
    }
    m_file = file;
    m_folder = folder;
    m_folderError = folderOpenError;
    m_size = status.st_size;
    m_identity = { quint64(status.st_dev), quint64(status.st_ino) };
    return Opened::Yes;
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

bool RecordingSource::lockForSplit()
{
    // Only a lock held elsewhere refuses; a share that cannot lock (ENOLCK) does not.
    return flock(int(m_file), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

void RecordingSource::unlock()
{
    flock(int(m_file), LOCK_UN);
}

void RecordingSource::close()
{
    if (m_file != -1)
        ::close(int(m_file));
    if (m_folder != -1)
        ::close(int(m_folder));
    m_file = -1;
    m_folder = -1;
    m_folderError = 0;
    m_size = -1;
    m_identity = FileIdentity();
    m_path.clear();
}

// The folder as the chosen path names it, not resolved further: a name reached through a
// link gets its pieces beside the link, where the user looks for them.
QString RecordingSource::folderPath() const
{
    const int slash = m_path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : m_path.left(slash);
}

QString RecordingSource::fileName() const
{
    return m_path.mid(m_path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace System
