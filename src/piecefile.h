// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "earlierpiece.h"
#include "piecesteps.h"
#include "recording.h"
#include "splitprogress.h"
#include "systemerror.h"

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QString>

namespace Ddb {

// Why one piece is not on disk as planned.
enum class PieceFailure {
    None,
    NotARegularFile, // a folder, or something else that is no regular file, has the name
    LinkInTheWay, // a link has the name; it is never followed nor replaced
    IsTheRecording, // the name is the loaded recording's own file
    WriteProtected, // the file there has no write permission bit, or this user may not write it
    DifferentFile, // a file that is no earlier piece of this recording has the name
    Unreadable, // the file there could not be read to tell whether it is an earlier piece
    NotWritten, // a step on the disk failed; `error` tells why
    NoFrames, // the recording holds no frame of the piece's share, so it was not written
    FewerFrames, // written, but the recording ends inside its share
    StampTooLate, // its stamp falls after the last year a header can hold; not written
    ReplacedAfterWriting, // written, but another file stood under its name when the split ended
    RecordingUnreadable, // the recording could not be read; the split stops there
    RecordingShortened, // the recording is shorter than when it was opened; the split stops
    RecordingChanged, // the recording changed while its frames were read; the split stops
    SplitStopped, // not written: the split stopped at a piece before it
    StopAsked, // not written: the split was asked to stop while at it, or before it
};

struct PieceOutcome
{
    PieceFailure failure = PieceFailure::None;
    System::Error error; // the step that failed, for NotWritten and Unreadable
    System::LeftFile leftover; // a temporary file that was kept or could not be removed
    System::FileIdentity identity; // the file written, where the system tells
    bool kept = false; // the earlier piece there held these very bytes and was kept as it is
};

// One piece's name in the recording's folder, its number, its header and where its frames
// lie in the recording.
struct PieceBytes
{
    QString name;
    quint32 number = 0;
    QByteArray header;
    qint64 firstByte = 0;
    qint64 length = 0;
};

// Puts the piece on disk in the recording's folder, whole or not at all, its frames read from
// the recording through `slice`: what stands under its name is replaced only when it is an
// earlier piece of the same recording (`earlier` tells), keeping its permission bits, and
// stays exactly as it was when the piece fails. Asked to stop before a slice is read, it leaves
// the piece unwritten.
PieceOutcome writePieceFile(const Recording &recording, const PieceBytes &piece,
                            const EarlierPieces &earlier, QByteArray &slice,
                            const SplitProgress &progress);

// What stands under a piece name, seen without changing it. A file already in `compared`, by
// its identity, is not read again.
enum class NameHolds { Nothing, EarlierPiece, SomethingElse };
using ComparedFiles = QHash<QPair<quint64, quint64>, NameHolds>;
NameHolds whatNameHolds(const Recording &recording, const QString &name, quint32 number,
                        const EarlierPieces &earlier, ComparedFiles &compared);

} // namespace Ddb
