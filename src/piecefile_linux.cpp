// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Piece files on Linux, every step relative to the recording's folder as held since loading:
// written to a temporary file there, flushed with a checked fdatasync, then linked or renamed
// onto the name without ever following a link or replacing what appeared meanwhile.
#include "piecesteps.h"

#include <QFile>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Ddb::PieceFailure;
using Ddb::PieceOutcome;

PieceOutcome refused(int error)
{
    return { PieceFailure::DiskRefused, error, QString() };
}

PieceOutcome failed(PieceFailure failure)
{
    return { failure, 0, QString() };
}

// File systems that keep no owners or permissions (FAT, some shares) answer so.
bool keepsNoPermissions(int error)
{
    return error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

// The named temporary file being written, for a signal handler to remove: kept in fixed
// storage, as a handler may not allocate.
char pendingName[64];
std::atomic<int> pendingFolder { -1 };

void removePendingAndDie(int signalNumber)
{
    const int folder = pendingFolder.load();
    if (folder >= 0)
        unlinkat(folder, pendingName, 0);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

// Never a name someone could guess and plant a link at beforehand.
QByteArray unguessableName()
{
    return ".tranchel-" + QByteArray::number(QRandomGenerator::system()->generate64(), 16) + ".tmp";
}

// Reads exactly `length` bytes at `offset`.
bool readAt(int descriptor, qint64 offset, char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const ssize_t got
                = pread(descriptor, data + done, size_t(length - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the file under a name is still the one checked first: the same device and inode,
// size, modification time and change time.
bool unchanged(const struct stat &first, const struct stat &now)
{
    return sameFile(first, now) && first.st_size == now.st_size
            && first.st_mtim.tv_sec == now.st_mtim.tv_sec
            && first.st_mtim.tv_nsec == now.st_mtim.tv_nsec
            && first.st_ctim.tv_sec == now.st_ctim.tv_sec
            && first.st_ctim.tv_nsec == now.st_ctim.tv_nsec;
}

// What stands under a piece name, and whether the piece may replace it.
class NameCheck
{
public:
    NameCheck(int folder, const QByteArray &name, const System::RecordingSource &source)
        : m_folder(folder)
        , m_name(name)
        , m_source(source)
    { }

    bool exists() const { return m_exists; }
    const struct stat &found() const { return m_found; }

    Ddb::NameHolds holds(quint32 number, const Ddb::EarlierPieces &earlier)
    {
        using Ddb::NameHolds;
        if (fstatat(m_folder, m_name.constData(), &m_found, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? NameHolds::Nothing : NameHolds::SomethingElse;
        m_exists = true;
        return S_ISREG(m_found.st_mode) && isEarlierPiece(number, earlier)
                ? NameHolds::EarlierPiece
                : NameHolds::SomethingElse;
    }

    // Every check, the comparison with an earlier piece's bytes included.
    PieceOutcome check(quint32 number, const Ddb::EarlierPieces &earlier)
    {
        const PieceOutcome outcome = checkKind();
        if (outcome.failure != PieceFailure::None || !m_exists)
            return outcome;
        return isEarlierPiece(number, earlier) ? PieceOutcome()
                                               : failed(PieceFailure::DifferentFile);
    }

    // Right before the rename: the same checks, and the same file unchanged since.
    PieceOutcome checkAgain()
    {
        const bool existed = m_exists;
        const struct stat first = m_found;
        const PieceOutcome outcome = checkKind();
        if (outcome.failure != PieceFailure::None)
            return outcome;
        if (m_exists != existed || (m_exists && !unchanged(first, m_found)))
            return failed(PieceFailure::ChangedMeanwhile);
        return {};
    }

private:
    PieceOutcome checkKind()
    {
        m_exists = false;
        if (fstatat(m_folder, m_name.constData(), &m_found, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? PieceOutcome() : refused(errno);
        m_exists = true;
        if (S_ISLNK(m_found.st_mode))
            return failed(PieceFailure::LinkInTheWay);
        if (!S_ISREG(m_found.st_mode))
            return failed(PieceFailure::NotARegularFile);
        if (System::FileIdentity { quint64(m_found.st_dev), quint64(m_found.st_ino) }
            == m_source.identity())
            return failed(PieceFailure::IsTheRecording);
        // The bits alone protect a read-only file from root, whom the kernel lets write it.
        if ((m_found.st_mode & 0222) == 0)
            return failed(PieceFailure::WriteProtected);
        if (faccessat(m_folder, m_name.constData(), W_OK, AT_EACCESS) != 0)
            return errno == EACCES ? failed(PieceFailure::WriteProtected) : refused(errno);
        return {};
    }

    bool isEarlierPiece(quint32 number, const Ddb::EarlierPieces &earlier) const
    {
        const int file = openat(m_folder, m_name.constData(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (file < 0)
            return false;
        struct stat opened
        { };
        const bool isPiece = fstat(file, &opened) == 0 && sameFile(opened, m_found)
                && earlier.isPiece(number, opened.st_size,
                                   [file](qint64 offset, char *data, qint64 length) {
                                       return readAt(file, offset, data, length);
                                   });
        ::close(file);
        return isPiece;
    }

    const int m_folder;
    const QByteArray m_name;
    const System::RecordingSource &m_source;
    struct stat m_found
    { };
    bool m_exists = false;
};

// A file that is not on disk under its final name until it is committed, and that leaves
// nothing behind when it is dropped before.
class TemporaryFile
{
public:
    explicit TemporaryFile(int folder)
        : m_folder(folder)
    { }
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int descriptor() const { return m_descriptor; }

    // Unnamed where the file system offers it, so that not even a crash leaves it behind.
    int open()
    {
        m_descriptor = openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_descriptor >= 0)
            return 0;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
        return createNamed([this](const char *candidate) {
            m_descriptor = openat(m_folder, candidate,
                                  O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0666);
            return m_descriptor >= 0;
        });
    }

    int write(const char *data, qint64 length)
    {
        if (const int error = writeWhole(data, length))
            return error;
        startWriteBack(m_written, length);
        m_written += length;
        return 0;
    }

    // A replaced piece keeps its owner, group and permission bits, where this user may set
    // them: owner and group first, as changing them clears some mode bits.
    int takeOwnerAndMode(const struct stat &existing)
    {
        struct stat own
        { };
        if (fstat(m_descriptor, &own) != 0)
            return errno;
        if ((own.st_uid != existing.st_uid || own.st_gid != existing.st_gid)
            && fchown(m_descriptor, existing.st_uid, existing.st_gid) != 0
            && !keepsNoPermissions(errno))
            return errno;
        if ((own.st_mode & 0777) != (existing.st_mode & 0777)
            && fchmod(m_descriptor, existing.st_mode & 0777) != 0 && !keepsNoPermissions(errno))
            return errno;
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

    // Puts the file under `target`, where nothing stood at the check: never replaces what
    // appeared there meanwhile (EEXIST).
    int commitNew(const QByteArray &target)
    {
        if (m_name.isEmpty())
            return linkUnnamed(target);
        if (const int error = close())
            return error;
        if (renameat2(m_folder, m_name.constData(), m_folder, target.constData(), RENAME_NOREPLACE)
            == 0) {
            forgetName();
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        // Without an exclusive rename: a hard link fails on a taken name, as the rename would.
        if (linkat(m_folder, m_name.constData(), m_folder, target.constData(), 0) == 0)
            return removeName();
        if (errno != EPERM && errno != EOPNOTSUPP)
            return errno;
        // Without hard links either (FAT through FUSE), which also means no links to plant.
        struct stat existing
        { };
        if (fstatat(m_folder, target.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
        return renameOnto(target);
    }

    // Replaces the earlier piece under `target`; `checkAgain` runs right before the rename.
    template<typename Check>
    PieceOutcome commitReplacing(const QByteArray &target, Check checkAgain)
    {
        if (m_name.isEmpty()) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
            if (const int error = createNamed([this, &self](const char *candidate) {
                    return linkSelf(self, candidate) == 0;
                }))
                return refused(error);
        }
        if (const int error = close())
            return refused(error);
        const PieceOutcome again = checkAgain();
        if (again.failure != PieceFailure::None)
            return again;
        const int error = renameOnto(target);
        return error ? refused(error) : PieceOutcome();
    }

    // Closes and removes what is left; the name of a file that could not be removed.
    QString discard()
    {
        close();
        if (m_name.isEmpty())
            return QString();
        if (unlinkat(m_folder, m_name.constData(), 0) == 0 || errno == ENOENT) {
            forgetName();
            return QString();
        }
        const QString left = QFile::decodeName(m_name);
        forgetName();
        return left;
    }

private:
    // Creates the file under a fresh unguessable name, retried while names are taken.
    template<typename Create> int createNamed(Create create)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray candidate = unguessableName();
            remember(candidate);
            if (create(candidate.constData())) {
                m_name = candidate;
                return 0;
            }
            const int error = errno;
            pendingFolder = -1;
            if (error != EEXIST)
                return error;
        }
        return EEXIST;
    }

    // The signal handler must know the name before the file is created under it, or a signal
    // in between would leave the file behind.
    void remember(const QByteArray &name)
    {
        pendingFolder = -1;
        qstrncpy(pendingName, name.constData(), sizeof pendingName);
        pendingFolder = m_folder;
    }

    void forgetName()
    {
        pendingFolder = -1;
        m_name.clear();
    }

    int linkSelf(const QByteArray &self, const char *target)
    {
        if (linkat(AT_FDCWD, self.constData(), m_folder, target, AT_SYMLINK_FOLLOW) == 0)
            return 0;
        // Without /proc mounted, linkat() with AT_EMPTY_PATH names an unnamed file; it needs
        // the CAP_DAC_READ_SEARCH privilege.
        if (errno != ENOENT)
            return errno;
        return linkat(m_descriptor, "", m_folder, target, AT_EMPTY_PATH) == 0 ? 0 : errno;
    }

    int linkUnnamed(const QByteArray &target)
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        if (const int error = linkSelf(self, target.constData()))
            return error;
        if (const int error = close()) {
            unlinkat(m_folder, target.constData(), 0);
            return error;
        }
        return 0;
    }

    int renameOnto(const QByteArray &target)
    {
        if (renameat(m_folder, m_name.constData(), m_folder, target.constData()) != 0)
            return errno;
        forgetName();
        return 0;
    }

    // After the file got its final name by a link: the temporary name goes.
    int removeName()
    {
        if (unlinkat(m_folder, m_name.constData(), 0) == 0)
            forgetName();
        return 0;
    }

    int close()
    {
        if (m_descriptor < 0)
            return 0;
        return ::close(std::exchange(m_descriptor, -1)) == 0 ? 0 : errno;
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

    const int m_folder;
    QByteArray m_name; // empty while the file is unnamed or once it has its final name
    int m_descriptor = -1;
    qint64 m_written = 0;
};

struct sigaction previousActions[3];
bool handled[3];
constexpr int endingSignals[3] = { SIGTERM, SIGINT, SIGHUP };

} // namespace

namespace Ddb {

struct PieceSteps::Private
{
    Private(const System::RecordingSource &source, const QByteArray &pieceName)
        : name(pieceName)
        , check(int(source.folderHandle()), pieceName, source)
        , file(int(source.folderHandle()))
    { }

    const QByteArray name;
    NameCheck check;
    TemporaryFile file;
};

PieceSteps::PieceSteps(const System::RecordingSource &source, const QString &name)
    : d(std::make_unique<Private>(source, QFile::encodeName(name)))
{ }

PieceSteps::~PieceSteps() = default;

PieceOutcome PieceSteps::check(quint32 number, const EarlierPieces &earlier)
{
    return d->check.check(number, earlier);
}

bool PieceSteps::replaces() const
{
    return d->check.exists();
}

int PieceSteps::create()
{
    return d->file.open();
}

int PieceSteps::write(const char *data, qint64 length)
{
    return d->file.write(data, length);
}

int PieceSteps::takeAttributes()
{
    return d->file.takeOwnerAndMode(d->check.found());
}

int PieceSteps::flush()
{
    return d->file.flush();
}

PieceOutcome PieceSteps::commit()
{
    if (d->check.exists())
        return d->file.commitReplacing(d->name, [this] { return d->check.checkAgain(); });
    const int error = d->file.commitNew(d->name);
    if (error == 0)
        return {};
    return error == EEXIST ? failed(PieceFailure::ChangedMeanwhile) : refused(error);
}

QString PieceSteps::discard()
{
    return d->file.discard();
}

NameHolds PieceSteps::holds(quint32 number, const EarlierPieces &earlier)
{
    return d->check.holds(number, earlier);
}

int folderError(const System::RecordingSource &source)
{
    if (source.folderHandle() >= 0)
        return 0;
    return source.folderError() != 0 ? source.folderError() : EBADF;
}

int syncFolder(const System::RecordingSource &source)
{
    return fsync(int(source.folderHandle())) == 0 ? 0 : errno;
}

PieceWritingScope::PieceWritingScope()
{
    // A file size limit then fails the write with EFBIG instead of killing the program.
    signal(SIGXFSZ, SIG_IGN);
    for (int i = 0; i < 3; ++i) {
        struct sigaction action
        { };
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        handled[i] = sigaction(endingSignals[i], nullptr, &previousActions[i]) == 0
                && previousActions[i].sa_handler != SIG_IGN
                && sigaction(endingSignals[i], &action, nullptr) == 0;
    }
}

PieceWritingScope::~PieceWritingScope()
{
    for (int i = 0; i < 3; ++i) {
        if (handled[i])
            sigaction(endingSignals[i], &previousActions[i], nullptr);
    }
}

bool writerGuardsLinksAndFlushes()
{
    return true;
}

} // namespace Ddb
