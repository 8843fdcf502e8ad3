// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Linux, held by its descriptor and opened through its folder's: the
// checks and the reads concern the one file that was opened, whatever is put under its name
// meanwhile.
#include "recording.h"

#include "systemio.h"

#include <QFile>

#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Ddb {

namespace {

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

struct Recording::Private
{
    ~Private()
    {
        if (watch >= 0)
            ::close(watch);
        if (descriptor >= 0)
            ::close(descriptor);
    }

    // Any write to the file from now on, by any program, whatever it does to the times. The
    // file is named through its descriptor, so that the watch is on the file that was opened.
    void watchWrites()
    {
        watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(descriptor);
        if (watch >= 0 && inotify_add_watch(watch, self.constData(), IN_MODIFY) < 0)
            ::close(std::exchange(watch, -1));
    }

    bool writeSeen() const
    {
        if (!written && watch >= 0) {
            char events[4096];
            written = ::read(watch, events, sizeof events) > 0;
        }
        return written;
    }

    int descriptor = -1;
    int watch = -1;
    mutable bool written = false;
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
    d->watchWrites();
    m_fileName = parts.name;
    m_folder = std::move(held);
    m_size = status.st_size;
    m_opened = { status.st_size, nanoseconds(status.st_mtim), nanoseconds(status.st_ctim), false };
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

Recording::State Recording::stateNow() const
{
    struct stat status
    { };
    if (fstat(d->descriptor, &status) != 0)
        return {};
    return { status.st_size, nanoseconds(status.st_mtim), nanoseconds(status.st_ctim),
             d->writeSeen() };
}

qint64 Recording::sizeNow() const
{
    struct stat status
    { };
    return fstat(d->descriptor, &status) == 0 ? qint64(status.st_size) : -1;
}

} // namespace Ddb
