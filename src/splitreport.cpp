// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "splitreport.h"

#include <QTextDocument>

#include <functional>

namespace {

using Ddb::PieceFailure;
using System::Cause;

constexpr int ShownLines = 20;
constexpr int LongestLine = 300;
constexpr int LongestName = 120;
constexpr int ShortestName = 16;
constexpr int ShownRanges = 3;
const QChar Ellipsis(0x2026);

bool isInvisible(uint codePoint)
{
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

// A name on one line as it is: a control or format character (a newline, a right-to-left
// override) is written as \uXXXX, so that no name adds a line or turns the text around.
QString visible(const QString &name)
{
    QString shown;
    shown.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        const bool pair = name.at(i).isHighSurrogate() && i + 1 < name.size()
                && name.at(i + 1).isLowSurrogate();
        const uint codePoint
                = pair ? QChar::surrogateToUcs4(name.at(i), name.at(i + 1)) : name.at(i).unicode();
        const int length = pair ? 2 : 1;
        for (int unit = 0; unit < length; ++unit) {
            const QChar c = name.at(i + unit);
            shown += isInvisible(codePoint)
                    ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'))
                    : QString(c);
        }
        i += length - 1;
    }
    return shown;
}

// At most `most` characters: the start and the end kept, "…" between them.
QString shortened(const QString &text, int most)
{
    if (text.size() <= most)
        return text;
    int head = most / 2;
    int tail = most - 1 - head;
    if (text.at(head - 1).isHighSurrogate())
        --head;
    if (text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + Ellipsis + text.right(tail);
}

// A line made with names of at most `most` characters each: the longest names that keep it
// within LongestLine, and cut short at its end where even the shortest do not.
QString fitted(const std::function<QString(int most)> &line)
{
    int most = LongestName;
    QString text = line(most);
    while (text.size() > LongestLine && most > ShortestName) {
        most = qMax(ShortestName, most - qMax(1, (text.size() - LongestLine + 1) / 2));
        text = line(most);
    }
    return text.size() <= LongestLine ? text : text.left(LongestLine - 1) + Ellipsis;
}

// The system's own words, where they add something to ours.
QString withText(const QString &what, const System::Error &error)
{
    return error.text.isEmpty() ? what : QStringLiteral("%1 (%2)").arg(what, error.text);
}

// Rounded up: what is still needed is never said to be less than it is.
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
    case Cause::MovedAway:
        return QStringLiteral("the file under this name was moved away while the split ran: "
                              "split again");
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
    case PieceFailure::ReplacedAfterWriting:
        text = QStringLiteral("not written: another program replaced it after it was written: "
                              "split again when nothing else writes into this folder");
        break;
    case PieceFailure::RecordingUnreadable:
        text = QStringLiteral("not written: the recording could not be read (the disk failed to "
                              "read)");
        break;
    case PieceFailure::RecordingShortened:
        text = QStringLiteral("not written: the recording is shorter than when it was opened");
        break;
    case PieceFailure::RecordingChanged:
        text = QStringLiteral("not written: the recording changed while it was being split: open "
                              "it again, then split again");
        break;
    case PieceFailure::SplitStopped:
        text = QStringLiteral("not written: the split stopped at the change above");
        break;
    case PieceFailure::StopAsked:
        text = QStringLiteral("not written: the split was stopped");
        break;
    case PieceFailure::None:
        text = QStringLiteral("written");
        break;
    }
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

// The names a report shows, each on one line and shortened to a given length.
class Names
{
public:
    explicit Names(const QString &fileName)
        : m_fileName(fileName)
    { }

    QString piece(quint32 number, int most) const
    {
        return shortened(visible(Ddb::pieceFileName(m_fileName, number)), most);
    }

    // "run_6.ddb to run_10.ddb" for a run of consecutive numbers.
    QString range(quint32 first, quint32 last, int most) const
    {
        return first == last
                ? piece(first, most)
                : QStringLiteral("%1 to %2").arg(piece(first, most), piece(last, most));
    }

    // Consecutive numbers as ranges, the first few of them: "run_6.ddb to run_10.ddb,
    // run_12.ddb and 4 more".
    QString ranges(const QVector<quint32> &numbers, int most) const
    {
        QStringList ranges;
        for (int first = 0; first < numbers.size();) {
            if (ranges.size() == ShownRanges)
                return ranges.join(QStringLiteral(", "))
                        + QStringLiteral(" and %1 more").arg(numbers.size() - first);
            int last = first;
            while (last + 1 < numbers.size() && numbers.at(last + 1) == numbers.at(last) + 1)
                ++last;
            ranges << range(numbers.at(first), numbers.at(last), most);
            first = last + 1;
        }
        return ranges.join(QStringLiteral(", "));
    }

private:
    QString m_fileName;
};

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
    if (outcome.lock == System::RecordingFolder::Lock::HeldElsewhere)
        lines << QStringLiteral("Refused: another split is writing into this folder: wait until "
                                "it ends, then split again");
    if (outcome.memoryShort > 0)
        lines << QStringLiteral("Refused: this folder is held in memory, and its pieces would "
                                "need %1 MiB more than is free")
                         .arg(mebibytes(outcome.memoryShort));
    if (outcome.buffersShort)
        lines << QStringLiteral("Refused: not enough memory for the split's buffers");
    if (outcome.changedBeforeSplit)
        lines << QStringLiteral("Refused: the recording changed after it was opened: open it "
                                "again, then split again");
    return lines;
}

// What was written, first, so that a failed split never reads as if nothing happened.
QStringList written(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                    const QString &folder, bool folderRemoved, const Names &names)
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
    const QString line = outcome.succeeded()
            ? QStringLiteral("%1 %2 written")
                      .arg(count)
                      .arg(count == 1 ? QLatin1String("piece") : QLatin1String("pieces"))
            : QStringLiteral("%1 of %2 pieces written").arg(count).arg(plan.pieceCount());
    QString where = QStringLiteral("In %1").arg(shortened(visible(folder), LongestName));
    if (folderRemoved)
        where += QStringLiteral(", which was removed meanwhile");
    QStringList lines { count == 0 ? line : fitted([&](int most) {
        return line + QStringLiteral(": ") + names.ranges(numbers, most);
    }) };
    if (outcome.kept > 0)
        lines << QStringLiteral("%1 of them were already there, byte for byte, and were kept")
                         .arg(outcome.kept);
    return lines << where;
}

// What a temporary file this split kept holds, where that is more than a piece of its own.
QString keptFile(const Ddb::FailedPiece &failed, const Names &names)
{
    const System::LeftFile &left = failed.outcome.leftover;
    QString text;
    switch (left.holds) {
    case System::LeftFile::Holds::ReplacedFileChanged:
        text = QStringLiteral("%1 holds what was under %2 when this split replaced it, changed "
                              "meanwhile: it was kept; rename it back or look into it");
        break;
    case System::LeftFile::Holds::AnotherFile:
        text = QStringLiteral("%1 holds a file that another program put under %2 while the split "
                              "ran: it was kept; look into it");
        break;
    case System::LeftFile::Holds::Removable:
        return QString();
    }
    const QString temporary = visible(left.name);
    return fitted([&](int most) {
        return text.arg(shortened(temporary, most), names.piece(failed.number, most));
    });
}

// A line for each run of pieces that failed alike, named by their files.
QStringList problems(const Ddb::SplitOutcome &outcome, const Names &names)
{
    QStringList lines;
    const QVector<Ddb::FailedPiece> &failures = outcome.failures;
    for (int first = 0; first < failures.size();) {
        const Ddb::FailedPiece &failed = failures.at(first);
        int last = first;
        qint64 bytes = failed.bytes;
        while (last + 1 < failures.size()
               && failures.at(last + 1).number == failures.at(last).number + 1
               && failedAlike(failures.at(last + 1), failed))
            bytes += failures.at(++last).bytes;
        const bool holds = failed.outcome.failure == PieceFailure::FewerFrames;
        const QString why = reason(failed, bytes);
        const bool removable = failed.outcome.leftover.holds == System::LeftFile::Holds::Removable;
        lines << fitted([&](int most) {
            QString line = names.range(failed.number, failures.at(last).number, most)
                    + (holds ? QStringLiteral(" ") : QStringLiteral(": ")) + why;
            if (!failed.outcome.leftover.isEmpty() && removable)
                line += QStringLiteral("; its temporary file %1 could not be removed")
                                .arg(shortened(visible(failed.outcome.leftover.name), most));
            return line;
        });
        if (!failed.outcome.leftover.isEmpty() && !removable)
            lines << keptFile(failed, names);
        first = last + 1;
    }
    if (outcome.folderSyncError)
        lines << withText(QStringLiteral("The folder's new names may not survive a power cut"),
                          outcome.folderSyncError);
    return lines;
}

// A temporary file may hold an earlier piece as it stood when a split replaced it: it is
// called removable only when it holds nothing.
QString stranded(const Ddb::StrandedFile &file)
{
    const QString name = shortened(visible(file.name), LongestName);
    if (file.size == 0)
        return QStringLiteral("Left by a split that ended without finishing: %1, which is empty; "
                              "it can be removed")
                .arg(name);
    return QStringLiteral("Left by a split that ended without finishing: %1 (%2 MiB); it may hold "
                          "an earlier piece as it stood before: look into it before removing it")
            .arg(name, mebibytes(file.size));
}

} // namespace

namespace SplitReport {

QStringList lines(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                  const QString &folder, const QString &fileName, bool folderRemoved)
{
    if (plan.status() != Ddb::PiecePlan::Status::Ready)
        return { refusal(plan) };
    const Names names(fileName);
    QStringList lines = refusals(outcome);
    if (lines.isEmpty())
        lines << written(plan, outcome, folder, folderRemoved, names) << problems(outcome, names);
    if (outcome.lock == System::RecordingFolder::Lock::NotLockable)
        lines << QStringLiteral("No lock could be taken on this folder: another split into it "
                                "would not have been noticed");
    if (!outcome.stalePieces.isEmpty())
        lines << fitted([&](int most) {
            return QStringLiteral("Left from an earlier split: ")
                    + names.ranges(outcome.stalePieces, most);
        });
    for (const Ddb::StrandedFile &file : outcome.strandedTemporaries)
        lines << stranded(file);
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
