// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "earlierpiece.h"
#include "recordingsource.h"

#include <QByteArray>
#include <QString>

namespace Ddb {

// The most one write hands the system at a time.
constexpr qint64 WriteSliceSize = qint64(8) << 20;

// Why one piece is not on disk as planned.
enum class PieceFailure {
    None,
    NotARegularFile, // a folder, or something else that is no regular file, has the name
    LinkInTheWay, // a link has the name; it is never followed nor replaced
    IsTheRecording, // the name is the loaded recording's own file
    WriteProtected, // the file there has no write permission bit, or this user may not write it
    DifferentFile, // a file that is no earlier piece of this recording has the name
    ChangedMeanwhile, // the name was taken, or its file changed, while the piece was written
    DiskRefused, // creating, writing, flushing or renaming failed; `error` tells how
    NoFrames, // the recording holds no frame of the piece's share, so it was not written
    FewerFrames, // written, but the recording ends inside its share
    StampTooLate, // its stamp falls after the last year a header can hold; not written
};

struct PieceOutcome
{
    PieceFailure failure = PieceFailure::None;
    int error = 0; // errno of a DiskRefused, when the system gave one
    QString leftover; // a temporary file that could not be removed
};

// One piece's name in the recording's folder, its number and its bytes.
struct PieceBytes
{
    QString name;
    quint32 number = 0;
    QByteArray header;
    const char *data = nullptr;
    qint64 length = 0;
};

// Puts the piece on disk in the recording's folder, whole or not at all: what stands under its
// name is replaced only when it is an earlier piece of the same recording (`earlier` tells),
// keeping its permission bits, and stays exactly as it was when the piece fails.
PieceOutcome writePieceFile(const System::RecordingSource &source, const PieceBytes &piece,
                            const EarlierPieces &earlier);

// What stands under a piece name, seen without changing it.
enum class NameHolds { Nothing, EarlierPiece, SomethingElse };
NameHolds whatNameHolds(const System::RecordingSource &source, const QString &name, quint32 number,
                        const EarlierPieces &earlier);

// 0 when pieces can be put in the recording's folder, else the errno that says why not.
int folderError(const System::RecordingSource &source);

// Makes the names given in the recording's folder survive a power cut. Returns 0 or an errno.
int syncFolder(const System::RecordingSource &source);

// Held while a split writes: a file size limit fails a piece instead of killing the program,
// and a signal that ends it removes the temporary file being written.
class PieceWritingScope
{
public:
    PieceWritingScope();
    ~PieceWritingScope();
    PieceWritingScope(const PieceWritingScope &) = delete;
    PieceWritingScope &operator=(const PieceWritingScope &) = delete;
};

// Whether this build's writer keeps its promises against links and failed flushes, which
// the toolkit's portable file saving cannot.
bool writerGuardsLinksAndFlushes();

} // namespace Ddb
