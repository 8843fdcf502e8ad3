// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Piece files on Linux: written to a temporary file in the piece's folder, flushed with a
// checked fdatasync, then renamed onto the name, which never follows a link.
#include "piecefile.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Ddb::PieceFailure;
using Ddb::PieceOutcome;

PieceOutcome refused(int error)
{
    return { PieceFailure::DiskRefused, error };
}

QByteArray folderOf(const QByteArray &name)
{
    const int slash = name.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : name.left(slash);
}

// Never a name someone could guess and plant a link at beforehand.
QByteArray unguessableName(const QByteArray &folder)
{
    return folder + "/.tranchel-" + QByteArray::number(QRandomGenerator::system()->generate64(), 16)
            + ".tmp";
}

// What stands under the name now decides whether the piece may replace it.
PieceOutcome checkName(const QByteArray &name, const Ddb::FileIdentity &recording,
                       struct stat &existing, bool &exists)
{
    exists = false;
    if (lstat(name.constData(), &existing) != 0)
        return errno == ENOENT ? PieceOutcome() : refused(errno);
    exists = true;
    if (S_ISLNK(existing.st_mode))
        return { PieceFailure::LinkInTheWay, 0 };
    if (!S_ISREG(existing.st_mode))
        return { PieceFailure::FolderInTheWay, 0 };
    if (Ddb::FileIdentity { quint64(existing.st_dev), quint64(existing.st_ino) } == recording)
        return { PieceFailure::IsTheRecording, 0 };
    if ((existing.st_mode & 0222) == 0)
        return { PieceFailure::WriteProtected, 0 };
    return {};
}

// A file that is not on disk under its final name until commit(), and that leaves nothing
// behind when it is dropped before.
class TemporaryFile
{
public:
    explicit TemporaryFile(const QByteArray &folder)
        : m_folder(folder)
    { }
    ~TemporaryFile()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        if (!m_name.isEmpty())
            ::unlink(m_name.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int descriptor() const { return m_descriptor; }

    // Unnamed where the file system offers it, so that not even a crash leaves it behind.
    int open()
    {
        m_descriptor = ::open(m_folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_descriptor >= 0)
            return 0;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
        return retryOnTakenName([this](const QByteArray &name) {
            m_descriptor = ::open(name.constData(),
                                  O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0666);
            return m_descriptor >= 0;
        });
    }

    int write(const char *data, qint64 length)
    {
        for (qint64 done = 0; done < length;) {
            const qint64 size = qMin(Ddb::WriteSliceSize, length - done);
            if (const int error = writeWhole(data + done, size))
                return error;
            startWriteBack(m_written, size);
            m_written += size;
            done += size;
        }
        return 0;
    }

    // Checked, and before anything else waits for write-back: the kernel reports a
    // write-back error to each open file only once.
    int flush()
    {
        if (fdatasync(m_descriptor) != 0)
            return errno;
        // Nothing reads the piece again; its clean pages are better left to the next one.
        posix_fadvise(m_descriptor, 0, 0, POSIX_FADV_DONTNEED);
        return 0;
    }

    // Gives the file its final name, replacing what stands there.
    int commit(const QByteArray &name)
    {
        if (m_name.isEmpty()) {
            if (const int error = linkUnnamed())
                return error;
        }
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        if (::close(descriptor) != 0)
            return errno;
        if (::rename(m_name.constData(), name.constData()) != 0)
            return errno;
        m_name.clear();
        return 0;
    }

private:
    template<typename Create> int retryOnTakenName(Create create)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray name = unguessableName(m_folder);
            if (create(name)) {
                m_name = name;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int linkUnnamed()
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        return retryOnTakenName([&self, this](const QByteArray &name) {
            if (linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW)
                == 0)
                return true;
            // Without /proc only a privileged process can name the file through itself.
            return errno == ENOENT
                    && linkat(m_descriptor, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH) == 0;
        });
    }

    // A short write is continued where it stopped.
    int writeWhole(const char *data, qint64 length)
    {
        for (qint64 done = 0; done < length;) {
            const ssize_t written = ::write(m_descriptor, data + done, size_t(length - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return errno;
            if (written == 0)
                return EIO;
            done += written;
        }
        return 0;
    }

    // Lets the disk take each slice while the next one is copied. It does not wait, so it
    // cannot take a write-back error away from flush().
    void startWriteBack(qint64 offset, qint64 length)
    {
        sync_file_range(m_descriptor, offset, length, SYNC_FILE_RANGE_WRITE);
    }

    const QByteArray m_folder;
    QByteArray m_name; // empty while the file is unnamed or once it is committed
    int m_descriptor = -1;
    qint64 m_written = 0;
};

} // namespace

namespace Ddb {

PieceOutcome writePieceFile(const QString &fileName, const QByteArray &header, const char *data,
                            qint64 length, const FileIdentity &recording)
{
    const QByteArray name = QFile::encodeName(fileName);
    struct stat existing
    { };
    bool exists = false;
    const PieceOutcome check = checkName(name, recording, existing, exists);
    if (check.failure != PieceFailure::None)
        return check;

    TemporaryFile file(folderOf(name));
    int error = file.open();
    if (!error)
        error = file.write(header.constData(), header.size());
    if (!error)
        error = file.write(data, length);
    if (!error && exists && fchmod(file.descriptor(), existing.st_mode & 0777) != 0)
        error = errno;
    if (!error)
        error = file.flush();
    if (!error)
        error = file.commit(name);
    return error ? refused(error) : PieceOutcome();
}

int syncFolder(const QString &folder)
{
    const int descriptor
            = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return errno;
    int error = fsync(descriptor) == 0 ? 0 : errno;
    if (::close(descriptor) != 0 && !error)
        error = errno;
    return error;
}

bool writerGuardsLinksAndFlushes()
{
    return true;
}

} // namespace Ddb
