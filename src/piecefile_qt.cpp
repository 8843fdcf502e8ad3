// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Piece files through the toolkit's QSaveFile, for systems without the Linux writer. It
// writes each piece whole or not at all, but it resolves links itself and does not report
// a failed flush, so it cannot promise what the Linux writer does.
#include "piecefile.h"

#include <QFileInfo>
#include <QSaveFile>

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

PieceOutcome checkName(const QString &fileName, const Ddb::FileIdentity &recording)
{
    const QFileInfo info(fileName);
    if (info.isSymLink())
        return { PieceFailure::LinkInTheWay, 0 };
    if (!info.exists())
        return {};
    if (!info.isFile())
        return { PieceFailure::FolderInTheWay, 0 };
    if (isTheRecording(fileName, recording))
        return { PieceFailure::IsTheRecording, 0 };
    // The bits alone: what this user may do says nothing for root.
    constexpr QFile::Permissions writeBits
            = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(info.permissions() & writeBits))
        return { PieceFailure::WriteProtected, 0 };
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

PieceOutcome writePieceFile(const QString &fileName, const QByteArray &header, const char *data,
                            qint64 length, const FileIdentity &recording)
{
    const PieceOutcome check = checkName(fileName, recording);
    if (check.failure != PieceFailure::None)
        return check;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return { PieceFailure::DiskRefused, 0 };
    if (!writeInSlices(file, header.constData(), header.size())
        || !writeInSlices(file, data, length)) {
        file.cancelWriting();
        return { PieceFailure::DiskRefused, 0 };
    }
    return file.commit() ? PieceOutcome() : PieceOutcome { PieceFailure::DiskRefused, 0 };
}

int syncFolder(const QString &folder)
{
    Q_UNUSED(folder);
    return 0;
}

bool writerGuardsLinksAndFlushes()
{
    return false;
}

} // namespace Ddb
