// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "piecefile.h"
#include "pieceplan.h"
#include "recording.h"
#include "splitprogress.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Ddb {

struct FailedPiece
{
    quint32 number = 0;
    PieceOutcome outcome;
    quint32 frames = 0; // what the piece holds, or would have held
    quint32 plannedFrames = 0;
    qint64 bytes = 0; // its size on disk, header included
};

// A temporary file of this program's found in the folder, left by a split that ended
// without finishing.
struct StrandedFile
{
    QString name;
    qint64 size = 0;
};

struct SplitOutcome
{
    quint32 written = 0;
    quint32 kept = 0; // of those written: earlier pieces that held the same bytes, kept as they are
    // Pieces not written, written with fewer frames than planned, or that left a temporary
    // file behind, in piece order.
    QVector<FailedPiece> failures;
    System::Error folderError; // the recording's folder could not be held: nothing written
    bool buffersShort = false; // the split's buffers could not be had: nothing written
    bool changedBeforeSplit = false; // the recording changed after it was opened: nothing written
    // HeldElsewhere: another split was writing into the folder, nothing written; NotLockable:
    // written without a lock, which the folder's file system cannot take.
    System::RecordingFolder::Lock lock = System::RecordingFolder::Lock::Held;
    // The folder is memory, and the pieces would have needed this much more than is free:
    // nothing written.
    qint64 memoryShort = 0;
    System::Error folderSyncError; // the new names could not be made lasting
    // Earlier pieces of the recording that this split did not replace: under the names of
    // pieces it did not write, or numbered above its last.
    QVector<quint32> stalePieces;
    // Temporary files in the folder that splits which ended without finishing left behind.
    QVector<StrandedFile> strandedTemporaries;

    // Asked to stop, it left pieces unwritten.
    bool stopped() const
    {
        return !failures.isEmpty()
                && failures.constLast().outcome.failure == PieceFailure::StopAsked;
    }

    bool succeeded() const
    {
        return failures.isEmpty() && !folderError && !buffersShort && !changedBeforeSplit
                && lock != System::RecordingFolder::Lock::HeldElsewhere && memoryShort == 0
                && !folderSyncError;
    }
};

// Writes every piece of the plan into the recording's folder, each as a complete DDB file of
// the frames the plan gives it, read from the recording slice by slice. A piece that fails is
// skipped, its number used up, and the next piece is still written; where the recording itself
// cannot be read, the split stops there. The plan must be Ready and made for `recording`,
// which is never written. Where the folder is memory itself, pieces that would take more than
// `memoryLimit` bytes (-1: no limit known) are refused before any is written. Before it
// returns, every piece written is checked to be still the file under its name. It tells
// `progress` which piece it is at, and, asked there to stop, leaves the piece it is at and
// those after it unwritten.
SplitOutcome writePieces(Recording &recording, const PiecePlan &plan, qint64 memoryLimit,
                         SplitProgress &progress);

} // namespace Ddb
