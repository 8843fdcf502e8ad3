// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "piecefile.h"
#include "pieceplan.h"
#include "recordingfile.h"

#include <QByteArray>
#include <QString>
#include <QVector>

struct FailedPiece
{
    quint32 number = 0;
    Ddb::PieceFailure failure = Ddb::PieceFailure::None;
    int error = 0; // errno of a DiskRefused, when the system gave one
};

struct SplitOutcome
{
    quint32 written = 0;
    // Pieces not written, or written with fewer frames than planned, in piece order.
    QVector<FailedPiece> failures;
    int folderSyncError = 0; // errno when the new names could not be made lasting

    bool succeeded() const { return failures.isEmpty() && folderSyncError == 0; }
};

namespace Ddb {

// Writes every piece of the plan beside the source, each as a complete DDB file of the
// frames the plan gives it. A piece that fails is skipped, its number used up, and the next
// piece is still written. The plan must be Ready and made for `recording`; `identity` is
// the file the recording was read from, which is never written.
SplitOutcome writePieces(const QByteArray &recording, const FileIdentity &identity,
                         const QString &sourcePath, const PiecePlan &plan);

} // namespace Ddb
