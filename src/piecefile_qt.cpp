// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Piece files through the toolkit's QSaveFile, for systems without the Linux writer. It
// writes each piece whole or not at all and replaces only an earlier piece of the recording,
// but it goes by path, resolves links itself and does not report a failed flush, so it cannot
// promise what the Linux writer does.
#include "piecefile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <csignal>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

using Ddb::PieceFailure;
using Ddb::PieceOutcome;

bool isTheRecording(const QString &fileName, const Ddb::FileIdentity &identity)
{
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    return identity.isKnown() && lstat(QFile::encodeName(fileName).constData(), &status) == 0
            && Ddb::FileIdentity { quint64(status.st_dev), quint64(status.st_ino) } == identity;
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

PieceOutcome checkName(const QString &fileName, quint32 number, const Ddb::RecordingSource &source,
                       const Ddb::EarlierPieces &earlier)
{
    const QFileInfo info(fileName);
    if (info.isSymLink())
        return { PieceFailure::LinkInTheWay, 0, QString() };
    if (!info.exists())
        return {};
    if (!info.isFile())
        return { PieceFailure::FolderInTheWay, 0, QString() };
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

bool writeInSlices(QSaveFile &file, const char *data, qint64 length)
{
    for (qint64 done = 0; done < length; done += Ddb::WriteSliceSize) {
        const qint64 size = qMin(Ddb::WriteSliceSize, length - done);
        if (file.write(data + done, size) != size)
            return false;
    }
    return true;
}

} // namespace

namespace Ddb {

PieceOutcome writePieceFile(const RecordingSource &source, const PieceBytes &piece,
                            const EarlierPieces &earlier)
{
    const QString fileName = source.folderPath() + QLatin1Char('/') + piece.name;
    const PieceOutcome check = checkName(fileName, piece.number, source, earlier);
    if (check.failure != PieceFailure::None)
        return check;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return { PieceFailure::DiskRefused, 0, QString() };
    if (!writeInSlices(file, piece.header.constData(), piece.header.size())
        || !writeInSlices(file, piece.data, piece.length)) {
        file.cancelWriting();
        return { PieceFailure::DiskRefused, 0, QString() };
    }
    if (!file.commit())
        return { PieceFailure::DiskRefused, 0, QString() };
    return {};
}

NameHolds whatNameHolds(const RecordingSource &source, const QString &name, quint32 number,
                        const EarlierPieces &earlier)
{
    const QString fileName = source.folderPath() + QLatin1Char('/') + name;
    const QFileInfo info(fileName);
    if (!info.exists() && !info.isSymLink())
        return NameHolds::Nothing;
    return info.isFile() && !info.isSymLink() && isEarlierPiece(fileName, number, earlier)
            ? NameHolds::EarlierPiece
            : NameHolds::SomethingElse;
}

int folderError(const RecordingSource &source)
{
    Q_UNUSED(source);
    return 0;
}

int syncFolder(const RecordingSource &source)
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
