// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Linux, held by its descriptor and opened through its folder's: the
// checks and the reads concern the one file that was opened, whatever is put under its name
// meanwhile.
#include "recording.h"

#include "systemio.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Ddb {

struct Recording::Private
{
    ~Private()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }

    int descriptor = -1;
};

Recording::Recording()
    : d(std::make_unique<Private>())
{ }
Recording::~Recording() = default;
Recording::Recording(Recording &&other) noexcept = default;
Recording &Recording::operator=(Recording &&other) noexcept = default;

bool Recording::openFile(const QString &path, Opened *refusal)
{
    const System::PathParts parts = System::splitPath(path);
    // Held from now on: pieces go into this folder whatever later happens to its path.
    System::RecordingFolder held;
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
        *refusal = known ? Opened::NotARegularFile : Opened::CannotOpen;
        return false;
    }
    d->descriptor = file;
    m_fileName = parts.name;
    m_folder = std::move(held);
    m_size = status.st_size;
    m_identity = { quint64(status.st_dev), quint64(status.st_ino) };
    return true;
}

void Recording::closeFile()
{
    d = std::make_unique<Private>();
}

bool Recording::read(qint64 offset, char *data, qint64 length) const
{
    return System::readFully(d->descriptor, offset, data, length);
}

qint64 Recording::sizeNow() const
{
    struct stat status
    { };
    return fstat(d->descriptor, &status) == 0 ? qint64(status.st_size) : -1;
}

} // namespace Ddb
