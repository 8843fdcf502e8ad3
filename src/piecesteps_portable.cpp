// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The steps of writing a piece through the toolkit's QSaveFile, for systems without steps of
// their own. Each piece is still whole or absent, but these steps go by path, the toolkit
// resolves links itself and does not report a failed flush, and a name is checked before the
// piece goes there rather than taken without replacing.
#include "piecesteps.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <csignal>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

using System::Error;

QString pathIn(const System::RecordingFolder &folder, const QString &name)
{
    return folder.path() + QLatin1Char('/') + name;
}

System::FileIdentity identityOf(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    if (lstat(QFile::encodeName(path).constData(), &status) == 0)
        return { quint64(status.st_dev), quint64(status.st_ino) };
#else
    Q_UNUSED(path);
#endif
    return {};
}

// How many names lead to the file; 1 where the system does not tell.
quint64 linksOf(const QString &path)
{
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    if (lstat(QFile::encodeName(path).constData(), &status) == 0)
        return status.st_nlink;
#else
    Q_UNUSED(path);
#endif
    return 1;
}

qint64 nanoseconds(const QDateTime &time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() * 1000000 : 0;
}

Error failureOf(const QFileDevice &file)
{
    System::Cause cause = System::Cause::Other;
    switch (file.error()) {
    case QFileDevice::PermissionsError:
        cause = System::Cause::Permission;
        break;
    case QFileDevice::ResourceError:
        cause = System::Cause::DiskFull;
        break;
    default:
        break;
    }
    return { cause, file.errorString() };
}

} // namespace

namespace System {

NameEntry lookUp(const RecordingFolder &folder, const QString &name, Error *error)
{
    Q_UNUSED(error);
    using Kind = NameEntry::Kind;
    const QString path = pathIn(folder, name);
    const QFileInfo info(path);
    NameEntry entry;
    if (info.isSymLink())
        entry.kind = Kind::Link;
    else if (!info.exists())
        return entry;
    else
        entry.kind = info.isFile() ? Kind::RegularFile : Kind::NotARegularFile;
    entry.identity = identityOf(path);
    entry.links = linksOf(path);
    entry.size = info.size();
    entry.modified = nanoseconds(info.lastModified());
    entry.changed = nanoseconds(info.metadataChangeTime());
    entry.fineChangeTime = info.metadataChangeTime().time().msec() != 0;
    constexpr QFile::Permissions writeBits
            = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    entry.writeBits = (info.permissions() & writeBits) != 0;
    return entry;
}

Error mayWrite(const RecordingFolder &folder, const QString &name)
{
    return QFileInfo(pathIn(folder, name)).isWritable() ? Error()
                                                        : System::errorOf(Cause::Permission);
}

QStringList namesIn(const RecordingFolder &folder)
{
    return QDir(folder.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

struct FileReader::Private
{
    QFile file;
};

FileReader::FileReader(const RecordingFolder &folder, const QString &name)
    : d(std::make_unique<Private>())
{
    const QString path = pathIn(folder, name);
    d->file.setFileName(path);
    if (!d->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        m_error = failureOf(d->file);
        return;
    }
    m_identity = identityOf(path);
    m_size = d->file.size();
}

FileReader::~FileReader() = default;

// The toolkit cannot make a file last.
Error FileReader::flush() const
{
    return {};
}

bool FileReader::read(qint64 offset, char *data, qint64 length) const
{
    return d->file.seek(offset) && d->file.read(data, length) == length;
}

struct PieceFile::Private
{
    RecordingFolder const *folder = nullptr;
    QString name;
    std::unique_ptr<QSaveFile> file;
};

PieceFile::PieceFile(const RecordingFolder &folder, const QString &name)
    : d(std::make_unique<Private>())
{
    d->folder = &folder;
    d->name = name;
}

PieceFile::~PieceFile() = default;

Error PieceFile::create()
{
    d->file = std::make_unique<QSaveFile>(pathIn(*d->folder, d->name));
    return d->file->open(QIODevice::WriteOnly | QIODevice::Unbuffered) ? Error()
                                                                       : failureOf(*d->file);
}

// QSaveFile names its file itself.
FileIdentity PieceFile::identity() const
{
    return {};
}

Error PieceFile::write(const char *data, qint64 length)
{
    return d->file->write(data, length) == length ? Error() : failureOf(*d->file);
}

// QSaveFile flushes to the disk when it commits, and does not say whether that failed.
Error PieceFile::flush()
{
    return d->file->flush() ? Error() : failureOf(*d->file);
}

Error PieceFile::nameWithoutReplacing()
{
    Error error;
    if (lookUp(*d->folder, d->name, &error).kind != NameEntry::Kind::Nothing)
        return System::errorOf(Cause::ChangedMeanwhile);
    return d->file->commit() ? Error() : failureOf(*d->file);
}

// QSaveFile keeps the permissions of the file it replaces.
Error PieceFile::replace(const NameEntry &replaced,
                         const std::function<Error(const QString &name)> &stillAsChecked)
{
    Q_UNUSED(replaced);
    if (const Error changed = stillAsChecked(d->name))
        return changed;
    return d->file->commit() ? Error() : failureOf(*d->file);
}

// An uncommitted QSaveFile removes its temporary file itself.
LeftFile PieceFile::remove()
{
    d->file.reset();
    return {};
}

#if defined(SIGXFSZ)
namespace {
void (*previousFileSizeAction)(int) = SIG_DFL;
} // namespace

// A file size limit then fails the write instead of ending the program.
PieceWritingScope::PieceWritingScope()
{
    previousFileSizeAction = signal(SIGXFSZ, SIG_IGN);
}

PieceWritingScope::~PieceWritingScope()
{
    signal(SIGXFSZ, previousFileSizeAction);
}
#else
PieceWritingScope::PieceWritingScope() = default;
PieceWritingScope::~PieceWritingScope() = default;
#endif

bool goesByPath()
{
    return true;
}

} // namespace System
