// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The rules of putting a piece on disk, the same on every system: what a piece may replace, in
// which order that is checked, what must still hold right before the replacing, and which
// failure each refusal is. Each system only answers and acts (piecesteps.h).
#include "piecefile.h"

#include "ioslice.h"
#include "piecesteps.h"

#include <optional>

namespace {

using Ddb::PieceFailure;
using Ddb::PieceOutcome;
using System::NameEntry;

PieceOutcome failed(PieceFailure failure, const System::Error &error = System::Error())
{
    return { failure, error, {}, {}, false };
}

PieceOutcome notWritten(const System::Error &error)
{
    return failed(PieceFailure::NotWritten, error);
}

// What stands under the name, in the order that decides: a link is never followed nor
// replaced, nothing else that is no regular file is written, nor the recording itself; the
// write bits protect a file even from root, whom the system lets write it; and a file this
// user may not write is left alone.
PieceOutcome judgeKind(const Ddb::Recording &recording, const QString &name, const NameEntry &entry)
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
    if (entry.identity == recording.identity())
        return failed(PieceFailure::IsTheRecording);
    if (!entry.writeBits)
        return failed(PieceFailure::WriteProtected);
    const System::Error writable = System::mayWrite(recording.folder(), name);
    if (writable.cause == System::Cause::Permission)
        return failed(PieceFailure::WriteProtected);
    return writable ? notWritten(writable) : PieceOutcome();
}

// Whether the regular file looked at under the name is an earlier piece of this recording,
// by every one of its bytes.
PieceOutcome judgeContent(const Ddb::Recording &recording, const QString &name,
                          const NameEntry &entry, quint32 number, const Ddb::EarlierPieces &earlier)
{
    const System::FileReader reader(recording.folder(), name);
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

PieceOutcome judge(const Ddb::Recording &recording, const QString &name, const NameEntry &entry,
                   quint32 number, const Ddb::EarlierPieces &earlier)
{
    const PieceOutcome kind = judgeKind(recording, name, entry);
    if (kind.failure != PieceFailure::None || entry.kind == NameEntry::Kind::Nothing)
        return kind;
    return judgeContent(recording, name, entry, number, earlier);
}

// Whether times tell a change of `file`: not on a file system that keeps coarse ones or none
// (FAT, exFAT, FUSE), nor where the change times, which no program can set, of the folder or
// of the file have no part below the second, as on ext4 with small inodes.
bool timesTellChanges(const Ddb::Recording &recording, const NameEntry &file)
{
    if (!recording.folder().keepsFineTimes() || !file.fineChangeTime)
        return false;
    System::Error error;
    const NameEntry folder = System::lookUp(recording.folder(), QStringLiteral("."), &error);
    return !error && folder.fineChangeTime;
}

// Right before an earlier piece is replaced: the same checks of what stands under `name`, and
// the same file, unchanged since its bytes were compared. Where times cannot tell, its bytes
// are compared again instead. A file swapped away from the piece's name has had its change
// time moved by the swap itself.
PieceOutcome checkAgain(const Ddb::Recording &recording, const QString &name,
                        const NameEntry &first, bool swapped, quint32 number,
                        const Ddb::EarlierPieces &earlier)
{
    System::Error error;
    const NameEntry now = System::lookUp(recording.folder(), name, &error);
    if (error)
        return notWritten(error);
    const PieceOutcome kind = judgeKind(recording, name, now);
    if (kind.failure != PieceFailure::None)
        return kind;
    bool unchanged = now.identity == first.identity && now.size == first.size;
    if (unchanged && !timesTellChanges(recording, now))
        unchanged
                = judgeContent(recording, name, now, number, earlier).failure == PieceFailure::None;
    else if (unchanged)
        unchanged = now.modified == first.modified && (swapped || now.changed == first.changed);
    return unchanged ? PieceOutcome()
                     : notWritten(System::errorOf(System::Cause::ChangedMeanwhile));
}

PieceOutcome replaceEarlierPiece(System::PieceFile &file, const Ddb::Recording &recording,
                                 const Ddb::PieceBytes &piece, const NameEntry &first,
                                 const Ddb::EarlierPieces &earlier)
{
    PieceOutcome again;
    const System::Error error = file.replace(first, [&](const QString &name) {
        again = checkAgain(recording, name, first, name != piece.name, piece.number, earlier);
        return again.failure == PieceFailure::None
                ? System::Error()
                : System::errorOf(System::Cause::ChangedMeanwhile);
    });
    if (again.failure != PieceFailure::None)
        return again;
    return error ? notWritten(error) : PieceOutcome();
}

// An earlier piece that holds this piece's bytes is kept as it is, flushed, once the last check
// finds it unchanged since it was compared, and what it was compared with, the recording,
// unchanged too. Nothing where its header differs: it is another piece, to be replaced.
std::optional<PieceOutcome> keepIfSame(const Ddb::Recording &recording,
                                       const Ddb::PieceBytes &piece, const NameEntry &found,
                                       const Ddb::EarlierPieces &earlier)
{
    const System::FileReader reader(recording.folder(), piece.name);
    QByteArray header(piece.header.size(), Qt::Uninitialized);
    if (reader.error() || reader.identity() != found.identity
        || !reader.read(0, header.data(), header.size()) || header != piece.header)
        return std::nullopt;
    PieceOutcome kept = checkAgain(recording, piece.name, found, false, piece.number, earlier);
    if (kept.failure == PieceFailure::None && !recording.unchanged())
        kept = failed(PieceFailure::RecordingChanged);
    if (kept.failure == PieceFailure::None) {
        if (const System::Error error = reader.flush())
            return notWritten(error);
        kept.identity = found.identity;
        kept.kept = true;
    }
    return kept;
}

// Why the recording's frames could not be read: cut short since it was opened, or not read.
PieceOutcome unreadRecording(const Ddb::Recording &recording, qint64 end)
{
    const qint64 size = recording.sizeNow();
    return size >= 0 && size < end ? failed(PieceFailure::RecordingShortened)
                                   : failed(PieceFailure::RecordingUnreadable,
                                            System::errorOf(System::Cause::InputOutput));
}

// The header, then the frames slice by slice as they are read from the recording: a failed
// read leaves `unread` set, a stop asked for before a slice `stopped`.
System::Error writeWhole(System::PieceFile &file, const Ddb::PieceBytes &piece,
                         const Ddb::Recording &recording, QByteArray &slice,
                         const Ddb::SplitProgress &progress, bool *unread, bool *stopped)
{
    System::Error error = file.create();
    if (!error)
        error = file.write(piece.header.constData(), piece.header.size());
    for (qint64 done = 0; !error && done < piece.length; done += IoSliceSize) {
        *stopped = progress.isStopAsked();
        if (*stopped)
            return error;
        const qint64 size = qMin(IoSliceSize, piece.length - done);
        *unread = !recording.read(piece.firstByte + done, slice.data(), size);
        if (*unread)
            return error;
        error = file.write(slice.constData(), size);
    }
    if (!error)
        error = file.flush();
    return error;
}

} // namespace

namespace Ddb {

PieceOutcome writePieceFile(const Recording &recording, const PieceBytes &piece,
                            const EarlierPieces &earlier, QByteArray &slice,
                            const SplitProgress &progress)
{
    System::Error error;
    const NameEntry found = System::lookUp(recording.folder(), piece.name, &error);
    if (error)
        return notWritten(error);
    const qint64 end = piece.firstByte + piece.length;
    PieceOutcome outcome = judge(recording, piece.name, found, piece.number, earlier);
    if (earlier.recordingFailed())
        return unreadRecording(recording, end);
    if (outcome.failure != PieceFailure::None)
        return outcome;
    if (found.kind == NameEntry::Kind::RegularFile
        && found.size == Ddb::HeaderSize + piece.length) {
        if (const std::optional<PieceOutcome> kept = keepIfSame(recording, piece, found, earlier))
            return *kept;
    }
    System::PieceFile file(recording.folder(), piece.name);
    bool unread = false;
    bool stopped = false;
    error = writeWhole(file, piece, recording, slice, progress, &unread, &stopped);
    if (stopped)
        outcome = failed(PieceFailure::StopAsked);
    else if (unread)
        outcome = unreadRecording(recording, end);
    else if (error)
        outcome = notWritten(error);
    // What is put in place is what the window showed, read from a file no one changed.
    else if (!recording.unchanged())
        outcome = failed(PieceFailure::RecordingChanged);
    else if (found.kind == NameEntry::Kind::Nothing)
        outcome = (error = file.nameWithoutReplacing()) ? notWritten(error) : PieceOutcome();
    else
        outcome = replaceEarlierPiece(file, recording, piece, found, earlier);
    if (outcome.failure == PieceFailure::None)
        outcome.identity = file.identity();
    outcome.leftover = file.remove();
    return outcome;
}

NameHolds whatNameHolds(const Recording &recording, const QString &name, quint32 number,
                        const EarlierPieces &earlier, ComparedFiles &compared)
{
    System::Error error;
    const NameEntry entry = System::lookUp(recording.folder(), name, &error);
    if (!error && entry.kind == NameEntry::Kind::Nothing)
        return NameHolds::Nothing;
    if (error || entry.kind != NameEntry::Kind::RegularFile)
        return NameHolds::SomethingElse;
    const QPair<quint64, quint64> identity(entry.identity.device, entry.identity.inode);
    const auto known = compared.constFind(identity);
    if (known != compared.constEnd())
        return *known;
    const NameHolds holds
            = judgeContent(recording, name, entry, number, earlier).failure == PieceFailure::None
            ? NameHolds::EarlierPiece
            : NameHolds::SomethingElse;
    if (entry.identity.isKnown())
        compared.insert(identity, holds);
    return holds;
}

} // namespace Ddb
