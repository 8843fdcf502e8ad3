// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file through the toolkit, for systems without a descriptor-based reader:
// checked and read by its name, so a file swapped in between is not noticed, and no folder is
// held.
#include "recordingsource.h"

#include <QFile>
#include <QFileInfo>

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
    const PathParts parts = splitPath(path);
    m_fileName = parts.name;
    m_folder.open(parts.folder);
    m_size = file.size();
    m_identity = identityOf(path);
    return Opened::Yes;
}

bool RecordingSource::read(char *data, qint64 size)
{
    QFile file(m_folder.path() + QLatin1Char('/') + m_fileName);
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

void RecordingSource::close()
{
    forget();
}

} // namespace System
