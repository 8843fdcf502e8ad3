// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The rules of putting a piece on disk, the same on every system: what a piece may replace, in
// which order that is checked, what must still hold right before the replacing, and which
// failure each refusal is. Each system only answers and acts (piecesteps.h).
#include "piecefile.h"

#include "ioslice.h"
#include "piecesteps.h"

namespace {

using Ddb::PieceFailure;
using Ddb::PieceOutcome;
using System::NameEntry;

PieceOutcome failed(PieceFailure failure, const System::Error &error = System::Error())
{
    return { failure, error, {}, {} };
}

PieceOutcome notWritten(const System::Error &error)
{
    return failed(PieceFailure::NotWritten, error);
}

// What stands under the name, in the order that decides: a link is never followed nor
// replaced, nothing else that is no regular file is written, nor the recording itself; the
// write bits protect a file even from root, whom the system lets write it; and a file this
// user may not write is left alone.
PieceOutcome judgeKind(const System::RecordingSource &source, const QString &name,
                       const NameEntry &entry)
{
    switch (entry.kind) {
    case NameEntry::Kind::Nothing:
        return {};
    case NameEntry::Kind::Link:
        return failed(PieceFailure::LinkInTheWay);
    case NameEntry::Kind::NotARegularFile:
        return failed(PieceFailure::NotARegularFile);
    case NameEntry::Kind::RegularFile:
        break;
    }
    if (entry.identity == source.identity())
        return failed(PieceFailure::IsTheRecording);
    if (!entry.writeBits)
        return failed(PieceFailure::WriteProtected);
    const System::Error writable = System::mayWrite(source.folder(), name);
    if (writable.cause == System::Cause::Permission)
        return failed(PieceFailure::WriteProtected);
    return writable ? notWritten(writable) : PieceOutcome();
}

// Whether the regular file looked at under the name is an earlier piece of this recording,
// by every one of its bytes.
PieceOutcome judgeContent(const System::RecordingSource &source, const QString &name,
                          const NameEntry &entry, quint32 number, const Ddb::EarlierPieces &earlier)
{
    const System::FileReader reader(source.folder(), name);
    if (reader.error())
        return failed(PieceFailure::Unreadable, reader.error());
    // Another file put there since it was looked at is no file that was judged.
    if (reader.identity() != entry.identity)
        return failed(PieceFailure::DifferentFile);
    bool readFailed = false;
    const bool isPiece
            = earlier.isPiece(number, reader.size(), [&](qint64 offset, char *data, qint64 length) {
                  readFailed = !reader.read(offset, data, length);
                  return !readFailed;
              });
    if (readFailed)
        return failed(PieceFailure::Unreadable, System::errorOf(System::Cause::InputOutput));
    return isPiece ? PieceOutcome() : failed(PieceFailure::DifferentFile);
}

PieceOutcome judge(const System::RecordingSource &source, const QString &name,
                   const NameEntry &entry, quint32 number, const Ddb::EarlierPieces &earlier)
{
    const PieceOutcome kind = judgeKind(source, name, entry);
    if (kind.failure != PieceFailure::None || entry.kind == NameEntry::Kind::Nothing)
        return kind;
    return judgeContent(source, name, entry, number, earlier);
}

// Whether times tell a change of `file`: not on a file system that keeps coarse ones or none
// (FAT, exFAT, FUSE), nor where the change times, which no program can set, of the folder or
// of the file have no part below the second, as on ext4 with small inodes.
bool timesTellChanges(const System::RecordingSource &source, const NameEntry &file)
{
    if (!source.folder().keepsFineTimes() || !file.fineChangeTime)
        return false;
    System::Error error;
    const NameEntry folder = System::lookUp(source.folder(), QStringLiteral("."), &error);
    return !error && folder.fineChangeTime;
}

// Right before an earlier piece is replaced: the same checks of what stands under `name`, and
// the same file, unchanged since its bytes were compared. Where times cannot tell, its bytes
// are compared again instead. A file swapped away from the piece's name has had its change
// time moved by the swap itself.
PieceOutcome checkAgain(const System::RecordingSource &source, const QString &name,
                        const NameEntry &first, bool swapped, quint32 number,
                        const Ddb::EarlierPieces &earlier)
{
    System::Error error;
    const NameEntry now = System::lookUp(source.folder(), name, &error);
    if (error)
        return notWritten(error);
    const PieceOutcome kind = judgeKind(source, name, now);
    if (kind.failure != PieceFailure::None)
        return kind;
    bool unchanged = now.identity == first.identity && now.size == first.size;
    if (unchanged && !timesTellChanges(source, now))
        unchanged = judgeContent(source, name, now, number, earlier).failure == PieceFailure::None;
    else if (unchanged)
        unchanged = now.modified == first.modified && (swapped || now.changed == first.changed);
    return unchanged ? PieceOutcome()
                     : notWritten(System::errorOf(System::Cause::ChangedMeanwhile));
}

PieceOutcome replaceEarlierPiece(System::PieceFile &file, const System::RecordingSource &source,
                                 const Ddb::PieceBytes &piece, const NameEntry &first,
                                 const Ddb::EarlierPieces &earlier)
{
    PieceOutcome again;
    const System::Error error = file.replace(first, [&](const QString &name) {
        again = checkAgain(source, name, first, name != piece.name, piece.number, earlier);
        return again.failure == PieceFailure::None
                ? System::Error()
                : System::errorOf(System::Cause::ChangedMeanwhile);
    });
    if (again.failure != PieceFailure::None)
        return again;
    return error ? notWritten(error) : PieceOutcome();
}

System::Error writeInSlices(System::PieceFile &file, const char *data, qint64 length)
{
    for (qint64 done = 0; done < length; done += IoSliceSize) {
        if (const System::Error error = file.write(data + done, qMin(IoSliceSize, length - done)))
            return error;
    }
    return {};
}

System::Error writeWhole(System::PieceFile &file, const Ddb::PieceBytes &piece)
{
    System::Error error = file.create();
    if (!error)
        error = writeInSlices(file, piece.header.constData(), piece.header.size());
    if (!error)
        error = writeInSlices(file, piece.data, piece.length);
    if (!error)
        error = file.flush();
    return error;
}

} // namespace

namespace Ddb {

PieceOutcome writePieceFile(const System::RecordingSource &source, const PieceBytes &piece,
                            const EarlierPieces &earlier)
{
    System::Error error;
    const NameEntry found = System::lookUp(source.folder(), piece.name, &error);
    if (error)
        return notWritten(error);
    PieceOutcome outcome = judge(source, piece.name, found, piece.number, earlier);
    if (outcome.failure != PieceFailure::None)
        return outcome;
    System::PieceFile file(source.folder(), piece.name);
    error = writeWhole(file, piece);
    if (error)
        outcome = notWritten(error);
    else if (found.kind == NameEntry::Kind::Nothing)
        outcome = (error = file.nameWithoutReplacing()) ? notWritten(error) : PieceOutcome();
    else
        outcome = replaceEarlierPiece(file, source, piece, found, earlier);
    if (outcome.failure == PieceFailure::None)
        outcome.identity = file.identity();
    outcome.leftover = file.remove();
    return outcome;
}

NameHolds whatNameHolds(const System::RecordingSource &source, const QString &name, quint32 number,
                        const EarlierPieces &earlier, ComparedFiles &compared)
{
    System::Error error;
    const NameEntry entry = System::lookUp(source.folder(), name, &error);
    if (!error && entry.kind == NameEntry::Kind::Nothing)
        return NameHolds::Nothing;
    if (error || entry.kind != NameEntry::Kind::RegularFile)
        return NameHolds::SomethingElse;
    const QPair<quint64, quint64> identity(entry.identity.device, entry.identity.inode);
    const auto known = compared.constFind(identity);
    if (known != compared.constEnd())
        return *known;
    const NameHolds holds
            = judgeContent(source, name, entry, number, earlier).failure == PieceFailure::None
            ? NameHolds::EarlierPiece
            : NameHolds::SomethingElse;
    if (entry.identity.isKnown())
        compared.insert(identity, holds);
    return holds;
}

} // namespace Ddb
