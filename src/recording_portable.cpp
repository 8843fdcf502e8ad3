// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file through the toolkit, for systems without a descriptor-based reader: one
// QFile held open from opening, checked by its name, so a file swapped in before it was opened
// is not noticed.
#include "recording.h"

#include <QDateTime>
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

namespace Ddb {

struct Recording::Private
{
    QFile file;
};

Recording::Recording()
    : d(std::make_unique<Private>())
{ }
Recording::~Recording() = default;
Recording::Recording(Recording &&other) noexcept = default;
Recording &Recording::operator=(Recording &&other) noexcept = default;

bool Recording::openFile(const QString &path, Opened *refusal)
{
    const QFileInfo info(path);
    *refusal = !info.exists() ? Opened::CannotOpen : Opened::NotARegularFile;
    if (!info.isFile())
        return false;
    d->file.setFileName(path);
    if (!d->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *refusal = Opened::CannotOpen;
        return false;
    }
    const System::PathParts parts = System::splitPath(path);
    m_fileName = parts.name;
    m_folder.open(parts.folder);
    m_size = d->file.size();
    m_opened = stateNow();
    m_identity = identityOf(path);
    return true;
}

void Recording::closeFile()
{
    d = std::make_unique<Private>();
}

bool Recording::read(qint64 offset, char *data, qint64 length) const
{
    if (!d->file.seek(offset))
        return false;
    for (qint64 done = 0; done < length;) {
        const qint64 got = d->file.read(data + done, length - done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

// By the file's name, which is all the toolkit can ask.
Recording::State Recording::stateNow() const
{
    const QFileInfo info(d->file.fileName());
    return { info.size(), info.lastModified().toMSecsSinceEpoch(),
             info.metadataChangeTime().toMSecsSinceEpoch(), false };
}

qint64 Recording::sizeNow() const
{
    return d->file.isOpen() ? d->file.size() : -1;
}

} // namespace Ddb
