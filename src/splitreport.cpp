// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "splitreport.h"

namespace {

constexpr int ShownProblems = 20;

QString systemError(const QString &what, int error)
{
    return error != 0 ? QStringLiteral("%1 (%2)").arg(what, qt_error_string(error)) : what;
}

QString problem(const FailedPiece &failed)
{
    using Ddb::PieceFailure;
    QString reason;
    switch (failed.failure) {
    case PieceFailure::FolderInTheWay:
        reason = QStringLiteral("a folder or special file has its name");
        break;
    case PieceFailure::LinkInTheWay:
        reason = QStringLiteral("a link has its name");
        break;
    case PieceFailure::IsTheRecording:
        reason = QStringLiteral("its name is the recording itself");
        break;
    case PieceFailure::WriteProtected:
        reason = QStringLiteral("the file under its name is write-protected or not this user's "
                                "to write");
        break;
    case PieceFailure::DifferentFile:
        reason = QStringLiteral("a different file has its name, not an earlier piece of this "
                                "recording");
        break;
    case PieceFailure::ChangedMeanwhile:
        reason = QStringLiteral("its name was taken, or its file changed, while it was written");
        break;
    case PieceFailure::StampTooLate:
        reason = QStringLiteral("not written: its stamp is after the year 67535");
        break;
    case PieceFailure::DiskRefused:
        reason = systemError(QStringLiteral("the disk refused it"), failed.error);
        break;
    case PieceFailure::NoFrames:
        reason = QStringLiteral("not written: the recording holds none of its frames");
        break;
    case PieceFailure::FewerFrames:
        reason = QStringLiteral("holds fewer frames than the header claimed");
        break;
    case PieceFailure::None:
        reason = QStringLiteral("written");
        break;
    }
    if (!failed.leftover.isEmpty())
        reason += QStringLiteral("; its temporary file %1 could not be removed")
                          .arg(failed.leftover);
    return QStringLiteral("Piece %1: %2").arg(failed.number).arg(reason);
}

} // namespace

namespace SplitReport {

QString refusal(const PiecePlan &plan)
{
    switch (plan.status()) {
    case PiecePlan::Status::NoFrequency:
        return QStringLiteral("Refused: the header's frequency is 0");
    case PiecePlan::Status::TooManyPieces:
        return QStringLiteral("Refused: %1 pieces, more than %2; the sample count looks corrupt")
                .arg(plan.pieceCount())
                .arg(PiecePlan::MaxPieces);
    case PiecePlan::Status::Ready:
        break;
    }
    return QString();
}

QStringList problems(const SplitOutcome &outcome)
{
    QStringList lines;
    if (outcome.folderError != 0)
        lines << systemError(QStringLiteral("Refused: the recording's folder cannot be opened"),
                             outcome.folderError);
    for (const FailedPiece &failed : outcome.failures)
        lines << problem(failed);
    if (outcome.folderSyncError != 0)
        lines << systemError(QStringLiteral("The folder's new names were not flushed to disk"),
                             outcome.folderSyncError);
    return lines;
}

QString toolTip(const QStringList &problems)
{
    QStringList shown = problems.mid(0, ShownProblems);
    if (problems.size() > ShownProblems)
        shown << QStringLiteral("... and %1 more").arg(problems.size() - ShownProblems);
    return shown.join(QLatin1Char('\n'));
}

} // namespace SplitReport
