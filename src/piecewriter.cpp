// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "piecewriter.h"

namespace Ddb {

SplitOutcome writePieces(const QByteArray &recording, const RecordingSource &source,
                         const PiecePlan &plan)
{
    Q_ASSERT(plan.status() == PiecePlan::Status::Ready);
    SplitOutcome outcome;
    outcome.folderError = folderError(source);
    if (outcome.folderError != 0)
        return outcome;
    const PieceWritingScope writing;
    const EarlierPieces earlier(recording, plan);
    const QByteArray headerCopy = headerTemplate(recording);
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Piece piece = plan.piece(index);
        if (!piece.isWritable()) {
            outcome.failures.append({ piece.number, PieceFailure::NoFrames, 0, QString() });
            continue;
        }
        Q_ASSERT(piece.firstByte + piece.byteLength <= recording.size());
        PieceBytes bytes { pieceFileName(source.fileName(), piece.number), piece.number, headerCopy,
                           nullptr, 0 };
        if (!stampPieceHeader(bytes.header, piece.timeStamp, piece.frames)) {
            outcome.failures.append({ piece.number, PieceFailure::StampTooLate, 0, QString() });
            continue;
        }
        // Straight from the loaded recording: a second copy would double the memory.
        bytes.data = recording.constData() + piece.firstByte;
        bytes.length = piece.byteLength;
        const PieceOutcome written = writePieceFile(source, bytes, earlier);
        if (written.failure == PieceFailure::None) {
            ++outcome.written;
            if (!piece.isWhole())
                outcome.failures.append({ piece.number, PieceFailure::FewerFrames, 0, QString() });
        }
        if (written.failure != PieceFailure::None || !written.leftover.isEmpty())
            outcome.failures.append(
                    { piece.number, written.failure, written.error, written.leftover });
    }
    if (outcome.written > 0)
        outcome.folderSyncError = syncFolder(source);
    return outcome;
}

} // namespace Ddb
