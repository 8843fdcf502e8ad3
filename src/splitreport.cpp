// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "splitreport.h"

#include <QTextDocument>

#include <algorithm>

namespace {

using Ddb::PieceFailure;
using System::Cause;

constexpr int ShownLines = 20;

// The system's own words, where they add something to ours.
QString withText(const QString &what, const System::Error &error)
{
    return error.text.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, error.text);
}

QString mebibytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

// Why a step on the disk failed, and what helps where one thing does. "The disk" is said only
// of the disk itself.
QString causeOf(const System::Error &error, qint64 bytes)
{
    switch (error.cause) {
    case Cause::DiskFull:
        return QStringLiteral("the disk is full: %1 MiB more are needed").arg(mebibytes(bytes));
    case Cause::ReadOnlyFileSystem:
        return QStringLiteral("the disk is read-only");
    case Cause::InputOutput:
        return withText(QStringLiteral("the disk failed to read or write"), error);
    case Cause::Permission:
        return QStringLiteral("you may not write into this folder: copy the recording to a "
                              "folder you can write, and split it there");
    case Cause::FileSizeLimit:
        return QStringLiteral("larger than the file size limit this program runs under");
    case Cause::TooManyOpenFiles:
        return QStringLiteral("too many files are open: close some programs, then split again");
    case Cause::NameTooLong:
        return QStringLiteral("the name is too long for this folder's file system: give the "
                              "recording a shorter name");
    case Cause::FolderGone:
        return QStringLiteral("the folder was removed or moved away");
    case Cause::ChangedMeanwhile:
        return QStringLiteral("the name was taken, or the file under it changed, while the "
                              "split ran");
    case Cause::InUse:
        return QStringLiteral("another program holds the file open and shares it with no one: "
                              "close it, then split again");
    case Cause::NotSupported:
    case Cause::Other:
    case Cause::None:
        break;
    }
    return withText(QStringLiteral("it could not be written"), error);
}

QString reason(const Ddb::FailedPiece &failed, qint64 bytes)
{
    const Ddb::PieceOutcome &outcome = failed.outcome;
    const QString inTheWay = QStringLiteral(": rename or move it, then split again");
    QString text;
    switch (outcome.failure) {
    case PieceFailure::NotARegularFile:
        text = QStringLiteral("a folder or special file has this name") + inTheWay;
        break;
    case PieceFailure::LinkInTheWay:
        text = QStringLiteral("a link has this name, and links are never followed") + inTheWay;
        break;
    case PieceFailure::IsTheRecording:
        text = QStringLiteral("this name leads to the recording itself") + inTheWay;
        break;
    case PieceFailure::DifferentFile:
        text = QStringLiteral("a file that is no earlier piece of this recording has this name")
                + inTheWay;
        break;
    case PieceFailure::WriteProtected:
        text = QStringLiteral("an earlier piece here is write-protected, or not yours to write: "
                              "make it writable or remove it, then split again");
        break;
    case PieceFailure::Unreadable:
        text = withText(QStringLiteral("the file here could not be read to tell whether it is an "
                                       "earlier piece"),
                        outcome.error);
        break;
    case PieceFailure::NotWritten:
        text = QStringLiteral("not written: ") + causeOf(outcome.error, bytes);
        break;
    case PieceFailure::NoFrames:
        text = QStringLiteral("not written: the recording ends before it");
        break;
    case PieceFailure::FewerFrames:
        text = QStringLiteral("holds %1 of %2 frames: the recording ends there")
                       .arg(failed.frames)
                       .arg(failed.plannedFrames);
        break;
    case PieceFailure::StampTooLate:
        text = QStringLiteral("not written: its time stamp would be after the year 67535");
        break;
    case PieceFailure::None:
        text = QStringLiteral("written");
        break;
    }
    if (!outcome.leftover.isEmpty())
        text += QStringLiteral("; its temporary file %1 could not be removed")
                        .arg(outcome.leftover);
    return text;
}

bool failedAlike(const Ddb::FailedPiece &a, const Ddb::FailedPiece &b)
{
    return a.outcome.failure == b.outcome.failure && a.outcome.failure != PieceFailure::FewerFrames
            && a.outcome.error.cause == b.outcome.error.cause
            && a.outcome.error.text == b.outcome.error.text && a.outcome.leftover.isEmpty()
            && b.outcome.leftover.isEmpty();
}

bool wasWritten(const Ddb::FailedPiece &failed)
{
    return failed.outcome.failure == PieceFailure::None
            || failed.outcome.failure == PieceFailure::FewerFrames;
}

// "run_6.ddb to run_10.ddb" for a run of consecutive numbers.
QString nameRange(quint32 first, quint32 last, const QString &fileName)
{
    const QString firstName = Ddb::pieceFileName(fileName, first);
    return first == last
            ? firstName
            : QStringLiteral("%1 to %2").arg(firstName, Ddb::pieceFileName(fileName, last));
}

// Consecutive numbers as ranges: "run_6.ddb to run_10.ddb, run_12.ddb".
QString nameRanges(const QVector<quint32> &numbers, const QString &fileName)
{
    QStringList ranges;
    for (int first = 0; first < numbers.size();) {
        int last = first;
        while (last + 1 < numbers.size() && numbers.at(last + 1) == numbers.at(last) + 1)
            ++last;
        ranges << nameRange(numbers.at(first), numbers.at(last), fileName);
        first = last + 1;
    }
    return ranges.join(QStringLiteral(", "));
}

QString refusal(const Ddb::PiecePlan &plan)
{
    switch (plan.status()) {
    case Ddb::PiecePlan::Status::NoFrequency:
        return QStringLiteral("Refused: the header's frequency is 0");
    case Ddb::PiecePlan::Status::TooManyPieces:
        return QStringLiteral("Refused: %1 pieces, more than %2; the sample count looks corrupt")
                .arg(plan.pieceCount())
                .arg(Ddb::PiecePlan::MaxPieces);
    case Ddb::PiecePlan::Status::Ready:
        break;
    }
    return QString();
}

// Why nothing was written, where the split did not begin.
QStringList refusals(const Ddb::SplitOutcome &outcome)
{
    QStringList lines;
    if (outcome.folderError)
        lines << withText(QStringLiteral("Refused: the recording's folder could not be opened"),
                          outcome.folderError);
    if (outcome.lock == System::RecordingSource::FolderLock::HeldElsewhere)
        lines << QStringLiteral("Refused: another split is writing into this folder: wait until "
                                "it ends, then split again");
    if (outcome.memoryShort > 0)
        lines << QStringLiteral("Refused: this folder is held in memory, and its pieces would "
                                "need %1 MiB more than is free")
                         .arg(mebibytes(outcome.memoryShort));
    return lines;
}

// What was written, first, so that a failed split never reads as if nothing happened.
QStringList written(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                    const QString &folder, const QString &fileName)
{
    QVector<quint32> numbers;
    auto failed = outcome.failures.cbegin();
    for (quint32 number = 1; number <= plan.pieceCount(); ++number) {
        while (failed != outcome.failures.cend() && failed->number < number)
            ++failed;
        const bool notWritten = failed != outcome.failures.cend() && failed->number == number
                && !wasWritten(*failed);
        if (!notWritten)
            numbers << number;
    }
    const quint32 count = quint32(numbers.size());
    QString line = outcome.succeeded()
            ? QStringLiteral("%1 %2 written")
                      .arg(count)
                      .arg(count == 1 ? QLatin1String("piece") : QLatin1String("pieces"))
            : QStringLiteral("%1 of %2 pieces written").arg(count).arg(plan.pieceCount());
    if (count > 0)
        line += QStringLiteral(": ") + nameRanges(numbers, fileName);
    return { line, QStringLiteral("In %1").arg(folder) };
}

// A line for each run of pieces that failed alike, named by their files.
QStringList problems(const Ddb::SplitOutcome &outcome, const QString &fileName)
{
    QStringList lines;
    const QVector<Ddb::FailedPiece> &failures = outcome.failures;
    for (int first = 0; first < failures.size();) {
        int last = first;
        qint64 bytes = failures.at(first).bytes;
        while (last + 1 < failures.size()
               && failures.at(last + 1).number == failures.at(last).number + 1
               && failedAlike(failures.at(last + 1), failures.at(first)))
            bytes += failures.at(++last).bytes;
        const QString names
                = nameRange(failures.at(first).number, failures.at(last).number, fileName);
        const bool holds = failures.at(first).outcome.failure == PieceFailure::FewerFrames;
        lines << names + (holds ? QStringLiteral(" ") : QStringLiteral(": "))
                        + reason(failures.at(first), bytes);
        first = last + 1;
    }
    if (outcome.folderSyncError)
        lines << withText(QStringLiteral("The folder's new names may not survive a power cut"),
                          outcome.folderSyncError);
    return lines;
}

} // namespace

namespace SplitReport {

QStringList lines(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                  const QString &folder, const QString &fileName)
{
    if (plan.status() != Ddb::PiecePlan::Status::Ready)
        return { refusal(plan) };
    QStringList lines = refusals(outcome);
    if (lines.isEmpty())
        lines << written(plan, outcome, folder, fileName) << problems(outcome, fileName);
    if (outcome.lock == System::RecordingSource::FolderLock::NotLockable)
        lines << QStringLiteral("No lock could be taken on this folder: another split into it "
                                "would not have been noticed");
    if (!outcome.stalePieces.isEmpty())
        lines << QStringLiteral("Left from an earlier split: %1")
                         .arg(nameRanges(outcome.stalePieces, fileName));
    for (const QString &stranded : outcome.strandedTemporaries)
        lines << QStringLiteral("Left by a split that was stopped: %1; it can be removed")
                         .arg(stranded);
    return lines;
}

QString toolTip(const QStringList &lines)
{
    return lines.isEmpty() ? QString()
                           : Qt::convertFromPlainText(plainText(lines), Qt::WhiteSpaceNoWrap);
}

QString plainText(const QStringList &lines)
{
    QStringList shown = lines.mid(0, ShownLines);
    if (lines.size() > ShownLines)
        shown << QStringLiteral("... and %1 more").arg(lines.size() - ShownLines);
    return shown.join(QLatin1Char('\n'));
}

} // namespace SplitReport
