// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "splitreport.h"

#include <QTextDocument>

namespace {

constexpr int ShownLines = 20;

QString systemError(const QString &what, const System::Error &error)
{
    return error.text.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, error.text);
}

QString reason(const Ddb::PieceOutcome &failed)
{
    using Ddb::PieceFailure;
    QString text;
    switch (failed.failure) {
    case PieceFailure::NotARegularFile:
        text = QStringLiteral("a folder or special file has its name");
        break;
    case PieceFailure::LinkInTheWay:
        text = QStringLiteral("a link has its name");
        break;
    case PieceFailure::IsTheRecording:
        text = QStringLiteral("its name is the recording itself");
        break;
    case PieceFailure::WriteProtected:
        text = QStringLiteral("the file under its name is write-protected or not this user's to "
                              "write");
        break;
    case PieceFailure::DifferentFile:
        text = QStringLiteral("a different file has its name, not an earlier piece of this "
                              "recording");
        break;
    case PieceFailure::Unreadable:
        text = systemError(QStringLiteral("the file under its name could not be read"),
                           failed.error);
        break;
    case PieceFailure::NotWritten:
        text = failed.error.cause == System::Cause::ChangedMeanwhile
                ? QStringLiteral("its name was taken, or its file changed, while it was written")
                : systemError(QStringLiteral("the disk refused it"), failed.error);
        break;
    case PieceFailure::NoFrames:
        text = QStringLiteral("not written: the recording holds none of its frames");
        break;
    case PieceFailure::FewerFrames:
        text = QStringLiteral("holds fewer frames than the header claimed");
        break;
    case PieceFailure::StampTooLate:
        text = QStringLiteral("not written: its stamp is after the year 67535");
        break;
    case PieceFailure::None:
        text = QStringLiteral("written");
        break;
    }
    if (!failed.leftover.isEmpty())
        text += QStringLiteral("; its temporary file %1 could not be removed").arg(failed.leftover);
    return text;
}

bool failedAlike(const Ddb::PieceOutcome &a, const Ddb::PieceOutcome &b)
{
    return a.failure == b.failure && a.error.cause == b.error.cause && a.error.text == b.error.text
            && a.leftover.isEmpty() && b.leftover.isEmpty();
}

// Consecutive numbers as ranges: "run_6.ddb to run_10.ddb, run_12.ddb".
QString nameRanges(const QVector<quint32> &numbers, const QString &fileName)
{
    QStringList ranges;
    for (int first = 0; first < numbers.size();) {
        int last = first;
        while (last + 1 < numbers.size() && numbers.at(last + 1) == numbers.at(last) + 1)
            ++last;
        const QString firstName = Ddb::pieceFileName(fileName, numbers.at(first));
        ranges << (last == first ? firstName
                                 : QStringLiteral("%1 to %2")
                                           .arg(firstName,
                                                Ddb::pieceFileName(fileName, numbers.at(last))));
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

QStringList problems(const Ddb::SplitOutcome &outcome)
{
    QStringList lines;
    if (outcome.folderError)
        lines << systemError(QStringLiteral("Refused: the recording's folder cannot be opened"),
                             outcome.folderError);
    if (outcome.lock == System::RecordingSource::FolderLock::HeldElsewhere)
        lines << QStringLiteral("Refused: another split is writing into this folder");
    if (outcome.memoryShort > 0)
        lines << QStringLiteral("Refused: this folder is held in memory, and its pieces would "
                                "need %1 MiB more than is free")
                         .arg((outcome.memoryShort + (1 << 20) - 1) >> 20);
    const QVector<Ddb::FailedPiece> &failures = outcome.failures;
    for (int first = 0; first < failures.size();) {
        int last = first;
        while (last + 1 < failures.size()
               && failures.at(last + 1).number == failures.at(last).number + 1
               && failedAlike(failures.at(last + 1).outcome, failures.at(first).outcome))
            ++last;
        lines << (last == first ? QStringLiteral("Piece %1: %2").arg(failures.at(first).number)
                                : QStringLiteral("Pieces %1 to %2: %3")
                                          .arg(failures.at(first).number)
                                          .arg(failures.at(last).number))
                         .arg(reason(failures.at(first).outcome));
        first = last + 1;
    }
    if (outcome.folderSyncError)
        lines << systemError(QStringLiteral("The folder's new names were not flushed to disk"),
                             outcome.folderSyncError);
    return lines;
}

QStringList summary(const Ddb::SplitOutcome &outcome, const QString &folder,
                    const QString &fileName)
{
    if (outcome.written == 0)
        return {};
    const QString first = Ddb::pieceFileName(fileName, 1);
    return { outcome.written == 1
                     ? QStringLiteral("1 piece written: %1").arg(first)
                     : QStringLiteral("%1 pieces written: %2 to %3")
                               .arg(outcome.written)
                               .arg(first, Ddb::pieceFileName(fileName, outcome.written)),
             QStringLiteral("In %1").arg(folder) };
}

QString stalePieces(const Ddb::SplitOutcome &outcome, const QString &fileName)
{
    if (outcome.stalePieces.isEmpty())
        return QString();
    return QStringLiteral("Left from an earlier split: %1")
            .arg(nameRanges(outcome.stalePieces, fileName));
}

} // namespace

namespace SplitReport {

QStringList lines(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                  const QString &folder, const QString &fileName)
{
    if (plan.status() != Ddb::PiecePlan::Status::Ready)
        return { refusal(plan) };
    QStringList lines
            = outcome.succeeded() ? summary(outcome, folder, fileName) : problems(outcome);
    if (outcome.lock == System::RecordingSource::FolderLock::NotLockable)
        lines << QStringLiteral("No lock could be taken on this folder: another split into it "
                                "would not have been noticed");
    const QString stale = stalePieces(outcome, fileName);
    if (!stale.isEmpty())
        lines << stale;
    return lines;
}

QString toolTip(const QStringList &lines)
{
    if (lines.isEmpty())
        return QString();
    QStringList shown = lines.mid(0, ShownLines);
    if (lines.size() > ShownLines)
        shown << QStringLiteral("... and %1 more").arg(lines.size() - ShownLines);
    return Qt::convertFromPlainText(shown.join(QLatin1Char('\n')), Qt::WhiteSpaceNoWrap);
}

} // namespace SplitReport
