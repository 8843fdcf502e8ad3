// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The one flow of putting a piece on disk; each system supplies its steps (PieceSteps).
#include "piecefile.h"

#include "piecesteps.h"

namespace {

// Measured: one write of hundreds of megabytes took several times longer than the same
// bytes in slices of a few megabytes.
int writeInSlices(Ddb::PieceSteps &steps, const char *data, qint64 length)
{
    for (qint64 done = 0; done < length; done += Ddb::WriteSliceSize) {
        if (const int error = steps.write(data + done, qMin(Ddb::WriteSliceSize, length - done)))
            return error;
    }
    return 0;
}

} // namespace

namespace Ddb {

PieceOutcome writePieceFile(const System::RecordingSource &source, const PieceBytes &piece,
                            const EarlierPieces &earlier)
{
    PieceSteps steps(source, piece.name);
    PieceOutcome outcome = steps.check(piece.number, earlier);
    if (outcome.failure != PieceFailure::None)
        return outcome;
    int error = steps.create();
    if (!error)
        error = writeInSlices(steps, piece.header.constData(), piece.header.size());
    if (!error)
        error = writeInSlices(steps, piece.data, piece.length);
    if (!error && steps.replaces())
        error = steps.takeAttributes();
    if (!error)
        error = steps.flush();
    outcome = error ? PieceOutcome { PieceFailure::DiskRefused, qMax(error, 0), QString() }
                    : steps.commit();
    outcome.leftover = steps.discard();
    return outcome;
}

NameHolds whatNameHolds(const System::RecordingSource &source, const QString &name, quint32 number,
                        const EarlierPieces &earlier)
{
    return PieceSteps(source, name).holds(number, earlier);
}

} // namespace Ddb
