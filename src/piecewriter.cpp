// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "piecewriter.h"

#include <QFileInfo>

namespace Ddb {

SplitOutcome writePieces(const QByteArray &recording, const FileIdentity &identity,
                         const QString &sourcePath, const PiecePlan &plan)
{
    Q_ASSERT(plan.status() == PiecePlan::Status::Ready);
    const QByteArray headerCopy = headerTemplate(recording);
    SplitOutcome outcome;
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Piece piece = plan.piece(index);
        if (!piece.isWritable()) {
            outcome.failures.append({ piece.number, PieceFailure::NoFrames, 0 });
            continue;
        }
        Q_ASSERT(piece.firstByte + piece.byteLength <= recording.size());
        QByteArray header = headerCopy;
        stampPieceHeader(header, piece.timeStamp, piece.frames);
        // Straight from the loaded recording: a second copy would double the memory.
        const PieceOutcome written = writePieceFile(pieceFileName(sourcePath, piece.number), header,
                                                    recording.constData() + piece.firstByte,
                                                    piece.byteLength, identity);
        if (written.failure != PieceFailure::None) {
            outcome.failures.append({ piece.number, written.failure, written.error });
            continue;
        }
        ++outcome.written;
        if (!piece.isWhole())
            outcome.failures.append({ piece.number, PieceFailure::FewerFrames, 0 });
    }
    if (outcome.written > 0)
        outcome.folderSyncError = syncFolder(QFileInfo(sourcePath).absolutePath());
    return outcome;
}

} // namespace Ddb
