// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The steps of writing a piece on Linux, every one relative to the recording's folder as held
// since loading: a temporary file there, flushed with a checked fdatasync, then linked or
// renamed onto the name without ever following a link or replacing what appeared meanwhile.
#include "piecesteps.h"

#include "systemio.h"

#include <QFile>
#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using System::Error;

int folderOf(const System::RecordingFolder &folder)
{
    return int(folder.handle());
}

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

System::FileIdentity identityOf(const struct stat &status)
{
    return { quint64(status.st_dev), quint64(status.st_ino) };
}

System::NameEntry entryOf(const struct stat &status)
{
    using Kind = System::NameEntry::Kind;
    System::NameEntry entry;
    entry.kind = S_ISLNK(status.st_mode) ? Kind::Link
            : S_ISREG(status.st_mode)    ? Kind::RegularFile
                                         : Kind::NotARegularFile;
    entry.identity = identityOf(status);
    entry.size = status.st_size;
    entry.modified = nanoseconds(status.st_mtim);
    entry.changed = nanoseconds(status.st_ctim);
    entry.fineChangeTime = status.st_ctim.tv_nsec != 0;
    entry.writeBits = (status.st_mode & 0222) != 0;
    entry.links = status.st_nlink;
    entry.owner = status.st_uid;
    entry.group = status.st_gid;
    entry.mode = status.st_mode & 0777;
    return entry;
}

// A step in a folder that was removed fails with whatever the file system says of it (ENOENT,
// or EACCES for an unnamed file): the folder's own link count tells.
Error errorIn(int folder, int code)
{
    struct stat status
    { };
    if (fstat(folder, &status) == 0 && status.st_nlink == 0)
        return { System::Cause::FolderGone, qt_error_string(code) };
    return System::nativeError(code);
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
    return System::temporaryName(QRandomGenerator::system()->generate64()).toLatin1();
}

} // namespace

namespace System {

NameEntry lookUp(const RecordingFolder &folder, const QString &name, Error *error)
{
    struct stat status
    { };
    if (fstatat(folderOf(folder), QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW)
        == 0)
        return entryOf(status);
    if (errno != ENOENT)
        *error = lastError();
    return {};
}

Error mayWrite(const RecordingFolder &folder, const QString &name)
{
    return faccessat(folderOf(folder), QFile::encodeName(name).constData(), W_OK, AT_EACCESS) == 0
            ? Error()
            : lastError();
}

QStringList namesIn(const RecordingFolder &folder)
{
    QStringList names;
    const int descriptor = openat(folderOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listing = descriptor >= 0 ? fdopendir(descriptor) : nullptr;
    if (!listing) {
        if (descriptor >= 0)
            ::close(descriptor);
        return names;
    }
    while (const dirent *entry = readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << QFile::decodeName(name);
    }
    closedir(listing);
    return names;
}

struct FileReader::Private
{
    int descriptor = -1;
};

FileReader::FileReader(const RecordingFolder &folder, const QString &name)
    : d(std::make_unique<Private>())
{
    d->descriptor = openat(folderOf(folder), QFile::encodeName(name).constData(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status
    { };
    if (d->descriptor < 0 || fstat(d->descriptor, &status) != 0) {
        m_error = lastError();
        return;
    }
    m_identity = identityOf(status);
    m_size = status.st_size;
}

FileReader::~FileReader()
{
    if (d->descriptor >= 0)
        ::close(d->descriptor);
}

bool FileReader::read(qint64 offset, char *data, qint64 length) const
{
    return readFully(d->descriptor, offset, data, length);
}

Error FileReader::flush() const
{
    return fdatasync(d->descriptor) == 0 ? Error() : lastError();
}

struct PieceFile::Private
{
    // Creates the file under a fresh unguessable name, retried while names are taken.
    template<typename Create> int createNamed(Create create)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray candidate = unguessableName();
            remember(candidate);
            if (create(candidate.constData())) {
                name = candidate;
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
    void remember(const QByteArray &candidate)
    {
        pendingFolder = -1;
        qstrncpy(pendingName, candidate.constData(), sizeof pendingName);
        pendingFolder = folder;
    }

    void forgetName()
    {
        pendingFolder = -1;
        name.clear();
    }

    // An unnamed file gets a name through its /proc entry; without /proc mounted, linkat()
    // with AT_EMPTY_PATH does it, which needs the CAP_DAC_READ_SEARCH privilege.
    int link(const char *linkName)
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(descriptor);
        if (linkat(AT_FDCWD, self.constData(), folder, linkName, AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
        return linkat(descriptor, "", folder, linkName, AT_EMPTY_PATH) == 0 ? 0 : errno;
    }

    int giveName()
    {
        if (!name.isEmpty())
            return 0;
        return createNamed([this](const char *candidate) { return link(candidate) == 0; });
    }

    int close()
    {
        if (descriptor < 0)
            return 0;
        return ::close(std::exchange(descriptor, -1)) == 0 ? 0 : errno;
    }

    // A replaced piece keeps its owner, group and permission bits, where this user may set
    // them: owner and group first, as changing them clears some mode bits. Where the owner
    // cannot be set, the group alone can be, to one this user belongs to: a piece shared
    // through a group stays readable to it.
    int takeOwnerAndMode(const NameEntry &replaced)
    {
        struct stat own
        { };
        if (fstat(descriptor, &own) != 0)
            return errno;
        if ((own.st_uid != replaced.owner || own.st_gid != replaced.group)
            && fchown(descriptor, replaced.owner, replaced.group) != 0
            && (errno != EPERM || own.st_gid == replaced.group
                || fchown(descriptor, uid_t(-1), replaced.group) != 0)
            && !keepsNoPermissions(errno))
            return errno;
        if ((own.st_mode & 0777) != replaced.mode && fchmod(descriptor, replaced.mode) != 0
            && !keepsNoPermissions(errno))
            return errno;
        return 0;
    }

    int renameOnto()
    {
        if (renameat(folder, name.constData(), folder, target.constData()) != 0)
            return errno;
        forgetName();
        return 0;
    }

    // Without an exclusive rename: a hard link fails on a taken name, as the rename would.
    // Without hard links either (FAT through FUSE), which also means no links to plant, the
    // name is checked and the file renamed.
    int nameNamedFile()
    {
        if (renameat2(folder, name.constData(), folder, target.constData(), RENAME_NOREPLACE)
            == 0) {
            forgetName();
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        if (linkat(folder, name.constData(), folder, target.constData(), 0) == 0) {
            if (unlinkat(folder, name.constData(), 0) == 0)
                forgetName();
            return 0;
        }
        if (errno != EPERM && errno != EOPNOTSUPP)
            return errno;
        struct stat existing
        { };
        if (fstatat(folder, target.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
        return renameOnto();
    }

    // After swapping back a replaced file that changed: what the temporary name holds now is
    // this piece only when no one put another file under the piece's name meanwhile.
    LeftFile::Holds whatCameBack() const
    {
        struct stat status
        { };
        if (fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? LeftFile::Holds::Removable : LeftFile::Holds::AnotherFile;
        return identityOf(status) == identity ? LeftFile::Holds::Removable
                                              : LeftFile::Holds::AnotherFile;
    }

    int folder = -1;
    QByteArray target;
    QByteArray name; // empty while the file is unnamed or once it has its final name
    int descriptor = -1;
    FileIdentity identity;
    qint64 written = 0;
    LeftFile::Holds holds = LeftFile::Holds::Removable; // what the temporary name holds
};

PieceFile::PieceFile(const RecordingFolder &folder, const QString &name)
    : d(std::make_unique<Private>())
{
    d->folder = folderOf(folder);
    d->target = QFile::encodeName(name);
}

PieceFile::~PieceFile()
{
    remove();
}

// Unnamed where the file system offers it, so that not even a crash leaves it behind.
Error PieceFile::create()
{
    d->descriptor = openat(d->folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (d->descriptor < 0) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errorIn(d->folder, errno);
        const int error = d->createNamed([this](const char *candidate) {
            d->descriptor = openat(d->folder, candidate,
                                   O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0666);
            return d->descriptor >= 0;
        });
        if (error)
            return errorIn(d->folder, error);
    }
    struct stat status
    { };
    if (fstat(d->descriptor, &status) != 0)
        return errorIn(d->folder, errno);
    d->identity = identityOf(status);
    return {};
}

FileIdentity PieceFile::identity() const
{
    return d->identity;
}

Error PieceFile::write(const char *data, qint64 length)
{
    if (const Error error = writeFully(d->descriptor, data, length))
        return error;
    // Lets the disk take each slice while the next one is copied. It does not wait, so it
    // cannot take a write-back error away from flush().
    sync_file_range(d->descriptor, d->written, length, SYNC_FILE_RANGE_WRITE);
    d->written += length;
    return {};
}

// Checked, and before anything else waits for write-back: the kernel reports a write-back
// error to each open file only once.
Error PieceFile::flush()
{
    if (fdatasync(d->descriptor) != 0)
        return errorIn(d->folder, errno);
    // Nothing reads the piece again; its clean pages are better left to the next one.
    posix_fadvise(d->descriptor, 0, 0, POSIX_FADV_DONTNEED);
    return {};
}

Error PieceFile::nameWithoutReplacing()
{
    if (!d->name.isEmpty()) {
        if (const int error = d->close())
            return errorIn(d->folder, error);
        const int error = d->nameNamedFile();
        return error ? errorIn(d->folder, error) : Error();
    }
    if (const int error = d->link(d->target.constData()))
        return errorIn(d->folder, error);
    if (const int error = d->close()) {
        unlinkat(d->folder, d->target.constData(), 0);
        return errorIn(d->folder, error);
    }
    return {};
}

// Where the file system can swap two names, the piece is swapped in after the last check and
// the replaced file checked again where it then stands, so that a change made up to the swap
// is still seen and undone by swapping back; elsewhere it is checked, then renamed over.
Error PieceFile::replace(const NameEntry &replaced,
                         const std::function<Error(const QString &name)> &stillAsChecked)
{
    int error = d->takeOwnerAndMode(replaced);
    if (!error)
        error = d->giveName();
    if (!error)
        error = d->close();
    if (error)
        return errorIn(d->folder, error);
    if (const Error changed = stillAsChecked(QFile::decodeName(d->target)))
        return changed;
    // From the swap on, the temporary name holds the replaced file, possibly someone's changed
    // file: a signal that ends the program must leave it.
    pendingFolder = -1;
    if (renameat2(d->folder, d->name.constData(), d->folder, d->target.constData(), RENAME_EXCHANGE)
        != 0) {
        const int failure = errno;
        pendingFolder = d->folder;
        if (failure != EINVAL && failure != ENOSYS && failure != EOPNOTSUPP)
            return errorIn(d->folder, failure);
        error = d->renameOnto();
        return error ? errorIn(d->folder, error) : Error();
    }
    const Error changed = stillAsChecked(QFile::decodeName(d->name));
    if (!changed)
        return {};
    d->holds = renameat2(d->folder, d->name.constData(), d->folder, d->target.constData(),
                         RENAME_EXCHANGE)
                    == 0
            ? d->whatCameBack()
            : LeftFile::Holds::ReplacedFileChanged;
    return changed;
}

LeftFile PieceFile::remove()
{
    d->close();
    if (d->name.isEmpty())
        return {};
    if (d->holds == LeftFile::Holds::Removable
        && (unlinkat(d->folder, d->name.constData(), 0) == 0 || errno == ENOENT)) {
        d->forgetName();
        return {};
    }
    const LeftFile left { QFile::decodeName(d->name), d->holds };
    d->forgetName();
    return left;
}

namespace {

constexpr int EndingSignals[] = { SIGTERM, SIGINT, SIGHUP };
struct sigaction previousActions[3];
bool handled[3];
struct sigaction previousFileSizeAction;

} // namespace

PieceWritingScope::PieceWritingScope()
{
    // A file size limit then fails the write with EFBIG instead of ending the program.
    struct sigaction ignore
    { };
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previousFileSizeAction);
    for (int i = 0; i < 3; ++i) {
        struct sigaction action
        { };
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        handled[i] = sigaction(EndingSignals[i], nullptr, &previousActions[i]) == 0
                && previousActions[i].sa_handler != SIG_IGN
                && sigaction(EndingSignals[i], &action, nullptr) == 0;
    }
}

PieceWritingScope::~PieceWritingScope()
{
    for (int i = 0; i < 3; ++i) {
        if (handled[i])
            sigaction(EndingSignals[i], &previousActions[i], nullptr);
    }
    sigaction(SIGXFSZ, &previousFileSizeAction, nullptr);
}

bool goesByPath()
{
    return false;
}

} // namespace System
