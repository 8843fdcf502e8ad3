// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "piecewriter.h"

#include "piecesteps.h"

namespace {

// Held for the whole split: a second split into the same folder is refused meanwhile.
class FolderLock
{
public:
    explicit FolderLock(System::RecordingSource &source)
        : m_source(source)
        , m_state(source.lockFolder())
    { }
    ~FolderLock()
    {
        if (m_state == System::RecordingSource::FolderLock::Held)
            m_source.unlockFolder();
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    System::RecordingSource::FolderLock state() const { return m_state; }

private:
    System::RecordingSource &m_source;
    const System::RecordingSource::FolderLock m_state;
};

// What the pieces take, header and frames.
qint64 bytesToWrite(const Ddb::PiecePlan &plan)
{
    qint64 bytes = 0;
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Ddb::Piece piece = plan.piece(index);
        if (piece.isWritable())
            bytes += Ddb::HeaderSize + piece.byteLength;
    }
    return bytes;
}

bool wasWritten(const Ddb::FailedPiece &piece)
{
    return piece.outcome.failure == Ddb::PieceFailure::None
            || piece.outcome.failure == Ddb::PieceFailure::FewerFrames;
}

Ddb::FailedPiece failed(const Ddb::Piece &piece, const Ddb::PieceOutcome &outcome)
{
    return { piece.number, outcome, piece.frames, piece.plannedFrames,
             Ddb::HeaderSize + piece.byteLength };
}

Ddb::FailedPiece failed(const Ddb::Piece &piece, Ddb::PieceFailure failure)
{
    return failed(piece, { failure, System::Error(), QString() });
}

// Earlier pieces this split leaves: names of its own it did not write, and names numbered
// above its last while such names exist.
QVector<quint32> stalePieces(const System::RecordingSource &source, const Ddb::PiecePlan &plan,
                             const Ddb::EarlierPieces &earlier, const Ddb::SplitOutcome &outcome)
{
    using Ddb::NameHolds;
    QVector<quint32> stale;
    // Each file is read once: a name that leads to a file already compared, a hard link of
    // it say, takes its verdict.
    Ddb::ComparedFiles compared;
    const auto holdsEarlierPiece = [&](quint32 number) {
        return Ddb::whatNameHolds(source, Ddb::pieceFileName(source.fileName(), number), number,
                                  earlier, compared);
    };
    for (const Ddb::FailedPiece &piece : outcome.failures) {
        if (!wasWritten(piece) && holdsEarlierPiece(piece.number) == NameHolds::EarlierPiece)
            stale << piece.number;
    }
    for (quint32 number = plan.pieceCount() + 1;
         number <= plan.pieceCount() + Ddb::PiecePlan::MaxPieces; ++number) {
        const NameHolds holds = holdsEarlierPiece(number);
        if (holds == NameHolds::Nothing)
            break;
        if (holds == NameHolds::EarlierPiece)
            stale << number;
    }
    return stale;
}

} // namespace

namespace Ddb {

Ddb::SplitOutcome writePieces(const QByteArray &recording, System::RecordingSource &source,
                              const Ddb::PiecePlan &plan, qint64 memoryLimit)
{
    Q_ASSERT(plan.status() == Ddb::PiecePlan::Status::Ready);
    Ddb::SplitOutcome outcome;
    outcome.folderError = source.folderError();
    if (outcome.folderError)
        return outcome;
    const FolderLock lock(source);
    outcome.lock = lock.state();
    if (outcome.lock == System::RecordingSource::FolderLock::HeldElsewhere)
        return outcome;
    // Pieces in a folder that is memory take memory as they are written.
    if (source.folderIsInMemory() && memoryLimit >= 0) {
        outcome.memoryShort = qMax<qint64>(0, bytesToWrite(plan) - memoryLimit);
        if (outcome.memoryShort > 0)
            return outcome;
    }
    const System::PieceWritingScope writing;
    const EarlierPieces earlier(recording, plan);
    const QByteArray headerCopy = headerTemplate(recording);
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Ddb::Piece piece = plan.piece(index);
        if (!piece.isWritable()) {
            outcome.failures.append(failed(piece, PieceFailure::NoFrames));
            continue;
        }
        Q_ASSERT(piece.firstByte + piece.byteLength <= recording.size());
        PieceBytes bytes { pieceFileName(source.fileName(), piece.number), piece.number, headerCopy,
                           nullptr, 0 };
        if (!stampPieceHeader(bytes.header, piece.timeStamp, piece.frames)) {
            outcome.failures.append(failed(piece, PieceFailure::StampTooLate));
            continue;
        }
        // Straight from the loaded recording: a second copy would double the memory.
        bytes.data = recording.constData() + piece.firstByte;
        bytes.length = piece.byteLength;
        const PieceOutcome written = writePieceFile(source, bytes, earlier);
        if (written.failure == PieceFailure::None) {
            ++outcome.written;
            if (!piece.isWhole())
                outcome.failures.append(failed(piece, PieceFailure::FewerFrames));
        }
        if (written.failure != PieceFailure::None || !written.leftover.isEmpty())
            outcome.failures.append(failed(piece, written));
    }
    if (outcome.written > 0)
        outcome.folderSyncError = source.syncFolder();
    outcome.stalePieces = stalePieces(source, plan, earlier, outcome);
    // While the folder is held no other split on this machine writes into it, so these are
    // no running split's.
    if (lock.state() == System::RecordingSource::FolderLock::Held) {
        outcome.strandedTemporaries = System::temporaryFiles(source);
        for (const Ddb::FailedPiece &piece : qAsConst(outcome.failures))
            outcome.strandedTemporaries.removeOne(piece.outcome.leftover);
    }
    return outcome;
}

} // namespace Ddb
