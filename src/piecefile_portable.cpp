// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Piece files through the toolkit's QSaveFile, for systems without the Linux writer. It
// writes each piece whole or not at all and replaces only an earlier piece of the recording,
// but it goes by path, resolves links itself and does not report a failed flush, so it cannot
// promise what the Linux writer does.
#include "piecesteps.h"

#include <QFileInfo>
#include <QSaveFile>

#include <csignal>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

using Ddb::PieceFailure;
using Ddb::PieceOutcome;

bool isTheRecording(const QString &fileName, const System::FileIdentity &identity)
{
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    return identity.isKnown() && lstat(QFile::encodeName(fileName).constData(), &status) == 0
            && System::FileIdentity { quint64(status.st_dev), quint64(status.st_ino) } == identity;
#else
    Q_UNUSED(fileName);
    Q_UNUSED(identity);
    return false;
#endif
}

bool isEarlierPiece(const QString &fileName, quint32 number, const Ddb::EarlierPieces &earlier)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    return earlier.isPiece(number, file.size(), [&file](qint64 offset, char *data, qint64 length) {
        return file.seek(offset) && file.read(data, length) == length;
    });
}

PieceOutcome checkName(const QString &fileName, quint32 number,
                       const System::RecordingSource &source, const Ddb::EarlierPieces &earlier)
{
    const QFileInfo info(fileName);
    if (info.isSymLink())
        return { PieceFailure::LinkInTheWay, 0, QString() };
    if (!info.exists())
        return {};
    if (!info.isFile())
        return { PieceFailure::NotARegularFile, 0, QString() };
    if (isTheRecording(fileName, source.identity()))
        return { PieceFailure::IsTheRecording, 0, QString() };
    // The bits protect a read-only file from root, whom the system lets write it.
    constexpr QFile::Permissions writeBits
            = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & writeBits) || !info.isWritable())
        return { PieceFailure::WriteProtected, 0, QString() };
    if (!isEarlierPiece(fileName, number, earlier))
        return { PieceFailure::DifferentFile, 0, QString() };
    return {};
}

} // namespace

namespace Ddb {

struct PieceSteps::Private
{
    Private(const System::RecordingSource &recording, const QString &name)
        : source(recording)
        , fileName(recording.folderPath() + QLatin1Char('/') + name)
    { }

    const System::RecordingSource &source;
    const QString fileName;
    bool exists = false;
    std::unique_ptr<QSaveFile> file;
};

PieceSteps::PieceSteps(const System::RecordingSource &source, const QString &name)
    : d(std::make_unique<Private>(source, name))
{ }

PieceSteps::~PieceSteps() = default;

PieceOutcome PieceSteps::check(quint32 number, const EarlierPieces &earlier)
{
    d->exists = QFileInfo::exists(d->fileName);
    return checkName(d->fileName, number, d->source, earlier);
}

bool PieceSteps::replaces() const
{
    return d->exists;
}

int PieceSteps::create()
{
    d->file = std::make_unique<QSaveFile>(d->fileName);
    return d->file->open(QIODevice::WriteOnly | QIODevice::Unbuffered) ? 0 : UnknownError;
}

int PieceSteps::write(const char *data, qint64 length)
{
    return d->file->write(data, length) == length ? 0 : UnknownError;
}

// QSaveFile keeps the permissions of the file it replaces.
int PieceSteps::takeAttributes()
{
    return 0;
}

// QSaveFile flushes when it commits, and does not report a failed flush.
int PieceSteps::flush()
{
    return 0;
}

PieceOutcome PieceSteps::commit()
{
    if (d->file->commit())
        return {};
    return { PieceFailure::DiskRefused, 0, QString() };
}

// An uncommitted QSaveFile removes its temporary file itself.
QString PieceSteps::discard()
{
    d->file.reset();
    return QString();
}

NameHolds PieceSteps::holds(quint32 number, const EarlierPieces &earlier)
{
    const QFileInfo info(d->fileName);
    if (!info.exists() && !info.isSymLink())
        return NameHolds::Nothing;
    return info.isFile() && !info.isSymLink() && isEarlierPiece(d->fileName, number, earlier)
            ? NameHolds::EarlierPiece
            : NameHolds::SomethingElse;
}

int folderError(const System::RecordingSource &source)
{
    Q_UNUSED(source);
    return 0;
}

int syncFolder(const System::RecordingSource &source)
{
    Q_UNUSED(source);
    return 0;
}

PieceWritingScope::PieceWritingScope()
{
#if defined(SIGXFSZ)
    // A file size limit then fails the write instead of killing the program.
    signal(SIGXFSZ, SIG_IGN);
#endif
}

PieceWritingScope::~PieceWritingScope() = default;

bool writerGuardsLinksAndFlushes()
{
    return false;
}

} // namespace Ddb
