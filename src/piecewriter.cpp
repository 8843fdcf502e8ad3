// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "piecewriter.h"

#include "piecesteps.h"

#include <algorithm>

namespace {

using System::NameEntry;

// Held for the whole split: a second split into the same folder is refused meanwhile.
class FolderLock
{
public:
    explicit FolderLock(System::RecordingFolder &folder)
        : m_folder(folder)
        , m_state(folder.lock())
    { }
    ~FolderLock()
    {
        if (m_state == System::RecordingFolder::Lock::Held)
            m_folder.unlock();
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;
    System::RecordingFolder::Lock state() const { return m_state; }

private:
    System::RecordingFolder &m_folder;
    const System::RecordingFolder::Lock m_state;
};

// What the pieces add to a folder that is memory: each piece less the file under its name,
// which it replaces (a file that other names lead to frees nothing), and the largest piece
// that replaces a file, whose temporary file stands beside that file until the rename.
qint64 memoryNeeded(const Ddb::Recording &recording, const Ddb::PiecePlan &plan)
{
    qint64 added = 0;
    qint64 largestReplacing = 0;
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Ddb::Piece piece = plan.piece(index);
        if (!piece.isWritable())
            continue;
        const qint64 bytes = Ddb::HeaderSize + piece.byteLength;
        System::Error error;
        const NameEntry there = System::lookUp(
                recording.folder(), Ddb::pieceFileName(recording.fileName(), piece.number), &error);
        if (there.kind != NameEntry::Kind::RegularFile) {
            added += bytes;
            continue;
        }
        added += qMax<qint64>(0, bytes - (there.links == 1 ? there.size : 0));
        largestReplacing = qMax(largestReplacing, bytes);
    }
    return added + largestReplacing;
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
    return failed(piece, { failure, System::Error(), {}, {}, false });
}

// The numbers above `last` that name a piece of `fileName` among `names`, in order.
QVector<quint32> pieceNumbersAbove(const QStringList &names, const QString &fileName, quint32 last)
{
    // The names of pieces 0 and 1 differ in the number alone.
    const QString zero = Ddb::pieceFileName(fileName, 0);
    const QString one = Ddb::pieceFileName(fileName, 1);
    const int at
            = int(std::mismatch(zero.cbegin(), zero.cend(), one.cbegin()).first - zero.cbegin());
    const QString before = zero.left(at);
    const QString after = zero.mid(at + 1);
    QVector<quint32> numbers;
    for (const QString &name : names) {
        if (name.size() <= before.size() + after.size() || !name.startsWith(before)
            || !name.endsWith(after))
            continue;
        bool isNumber = false;
        const quint32 number
                = QStringView(name)
                          .mid(before.size(), name.size() - before.size() - after.size())
                          .toString()
                          .toUInt(&isNumber);
        if (isNumber && number > last && Ddb::pieceFileName(fileName, number) == name)
            numbers << number;
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// Earlier pieces this split leaves: names of its own it did not write, and every name in the
// folder numbered above its last.
QVector<quint32> stalePieces(const Ddb::Recording &recording, const Ddb::PiecePlan &plan,
                             const Ddb::EarlierPieces &earlier, const Ddb::SplitOutcome &outcome,
                             const QStringList &names)
{
    using Ddb::NameHolds;
    QVector<quint32> stale;
    // Each file is read once: a name that leads to a file already compared, a hard link of
    // it say, takes its verdict.
    Ddb::ComparedFiles compared;
    const auto holdsEarlierPiece = [&](quint32 number) {
        return Ddb::whatNameHolds(recording, Ddb::pieceFileName(recording.fileName(), number),
                                  number, earlier, compared);
    };
    for (const Ddb::FailedPiece &piece : outcome.failures) {
        // Where the replaced file could not be swapped back, the name holds this split's piece.
        const bool swappedIn
                = piece.outcome.leftover.holds == System::LeftFile::Holds::ReplacedFileChanged;
        if (!wasWritten(piece) && !swappedIn
            && holdsEarlierPiece(piece.number) == NameHolds::EarlierPiece)
            stale << piece.number;
    }
    const QVector<quint32> above
            = pieceNumbersAbove(names, recording.fileName(), plan.pieceCount());
    for (const quint32 number : above) {
        if (holdsEarlierPiece(number) == NameHolds::EarlierPiece)
            stale << number;
    }
    return stale;
}

// This program's temporary files among `names` that this split did not leave.
QVector<Ddb::StrandedFile> strandedTemporaries(const Ddb::Recording &recording,
                                               const QStringList &names,
                                               const Ddb::SplitOutcome &outcome)
{
    QStringList own;
    for (const Ddb::FailedPiece &piece : outcome.failures)
        own << piece.outcome.leftover.name;
    QVector<Ddb::StrandedFile> stranded;
    for (const QString &name : names) {
        if (!System::isTemporaryName(name) || own.contains(name))
            continue;
        System::Error error;
        const NameEntry entry = System::lookUp(recording.folder(), name, &error);
        if (entry.kind == NameEntry::Kind::RegularFile)
            stranded.append({ name, entry.size });
    }
    std::sort(
            stranded.begin(), stranded.end(),
            [](const Ddb::StrandedFile &a, const Ddb::StrandedFile &b) { return a.name < b.name; });
    return stranded;
}

struct PlacedPiece
{
    Ddb::Piece piece;
    System::FileIdentity identity;
};

// A piece that another file stands in for now, in piece order among the failures.
void markReplaced(const Ddb::Piece &piece, Ddb::SplitOutcome &outcome)
{
    auto &failures = outcome.failures;
    const auto at = std::lower_bound(
            failures.begin(), failures.end(), piece.number,
            [](const Ddb::FailedPiece &failed, quint32 number) { return failed.number < number; });
    --outcome.written;
    if (at != failures.end() && at->number == piece.number) {
        at->outcome.failure = Ddb::PieceFailure::ReplacedAfterWriting;
        return;
    }
    failures.insert(at, failed(piece, Ddb::PieceFailure::ReplacedAfterWriting));
}

// "Split completed" is said only of pieces that are still what this split put under their
// names: a second path to the folder (an overlay's upper folder, a bind mount) escapes its
// lock, and another split may have written there meanwhile.
void checkPlacedPieces(const Ddb::Recording &recording, const QVector<PlacedPiece> &placed,
                       Ddb::SplitOutcome &outcome)
{
    for (const PlacedPiece &placedPiece : placed) {
        const Ddb::Piece &piece = placedPiece.piece;
        if (!placedPiece.identity.isKnown())
            continue;
        System::Error error;
        const NameEntry now = System::lookUp(
                recording.folder(), Ddb::pieceFileName(recording.fileName(), piece.number), &error);
        if (now.kind != NameEntry::Kind::RegularFile || now.identity != placedPiece.identity
            || now.size != Ddb::HeaderSize + piece.byteLength)
            markReplaced(piece, outcome);
    }
}

} // namespace

namespace Ddb {

Ddb::SplitOutcome writePieces(Recording &recording, const Ddb::PiecePlan &plan, qint64 memoryLimit,
                              SplitProgress &progress)
{
    Q_ASSERT(plan.status() == Ddb::PiecePlan::Status::Ready);
    Ddb::SplitOutcome outcome;
    outcome.folderError = recording.folder().error();
    if (outcome.folderError)
        return outcome;
    const FolderLock lock(recording.folder());
    outcome.lock = lock.state();
    if (outcome.lock == System::RecordingFolder::Lock::HeldElsewhere)
        return outcome;
    // Pieces in a folder that is memory take memory as they are written.
    if (recording.folder().isInMemory() && memoryLimit >= 0) {
        outcome.memoryShort = qMax<qint64>(0, memoryNeeded(recording, plan) - memoryLimit);
        if (outcome.memoryShort > 0)
            return outcome;
    }
    SplitBuffers buffers;
    outcome.buffersShort = !buffers.allocate();
    if (outcome.buffersShort)
        return outcome;
    outcome.changedBeforeSplit = !recording.unchanged();
    if (outcome.changedBeforeSplit)
        return outcome;
    const System::PieceWritingScope writing;
    const EarlierPieces earlier(recording, plan, buffers);
    QVector<PlacedPiece> placed;
    const QByteArray headerCopy = headerTemplate(recording.headerBytes());
    bool stopped = false;
    bool stopAsked = false;
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Ddb::Piece piece = plan.piece(index);
        progress.setPiece(piece.number);
        stopAsked = stopAsked || (!stopped && progress.isStopAsked());
        if (stopped || stopAsked) {
            outcome.failures.append(failed(
                    piece, stopAsked ? PieceFailure::StopAsked : PieceFailure::SplitStopped));
            continue;
        }
        if (!piece.isWritable()) {
            outcome.failures.append(failed(piece, PieceFailure::NoFrames));
            continue;
        }
        Q_ASSERT(piece.firstByte + piece.byteLength <= recording.size());
        PieceBytes bytes { pieceFileName(recording.fileName(), piece.number), piece.number,
                           headerCopy, piece.firstByte, piece.byteLength };
        if (!stampPieceHeader(bytes.header, piece.timeStamp, piece.frames)) {
            outcome.failures.append(failed(piece, PieceFailure::StampTooLate));
            continue;
        }
        const PieceOutcome written
                = writePieceFile(recording, bytes, earlier, buffers.recording, progress);
        if (written.failure == PieceFailure::None) {
            ++outcome.written;
            outcome.kept += written.kept ? 1 : 0;
            placed.append({ piece, written.identity });
            if (!piece.isWhole())
                outcome.failures.append(failed(piece, PieceFailure::FewerFrames));
        }
        if (written.failure != PieceFailure::None || !written.leftover.isEmpty())
            outcome.failures.append(failed(piece, written));
        // What follows a piece the recording could not give is not written either.
        stopped = written.failure == PieceFailure::RecordingUnreadable
                || written.failure == PieceFailure::RecordingShortened
                || written.failure == PieceFailure::RecordingChanged;
        stopAsked = written.failure == PieceFailure::StopAsked;
    }
    if (outcome.written > 0)
        outcome.folderSyncError = recording.folder().sync();
    const QStringList names = System::namesIn(recording.folder());
    outcome.stalePieces = stalePieces(recording, plan, earlier, outcome, names);
    // While the folder is held no other split on this machine writes into it, so these are
    // no running split's.
    if (lock.state() == System::RecordingFolder::Lock::Held)
        outcome.strandedTemporaries = strandedTemporaries(recording, names, outcome);
    checkPlacedPieces(recording, placed, outcome);
    return outcome;
}

} // namespace Ddb
