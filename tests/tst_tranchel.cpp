// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "tranchel.h"

#include "dialogdriver.h"
#include "faultinjection.h"
#include "piececheck.h"
#include "piecesteps.h"
#include "splitreport.h"
#include "syntheticrecording.h"

#include <QAccessible>
#include <QCompleter>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/file.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// What the window logged, for the debug lines a split writes.
QStringList &debugLines()
{
    static QStringList lines = {};
    return lines;
}
QtMessageHandler previousHandler = nullptr;

void collectDebugLines(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines() << message;
    else
        previousHandler(type, context, message);
}

QStringList idleTexts()
{
    return { "<b>Name:</b> -", "<b>Date:</b> -", "<b>Frequency:</b> -", "<b>Channels:</b> -",
             "<b>Samples:</b> -" };
}

QFont pinnedFont()
{
    return QFont("DejaVu Sans", 9);
}

// A tooltip as its reader sees it.
QString plain(const QString &toolTip)
{
    QTextDocument document;
    document.setHtml(toolTip);
    return toolTip.isEmpty() ? QString() : document.toPlainText();
}

// A piece of one MiB, or one that holds 30 of its 60 frames.
Ddb::FailedPiece failed(quint32 number, Ddb::PieceFailure failure,
                        const System::Error &error = System::Error(),
                        const QString &leftover = QString(),
                        System::LeftFile::Holds holds = System::LeftFile::Holds::Removable)
{
    return { number, { failure, error, { leftover, holds }, {} }, 30, 60, 1 << 20 };
}

// The files and folders among `paths` that this program holds open (Linux), by its
// descriptors' entries in /proc.
QStringList heldOf(const QStringList &paths)
{
    QStringList held;
    const QStringList entries = entriesOf("/proc/self/fd");
    for (const QString &entry : entries) {
        const QString target = QFileInfo("/proc/self/fd/" + entry).symLinkTarget();
        if (paths.contains(target))
            held << target;
    }
    return held;
}

const System::Error diskFull { System::Cause::DiskFull, "No space left on device" };
const System::Error inputOutput { System::Cause::InputOutput, "Input/output error" };

} // namespace

Q_DECLARE_METATYPE(Ddb::SplitOutcome)

class TestTranchel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void shouldBeIdleAtStart();
    void shouldDeclareItsSlotsInOrder();
    void shouldPhraseWhatASplitDid_data();
    void shouldPhraseWhatASplitDid();
    void shouldSayWhatASplitWrote_data();
    void shouldSayWhatASplitWrote();
    void shouldSayWhereTheFileDiffersFromItsHeader_data();
    void shouldSayWhereTheFileDiffersFromItsHeader();
    void shouldAnswerThePlatformsKeys_data();
    void shouldAnswerThePlatformsKeys();
    void shouldShowTheHeader_data();
    void shouldShowTheHeader();
    void shouldStayIdleForWhatIsNoRecording_data();
    void shouldStayIdleForWhatIsNoRecording();
    void shouldReturnToIdleWhenCancelled();
    void shouldReuseOneDialog_data();
    void shouldReuseOneDialog();
    void shouldOpenAndSplitThroughTheWindow_data();
    void shouldOpenAndSplitThroughTheWindow();
    void shouldReportAFailedSplit_data();
    void shouldReportAFailedSplit();
    void shouldCompleteASplitWithoutSamples();
    void shouldShowEveryTextWhole_data();
    void shouldShowEveryTextWhole();
    void shouldShortenALongName();
    void shouldLetTheKeyboardReachTheReport();
    void shouldTellAssistiveTechnologyTheReport();
    void shouldReopenAfterASplit();

private:
    QString write(const QString &name, const QByteArray &content);
    void open(const QString &path);
    void cancelOpen();
    void split();
    QStringList infoTexts() const;
    void verifyEveryTextFits() const;
    bool isLoaded() const;

    template<typename T> T *child(const char *name) const
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no child %s", name);
        return widget;
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Tranchel> window;
};

void TestTranchel::initTestCase()
{
    // The window's size depends on the font: pin one that every machine here has.
    QApplication::setFont(pinnedFont());
}

void TestTranchel::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    window = std::make_unique<Tranchel>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    debugLines().clear();
    previousHandler = qInstallMessageHandler(collectDebugLines);
}

void TestTranchel::cleanup()
{
    qInstallMessageHandler(previousHandler);
    window.reset();
    dir.reset();
    QApplication::setFont(pinnedFont());
}

QString TestTranchel::write(const QString &name, const QByteArray &content)
{
    const QString path = dir->filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    if (!writeContent(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestTranchel::open(const QString &path)
{
    const QStringList chosen = openThroughDialog(*window, path);
    QVERIFY(!window->findChild<QFileDialog *>()->isVisible());
    if (!path.isEmpty())
        QCOMPARE(chosen, QStringList { path });
    QVERIFY(!QApplication::overrideCursor());
}

void TestTranchel::cancelOpen()
{
    open(QString());
}

// Until the split has ended: the window answers meanwhile.
void TestTranchel::split()
{
    child<QPushButton>("splitButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::overrideCursor(), 60000);
    QVERIFY(child<QPushButton>("openButton")->isEnabled());
}

QStringList TestTranchel::infoTexts() const
{
    QStringList texts;
    for (const char *name :
         { "nameLabel", "dateLabel", "frequencyLabel", "channelsLabel", "samplesLabel" })
        texts << child<QLabel>(name)->text();
    return texts;
}

void TestTranchel::verifyEveryTextFits() const
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QList<QWidget *> controls
            = window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *control : controls) {
        if (!control->isVisible())
            continue;
        const QSize hint = control->sizeHint();
        QVERIFY2(window->rect().contains(control->geometry()),
                 qPrintable(control->objectName() + " lies outside the window"));
        QVERIFY2(hint.width() <= control->width() && hint.height() <= control->height(),
                 qPrintable(QStringLiteral("%1 needs %2 x %3, has %4 x %5")
                                    .arg(control->objectName())
                                    .arg(hint.width())
                                    .arg(hint.height())
                                    .arg(control->width())
                                    .arg(control->height())));
    }
}

bool TestTranchel::isLoaded() const
{
    const bool splittable = child<QPushButton>("splitButton")->isEnabled();
    if (splittable != child<QSpinBox>("minutesSpin")->isEnabled())
        qFatal("split button and minutes disagree");
    return splittable;
}

void TestTranchel::shouldBeIdleAtStart()
{
    QVERIFY(!isLoaded());
    auto *minutes = child<QSpinBox>("minutesSpin");
    QCOMPARE(minutes->value(), 60);
    QCOMPARE(minutes->minimum(), 1);
    QCOMPARE(minutes->maximum(), 120);
    QCOMPARE(infoTexts(), idleTexts());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
    QVERIFY(child<QPushButton>("openButton")->isEnabled());
    QCOMPARE(window->focusWidget(), child<QPushButton>("openButton"));
    QCOMPARE(window->size(), QSize(250, 250));
    QCOMPARE(window->minimumSize(), QSize(250, 250));
    QCOMPARE(window->maximumSize(), QSize(250, 250));
    auto *dialog = window->findChild<QFileDialog *>();
    QVERIFY(dialog && !dialog->isVisible());
    QCOMPARE(dialog->nameFilters(), QStringList { "DDB file (*.ddb)" });
    // What assistive technology is told of each control, on every platform's build.
    const std::pair<const char *, const char *> names[] = { { "openButton", "Open file" },
                                                            { "nameLabel", "Name: -" },
                                                            { "minutesSpin", "Minutes per piece" },
                                                            { "splitButton", "Split file" } };
    for (const auto &[object, name] : names)
        QCOMPARE(QAccessible::queryAccessibleInterface(child<QWidget>(object))
                         ->text(QAccessible::Name),
                 QLatin1String(name));
}

void TestTranchel::shouldDeclareItsSlotsInOrder()
{
    const QMetaObject *meta = window->metaObject();
    QCOMPARE(meta->className(), "Tranchel");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 3);
    const QByteArray signatures[] = { "onOpenFilesButtonClicked()", "onReplaceButtonClicked()",
                                      "onMinutesSpinValueChanged(int)" };
    for (int i = 0; i < 3; ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), signatures[i]);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
    }
    QCOMPARE(meta->method(meta->methodOffset() + 2).parameterNames(),
             QList<QByteArray> { QByteArray() });
}

void TestTranchel::shouldPhraseWhatASplitDid_data()
{
    using Ddb::PieceFailure;
    using System::Cause;
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<Ddb::SplitOutcome>("outcome");
    // Of a split into 30 pieces; a line that begins with ^ is a pattern.
    QTest::addColumn<QStringList>("lines");
    const QString run = "run.ddb";
    const QString folder = "/d<b>&amp;";

    Ddb::SplitOutcome refusals;
    const std::pair<PieceFailure, Cause> each[] = {
        { PieceFailure::NotARegularFile, Cause::None },
        { PieceFailure::LinkInTheWay, Cause::None },
        { PieceFailure::IsTheRecording, Cause::None },
        { PieceFailure::WriteProtected, Cause::None },
        { PieceFailure::DifferentFile, Cause::None },
        { PieceFailure::Unreadable, Cause::Other },
        { PieceFailure::NoFrames, Cause::None },
        { PieceFailure::FewerFrames, Cause::None },
        { PieceFailure::StampTooLate, Cause::None },
        { PieceFailure::ReplacedAfterWriting, Cause::None },
        { PieceFailure::RecordingUnreadable, Cause::InputOutput },
        { PieceFailure::RecordingShortened, Cause::None },
        { PieceFailure::RecordingChanged, Cause::None },
        { PieceFailure::SplitStopped, Cause::None },
        { PieceFailure::StopAsked, Cause::None },
    };
    quint32 number = 0;
    for (const auto &[failure, cause] : each)
        refusals.failures << failed(number += 2, failure, { cause, "said" });
    QTest::newRow("each refusal of what stands under a name")
            << run << folder << refusals
            << QStringList {
                   "16 of 30 pieces written: run_1.ddb, run_3.ddb, run_5.ddb and 13 more",
                   "In /d<b>&amp;",
                   "run_2.ddb: a folder or special file has this name: rename or move it, then "
                   "split again",
                   "run_4.ddb: a link has this name, and links are never followed: rename or "
                   "move it, then split again",
                   "run_6.ddb: this name leads to the recording itself: rename or move it, then "
                   "split again",
                   "run_8.ddb: an earlier piece here is write-protected, or not yours to write: "
                   "make it writable or remove it, then split again",
                   "run_10.ddb: a file that is no earlier piece of this recording has this name: "
                   "rename or move it, then split again",
                   "run_12.ddb: the file here could not be read to tell whether it is an earlier "
                   "piece (said)",
                   "run_14.ddb: not written: the recording ends before it",
                   "run_16.ddb holds 30 of 60 frames: the recording ends there",
                   "run_18.ddb: not written: its time stamp would be after the year 67535",
                   "run_20.ddb: not written: another program replaced it after it was written: "
                   "split again when nothing else writes into this folder",
                   "run_22.ddb: not written: the recording could not be read (the disk failed to "
                   "read)",
                   "run_24.ddb: not written: the recording is shorter than when it was opened",
                   "run_26.ddb: not written: the recording changed while it was being split: open "
                   "it again, then split again",
                   "run_28.ddb: not written: the split stopped at the change above",
                   "run_30.ddb: not written: the split was stopped"
               };
    Ddb::SplitOutcome causes;
    number = 0;
    for (const Cause cause :
         { Cause::DiskFull, Cause::ReadOnlyFileSystem, Cause::InputOutput, Cause::Permission,
           Cause::FileSizeLimit, Cause::TooManyOpenFiles, Cause::NameTooLong, Cause::FolderGone,
           Cause::MovedAway, Cause::ChangedMeanwhile, Cause::InUse, Cause::Other })
        causes.failures << failed(number += 2, PieceFailure::NotWritten, { cause, "said" });
    QTest::newRow("each cause a step failed for")
            << run << folder << causes
            << QStringList {
                   "18 of 30 pieces written: run_1.ddb, run_3.ddb, run_5.ddb and 15 more",
                   "In /d<b>&amp;",
                   "run_2.ddb: not written: the disk is full: 1 MiB more are needed",
                   "run_4.ddb: not written: the disk is read-only",
                   "run_6.ddb: not written: the disk failed to read or write (said)",
                   "run_8.ddb: not written: you may not write into this folder: copy the "
                   "recording to a folder you can write, and split it there",
                   "run_10.ddb: not written: larger than the file size limit this program runs "
                   "under",
                   "run_12.ddb: not written: too many files are open: close some programs, then "
                   "split again",
                   "run_14.ddb: not written: the name is too long for this folder's file system: "
                   "give the recording a shorter name",
                   "run_16.ddb: not written: the folder was removed or moved away",
                   "run_18.ddb: not written: the file under this name was moved away while the "
                   "split ran: split again",
                   "run_20.ddb: not written: the name was taken, or the file under it changed, "
                   "while the split ran",
                   "run_22.ddb: not written: another program holds the file open and shares it "
                   "with no one: close it, then split again",
                   "run_24.ddb: not written: it could not be written (said)"
               };
    Ddb::SplitOutcome many;
    QStringList shown { "5 of 30 pieces written: run_26.ddb to run_30.ddb", "In /d<b>&amp;" };
    for (quint32 piece = 1; piece <= 25; ++piece) {
        const bool late = piece % 2 == 0;
        many.failures << failed(piece, late ? PieceFailure::StampTooLate : PieceFailure::NoFrames);
        shown << QString("run_%1.ddb: not written: %2")
                         .arg(piece)
                         .arg(late ? "its time stamp would be after the year 67535"
                                   : "the recording ends before it");
    }
    QTest::newRow("more lines than are shown")
            << run << folder << many << shown.mid(0, 20) + QStringList { "... and 7 more" };
    Ddb::SplitOutcome runs;
    runs.failures << failed(2, PieceFailure::NotWritten, diskFull)
                  << failed(3, PieceFailure::NotWritten, diskFull, ".tranchel-3.tmp")
                  << failed(4, PieceFailure::NotWritten, diskFull)
                  << failed(5, PieceFailure::NotWritten, inputOutput)
                  << failed(6, PieceFailure::NotWritten, diskFull)
                  << failed(7, PieceFailure::NotWritten, diskFull)
                  << failed(29, PieceFailure::NoFrames) << failed(30, PieceFailure::NoFrames);
    QTest::newRow("a line for each run of pieces that failed alike, leftovers apart")
            << run << folder << runs
            << QStringList {
                   "22 of 30 pieces written: run_1.ddb, run_8.ddb to run_28.ddb",
                   "In /d<b>&amp;",
                   "run_2.ddb: not written: the disk is full: 1 MiB more are needed",
                   "run_3.ddb: not written: the disk is full: 1 MiB more are needed; its "
                   "temporary file .tranchel-3.tmp could not be removed",
                   "run_4.ddb: not written: the disk is full: 1 MiB more are needed",
                   "run_5.ddb: not written: the disk failed to read or write "
                   "(Input/output error)",
                   "run_6.ddb to run_7.ddb: not written: the disk is full: 2 MiB more "
                   "are needed",
                   "run_29.ddb to run_30.ddb: not written: the recording ends before it"
               };
    Ddb::SplitOutcome refused;
    refused.folderError = { System::Cause::Permission, "Permission denied" };
    refused.lock = System::RecordingFolder::Lock::HeldElsewhere;
    refused.memoryShort = 3 << 20;
    refused.buffersShort = true;
    refused.changedBeforeSplit = true;
    QTest::newRow("refusals, which write nothing")
            << run << folder << refused
            << QStringList { "Refused: the recording's folder could not be opened (Permission "
                             "denied)",
                             "Refused: another split is writing into this folder: wait until it "
                             "ends, then split again",
                             "Refused: this folder is held in memory, and its pieces would need "
                             "3 MiB more than is free",
                             "Refused: not enough memory for the split's buffers",
                             "Refused: the recording changed after it was opened: open it again, "
                             "then split again" };
    Ddb::SplitOutcome unsynced;
    unsynced.folderSyncError = inputOutput;
    unsynced.lock = System::RecordingFolder::Lock::NotLockable;
    unsynced.stalePieces = { 34, 35, 36, 38 };
    unsynced.strandedTemporaries << Ddb::StrandedFile { ".tranchel-7.tmp", (2 << 20) + 1 }
                                 << Ddb::StrandedFile { ".tranchel-8.tmp", 0 };
    QTest::newRow("an unflushed folder, no lock, and what is left beside the pieces")
            << run << folder << unsynced
            << QStringList { "30 of 30 pieces written: run_1.ddb to run_30.ddb",
                             "In /d<b>&amp;",
                             "The folder's new names may not survive a power cut (Input/output "
                             "error)",
                             "No lock could be taken on this folder: another split into it would "
                             "not have been noticed",
                             "Left from an earlier split: run_34.ddb to run_36.ddb, run_38.ddb",
                             "Left by a split that ended without finishing: .tranchel-7.tmp (3 "
                             "MiB); it may hold an earlier piece as it stood before: look into it "
                             "before removing it",
                             "Left by a split that ended without finishing: .tranchel-8.tmp, which "
                             "is empty; it can be removed" };
    Ddb::SplitOutcome apart;
    apart.failures << failed(2, PieceFailure::NoFrames) << failed(4, PieceFailure::NoFrames);
    QTest::newRow("pieces that failed alike with a written one between them")
            << run << folder << apart
            << QStringList {
                   "28 of 30 pieces written: run_1.ddb, run_3.ddb, run_5.ddb to run_30.ddb",
                   "In /d<b>&amp;", "run_2.ddb: not written: the recording ends before it",
                   "run_4.ddb: not written: the recording ends before it"
               };
    Ddb::SplitOutcome kept;
    const System::Error changed { Cause::ChangedMeanwhile, QString() };
    kept.failures << failed(2, PieceFailure::NotWritten, changed, ".tranchel-2.tmp",
                            System::LeftFile::Holds::ReplacedFileChanged)
                  << failed(3, PieceFailure::NotWritten, changed, ".tranchel-3.tmp",
                            System::LeftFile::Holds::AnotherFile);
    const QString changedLine = "not written: the name was taken, or the file under it changed, "
                                "while the split ran";
    QTest::newRow("files kept because they hold someone's data")
            << run << folder << kept
            << QStringList { "28 of 30 pieces written: run_1.ddb, run_4.ddb to run_30.ddb",
                             "In /d<b>&amp;",
                             "run_2.ddb: " + changedLine,
                             ".tranchel-2.tmp holds what was under run_2.ddb when this split "
                             "replaced it, changed meanwhile: it was kept; rename it back or look "
                             "into it",
                             "run_3.ddb: " + changedLine,
                             ".tranchel-3.tmp holds a file that another program put under "
                             "run_3.ddb while the split ran: it was kept; look into it" };
    // What is still needed is rounded up.
    for (const qint64 shortBy : { qint64(1), qint64(1 << 20) + 1 }) {
        Ddb::SplitOutcome memory;
        memory.memoryShort = shortBy;
        QTest::addRow("%lld bytes short of memory", shortBy)
                << run << folder << memory
                << QStringList { QString("Refused: this folder is held in memory, and its pieces "
                                         "would need %1 MiB more than is free")
                                         .arg(shortBy == 1 ? 1 : 2) };
    }
    // Names on one line each, at most 120 characters, in lines of at most 300.
    Ddb::SplitOutcome odd;
    odd.failures << failed(30, PieceFailure::NoFrames);
    QTest::newRow("names with control and format characters")
            << "r\nu" + QString(QChar(0x202e)) + "n" + QChar(0x85) + ".ddb"
            << QString("/a\r") + QChar(0) + "b" << odd
            << QStringList { "29 of 30 pieces written: r\\u000au\\u202en\\u0085_1.ddb to "
                             "r\\u000au\\u202en\\u0085_29.ddb",
                             "In /a\\u000d\\u0000b",
                             "r\\u000au\\u202en\\u0085_30.ddb: not written: the recording ends "
                             "before it" };
    const QString longName = QString(196, 'n') + ".ddb";
    const QString n60 = QString(60, 'n');
    QTest::newRow("names and folders longer than 120 characters, shortened in the middle")
            << longName << "/" + QString(199, 'f') << odd
            << QStringList { "29 of 30 pieces written: " + n60 + "…" + QString(53, 'n')
                                     + "_1.ddb to " + n60 + "…" + QString(52, 'n') + "_29.ddb",
                             "In /" + QString(59, 'f') + "…" + QString(59, 'f'),
                             n60 + "…" + QString(52, 'n')
                                     + "_30.ddb: not written: the recording ends before it" };
    Ddb::SplitOutcome everyOther;
    for (quint32 piece = 2; piece <= 30; piece += 2)
        everyOther.failures << failed(piece, PieceFailure::NotWritten, diskFull,
                                      ".tranchel-0123456789abcdef.tmp");
    QStringList everyOtherLines {
        "^15 of 30 pieces written: (n+…n+_[135]\\.ddb(, | and 12 more$)){3}", "^In /f+…f+$"
    };
    for (int piece = 2; piece <= 30; piece += 2)
        everyOtherLines << QString("^n+…n+_%1\\.ddb: not written: the disk is full: 1 MiB more are "
                                   "needed; its temporary file \\.tranchel-0123456789abcdef\\.tmp "
                                   "could not be removed$")
                                   .arg(piece);
    QTest::newRow("long names in a line that would be longer than 300 characters")
            << longName << "/" + QString(199, 'f') << everyOther << everyOtherLines;
    Ddb::SplitOutcome done;
    done.stalePieces = { 35 };
    done.kept = 28;
    QTest::newRow("a completed split, pieces kept, and one piece left")
            << run << folder << done
            << QStringList { "30 pieces written: run_1.ddb to run_30.ddb",
                             "28 of them were already there, byte for byte, and were kept",
                             "In /d<b>&amp;", "Left from an earlier split: run_35.ddb" };
}

void TestTranchel::shouldPhraseWhatASplitDid()
{
    QFETCH(Ddb::SplitOutcome, outcome);
    QFETCH(QStringList, lines);
    QFETCH(QString, fileName);
    QFETCH(QString, folder);
    Ddb::Header thirty;
    thirty.frequency = 1;
    thirty.channels = 1;
    thirty.samples = 30 * 60;
    const Ddb::PiecePlan plan(thirty, 1, 512 + 30 * 60 * 4);
    const QStringList report = SplitReport::lines(plan, outcome, folder, fileName);
    const QStringList shown = SplitReport::plainText(report).split('\n');
    QCOMPARE(plain(SplitReport::toolTip(report)).split('\n'), shown);
    QCOMPARE(shown.size(), lines.size());
    for (int i = 0; i < shown.size(); ++i) {
        QVERIFY2(shown.at(i).size() <= 300, qPrintable(shown.at(i)));
        static QRegularExpression pattern;
        pattern.setPattern(lines.at(i));
        if (lines.at(i).startsWith('^'))
            QVERIFY2(pattern.match(shown.at(i)).hasMatch(), qPrintable(shown.at(i)));
        else
            QCOMPARE(shown.at(i), lines.at(i));
    }
}

void TestTranchel::shouldSayWhatASplitWrote_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("earlier"); // pieces planted under run_1.ddb, ...
    QTest::addColumn<QString>("change"); // made to the folder between opening and splitting
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("lines"); // %1: the folder

    const QString in = "In %1";
#if defined(Q_OS_WIN)
    const QString markupFolder = "R&amp;D"; // Windows names hold no < or >
#else
    const QString markupFolder = "a<b>&amp;";
#endif
    QTest::newRow("three pieces") << "work" << QStringList() << "" << 1
                                  << QStringList { "3 pieces written: run_1.ddb to run_3.ddb", in };
    QTest::newRow("one piece, in a folder named like markup")
            << markupFolder << QStringList() << "" << 3
            << QStringList { "1 piece written: run_1.ddb", in };
    QTest::newRow("pieces left from a split into more")
            << "work" << threePieces() << "" << 3
            << QStringList { "1 piece written: run_1.ddb", in,
                             "Left from an earlier split: run_2.ddb to run_3.ddb" };
    QTest::newRow("a temporary file a split that did not finish left")
            << "work" << QStringList() << "stranded" << 3
            << QStringList { "1 piece written: run_1.ddb", in,
                             "Left by a split that ended without finishing: .tranchel-0123abcd.tmp "
                             "(1 MiB); it may hold an earlier piece as it stood before: look into "
                             "it before removing it" };
#if !defined(Q_OS_WIN) // names there hold no line breaks
    QTest::newRow("names planted like temporary files are no files of this program's")
            << "work" << QStringList() << "planted" << 3
            << QStringList { "1 piece written: run_1.ddb", in };
#endif
    QTest::newRow("a folder named as a removed one is named")
            << "work (deleted)" << QStringList() << "" << 3
            << QStringList { "1 piece written: run_1.ddb", in };
#if !defined(Q_OS_WIN) // a folder held open there can be neither renamed nor removed
    QTest::newRow("the folder renamed: named where the pieces are")
            << "work" << QStringList() << "renamed" << 3
            << QStringList { "1 piece written: run_1.ddb", in };
    QTest::newRow("the folder removed")
            << "work" << QStringList() << "removed" << 3
            << QStringList { "0 of 1 pieces written", in + ", which was removed meanwhile",
                             "run_1.ddb: not written: the folder was removed or moved away" };
#endif
}

void TestTranchel::shouldSayWhatASplitWrote()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, earlier);
    QFETCH(QString, change);
    QFETCH(int, minutes);
    QFETCH(QStringList, lines);

    if ((change == "renamed" || change == "removed") && System::goesByPath())
        QSKIP("the portable steps hold no folder: they follow its path");
    const QByteArray source = threePieceRecording();
    QString path = write(folder + "/run.ddb", source);
    // Opened through a link, so that the folder can go without touching the recording.
    if (change == "removed")
        QVERIFY(QFile::remove(path) && QFile::link(write("elsewhere/run.ddb", source), path));
    for (int i = 0; i < earlier.size(); ++i)
        write(folder + QString("/run_%1.ddb").arg(i + 1), expectedPiece(source, earlier.at(i), 3));
    open(path);
    QString folderNow = QFileInfo(path).path();
    if (change == "stranded")
        write(folder + "/.tranchel-0123abcd.tmp", "stopped");
    if (change == "planted") {
        for (const QString &name :
             { QString(".tranchel-0\nSplit completed\n.tmp"),
               ".tranchel-0" + QString(QChar(0x202e)) + ".tmp", QString(".tranchel-0123ABCD.tmp") })
            write(folder + '/' + name, "planted");
        QVERIFY(QDir(folderNow).mkdir(".tranchel-0123abcd.tmp"));
    }
    if (change == "renamed") {
        QVERIFY(QDir().rename(folderNow, folderNow + "-renamed"));
        folderNow += "-renamed";
    }
    if (change == "removed")
        QVERIFY(QFile::remove(path) && QDir().rmdir(folderNow));
    child<QSpinBox>("minutesSpin")->setValue(minutes);
    split();
    QCOMPARE(plain(child<QLabel>("statusLabel")->toolTip()),
             lines.join('\n').replace("%1", folderNow));
}

void TestTranchel::shouldSayWhereTheFileDiffersFromItsHeader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("toolTip");

    const QByteArray full = threePieceRecording();
    QTest::newRow("every counted frame and no more") << full << QString();
    QTest::newRow("fewer frames than counted")
            << withField(makeRecording(3, 2, 150, "2024-05-06 10:00:00"), 66, 300, 4)
            << "The file holds only 150 whole frames: the split will fail";
    QTest::newRow("the last frame cut short")
            << full.left(full.size() - 5)
            << "The file holds only 299 whole frames: the split will fail";
    QTest::newRow("header fields only")
            << full.left(70) << "The file holds only 0 whole frames: the split will fail";
    QTest::newRow("frames after the counted ones")
            << withField(full, 66, 280, 4)
            << "20 more whole frames follow the counted ones: they will be in no piece";
    QTest::newRow("no channels") << withField(makeRecording(0, 2, 0, "2024-05-06 10:00:00"), 66,
                                              300, 4)
                                 << QString();
}

void TestTranchel::shouldSayWhereTheFileDiffersFromItsHeader()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, toolTip);
    open(write("run.ddb", content));
    QCOMPARE(plain(child<QLabel>("samplesLabel")->toolTip()), toolTip);
    QCOMPARE(child<QLabel>("samplesLabel")->accessibleDescription(), toolTip);
    cancelOpen();
    QCOMPARE(child<QLabel>("samplesLabel")->toolTip(), QString());
}

void TestTranchel::shouldAnswerThePlatformsKeys_data()
{
    QTest::addColumn<QKeySequence::StandardKey>("key");
    QTest::addColumn<QString>("effect");
    QTest::newRow("Open opens") << QKeySequence::Open << "opens";
    QTest::newRow("Quit closes") << QKeySequence::Quit << "closes";
    QTest::newRow("Close closes") << QKeySequence::Close << "closes";
    QTest::newRow("Save does not split") << QKeySequence::Save << "nothing";
}

void TestTranchel::shouldAnswerThePlatformsKeys()
{
    QFETCH(QKeySequence::StandardKey, key);
    QFETCH(QString, effect);
    if (QKeySequence::keyBindings(key).isEmpty())
        QSKIP("this platform has no such key");
    const QString path = write("run.ddb", threePieceRecording());
    if (effect == "opens") {
        openThroughDialog(*window, path, {},
                          [this, key] { QTest::keySequence(window.get(), key); });
        QVERIFY(isLoaded());
        return;
    }
    open(path);
    // Keys reach the active window, which the dialog may have taken with it.
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keySequence(window.get(), key);
    QCOMPARE(window->isVisible(), effect == "nothing");
    QVERIFY(isLoaded());
    QCOMPARE(entriesOf(dir->path()), QStringList { "run.ddb" });
}

void TestTranchel::shouldShowTheHeader_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("texts"); // name, date and samples; frequency 2, 3 channels

    const QByteArray base = makeRecording(3, 2, 300, "2000-12-05 14:26:03");
    const QString date = "2000.12.05 14:26:03";
    QTest::newRow("stored year 0") << "run.ddb" << base << QStringList { "run.ddb", date, "300" };
    QTest::newRow("samples with the top bit set")
            << "big.ddb" << withField(base, 66, 0x80000001u, 4)
            << QStringList { "big.ddb", date, "2147483649" };
#if defined(Q_OS_WIN) // Windows names hold no < or >
    QTest::newRow("markup in a name shows as typed")
            << "a&amp;.ddb" << base << QStringList { "a&amp;amp;.ddb", date, "300" };
#else
    QTest::newRow("markup in a name shows as typed")
            << "a<b>&amp;.ddb" << base << QStringList { "a&lt;b&gt;&amp;amp;.ddb", date, "300" };
#endif
    QTest::newRow("an invalid date shows as it stands")
            << "month13.ddb" << withField(base.left(511), 46, 13, 2)
            << QStringList { "month13.ddb", "2000.13.05 14:26:03 (invalid)", "300" };
}

void TestTranchel::shouldShowTheHeader()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, texts);

    open(write(name, content));
    QStringList shown = infoTexts();
    // A date too wide for the window is shortened at its end.
    const QString date = "<b>Date:</b> " + texts.at(1);
    if (shown.at(1).endsWith(QChar(0x2026)) && date.startsWith(shown.at(1).chopped(1)))
        shown[1] = date;
    QCOMPARE(shown,
             QStringList({ "<b>Name:</b> " + texts.at(0), date, "<b>Frequency:</b> 2",
                           "<b>Channels:</b> 3", "<b>Samples:</b> " + texts.at(2) }));
    QVERIFY(isLoaded());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
}

// What the reader refuses is the reader's to tell; here, that the window stays idle.
void TestTranchel::shouldStayIdleForWhatIsNoRecording_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size"); // -1: none

    QTest::newRow("69 bytes") << "short.ddb" << 69;
    QTest::newRow("typed name of a missing file") << "missing.ddb" << -1;
}

void TestTranchel::shouldStayIdleForWhatIsNoRecording()
{
    QFETCH(QString, name);
    QFETCH(int, size);

    open(write("good.ddb", threePieceRecording()));
    QVERIFY(isLoaded());
    if (size >= 0)
        write(name, QByteArray(size, 'x'));
    open(dir->filePath(name));
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
}

void TestTranchel::shouldReturnToIdleWhenCancelled()
{
    const QString path = write("run.ddb", threePieceRecording());
    open(path);
    QVERIFY(isLoaded());
    cancelOpen();
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    QCOMPARE(heldOf({ path, dir->path() }), QStringList());
}

void TestTranchel::shouldReuseOneDialog_data()
{
    QTest::addColumn<QString>("closedBy"); // the second opening
    for (const char *closing :
         { "accepted", "Return with the name list open", "a double click", "Escape" })
        QTest::newRow(closing) << QString(closing);
}

void TestTranchel::shouldReuseOneDialog()
{
    QFETCH(QString, closedBy);
    if (closedBy.startsWith("Return") && QGuiApplication::platformName() == "offscreen")
        QSKIP("the offscreen platform shows no name list: see the tst_tranchel_desktop entry");
    auto *dialog = window->findChild<QFileDialog *>();
    const QString first = write("one/first.ddb", makeRecording(1, 1, 1, "2024-01-01 00:00:00"));
    const QString second = write("one/second.ddb", makeRecording(1, 1, 2, "2024-01-01 00:00:00"));
    open(first);
    cancelOpen();
    open(first);
    child<QSpinBox>("minutesSpin")->setFocus();
    dialog->setDirectory(dir->filePath("one")); // where the user went
    bool listShown = false;
    // As a user answers it, once it has read its folder; never left open.
    QTimer::singleShot(0, dialog, [&] {
        auto *nameEdit = dialog->findChild<QLineEdit *>("fileNameEdit");
        auto *view = dialog->findChild<QTreeView *>("treeView");
        const bool ready = QTest::qWaitForWindowActive(dialog)
                && QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 2; });
        const QPoint at = view->visualRect(view->model()->index(1, 0, view->rootIndex())).center();
        if (closedBy == "accepted") {
            nameEdit->setText(second);
            static_cast<QDialog *>(dialog)->accept();
        } else if (ready && closedBy.startsWith("Return")) {
            nameEdit->setFocus();
            QTest::keyClicks(nameEdit, "sec");
            listShown
                    = QTest::qWaitFor([&] { return nameEdit->completer()->popup()->isVisible(); });
            QTest::keyClicks(nameEdit, "ond.ddb");
            QTest::keyClick(nameEdit, Qt::Key_Return);
        } else if (ready && closedBy.endsWith("click")) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
        if (dialog->isVisible())
            dialog->reject();
    });
    child<QPushButton>("openButton")->click();
    QCOMPARE(listShown, closedBy.startsWith("Return"));
    const bool opened = closedBy != "Escape";
    QCOMPARE(infoTexts().constFirst(), opened ? "<b>Name:</b> second.ddb" : "<b>Name:</b> -");
    QTRY_COMPARE(QApplication::activeWindow(), window.get());
    // Where it was, unless the window went idle, which leaves "Open file" alone enabled.
    QCOMPARE(QApplication::focusWidget(),
             opened ? static_cast<QWidget *>(child<QSpinBox>("minutesSpin"))
                    : child<QPushButton>("openButton"));
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows)
        QVERIFY2(widget == window.get() || !widget->isVisible(), qPrintable(widget->objectName()));
    QCOMPARE(window->findChildren<QFileDialog *>(), QList<QFileDialog *> { dialog });
    QCOMPARE(dialog->nameFilters(), QStringList { "DDB file (*.ddb)" });
    QCOMPARE(dialog->viewMode(), QFileDialog::Detail);
    // Hidden, the dialog follows no change of its folder; shown again, it lists what came.
    QSignalSpy listed(dialog->findChild<QFileSystemModel *>(), &QAbstractItemModel::rowsInserted);
    const QString third = write("one/third.ddb", makeRecording(1, 1, 3, "2024-01-01 00:00:00"));
    QTest::qWait(1000);
    QCOMPARE(listed.count(), 0);
    openThroughDialog(*window, third, [&] { QTRY_VERIFY(listed.count() > 0); });
    QCOMPARE(infoTexts().constFirst(), "<b>Name:</b> third.ddb");
}

void TestTranchel::shouldOpenAndSplitThroughTheWindow_data()
{
    QTest::addColumn<QString>("whileHeld"); // done while the split waits before piece 2's file
    QTest::addColumn<int>("pieces"); // those on disk; all three: "Split completed"
    QTest::newRow("not held") << QString() << 3;
    QTest::newRow("held, then let go") << "nothing" << 3;
    QTest::newRow("Escape while held") << "Escape" << 1;
    QTest::newRow("closed while held") << "close" << 1;
}

void TestTranchel::shouldOpenAndSplitThroughTheWindow()
{
    QFETCH(QString, whileHeld);
    QFETCH(int, pieces);
    static FaultInjection injection;
    if (!whileHeld.isEmpty())
        TRANCHEL_REQUIRE_FAULTS(injection);
    const QByteArray source = threePieceRecording();
    const QString path = write("run.ddb", source);
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(1);
    debugLines().clear();
    auto *status = child<QLabel>("statusLabel");
    QSemaphore held;
    QSemaphore letGo;
    // Let go whatever fails, or the window would wait for the held split forever.
    const auto guard = qScopeGuard([&] { letGo.release(); });
    if (!whileHeld.isEmpty())
        injection.hookBefore("openat/unnamed", 2, [&](const QByteArray &) {
            held.release();
            letGo.acquire();
        });
    QString statusOnTimer;
    QTimer::singleShot(0, status, [&] { statusOnTimer = status->text(); });
    child<QPushButton>("splitButton")->click();
    if (!whileHeld.isEmpty()) {
        QTRY_COMPARE(held.available(), 1);
        QCOMPARE(statusOnTimer, "Splitting: piece 1 of 3");
        QTRY_COMPARE(status->text(), "Splitting: piece 2 of 3");
        QVERIFY(!child<QPushButton>("openButton")->isEnabled() && !isLoaded());
        QTest::keySequence(window.get(), QKeySequence::Open);
        QVERIFY(!window->findChild<QFileDialog *>()->isVisible());
        if (whileHeld == "Escape")
            QTest::keyClick(window.get(), Qt::Key_Escape);
        if (whileHeld == "close")
            QVERIFY(!window->close());
        letGo.release();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::overrideCursor(), 60000);
    if (!whileHeld.isEmpty())
        injection.disable({});
    QCOMPARE(window->isVisible(), whileHeld != "close");
    // A second stop, or a click, changes nothing more.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    child<QPushButton>("splitButton")->click();
    QCOMPARE(status->text(), pieces == 3 ? "Split completed" : "Split stopped");
    QCOMPARE(debugLines(), QStringList({ "3", "2", "3", "300" }));
    QCOMPARE(infoTexts(), idleTexts());
    QStringList entries { "run.ddb" };
    for (int number = 1; number <= pieces; ++number) {
        entries << QString("run_%1.ddb").arg(number);
        QCOMPARE(fileContent(dir->filePath(entries.constLast())),
                 expectedPiece(source, threePieces().at(number - 1), 3));
    }
    QCOMPARE(entriesOf(dir->path()), entries);
    QCOMPARE(fileContent(path), source);
    QCOMPARE(heldOf({ path, dir->path() }), QStringList());
}

void TestTranchel::shouldReportAFailedSplit_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>(
            "setup"); // what stands in the way, or a fault as faultinjection.h spells it
    QTest::addColumn<QStringList>("debug");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("reasons");

    const QByteArray base = threePieceRecording();
    const QStringList splitDebug { "3", "2", "3", "300" };
    const QStringList sourceOnly { "run.ddb" };
    QTest::newRow("frequency 0") << withField(base, 58, 0, 2) << QString() << QStringList()
                                 << sourceOnly << "Refused: the header's frequency is 0";
    QTest::newRow("more than 100000 pieces")
            << withField(withField(base, 58, 1, 2), 66, 6000001, 4) << QString()
            << QStringList { "100001", "1", "3", "6000001" } << sourceOnly
            << "Refused: 100001 pieces, more than 100000; the sample count looks corrupt";
    QTest::newRow("a header alone claiming 100000 pieces")
            << withField(withField(base.left(512), 58, 1, 2), 66, 6000000, 4) << QString()
            << QStringList { "100000", "1", "3", "6000000" } << sourceOnly
            << "0 of 100000 pieces written\nIn %1\nrun_1.ddb to run_100000.ddb: not written: the "
               "recording ends before it";
#if defined(Q_OS_UNIX)
    QTest::newRow("another split writing into the folder")
            << base << "locked" << splitDebug << sourceOnly
            << "Refused: another split is writing into this folder: wait until it ends, then split "
               "again";
    // Written after it was opened, as another program would, which no program can do on
    // Windows while the window holds it.
    const QString changed = "Refused: the recording changed after it was opened: open it again, "
                            "then split again";
    QTest::newRow("its frames rewritten after opening, a second later")
            << base << "rewrite 600 later" << splitDebug << sourceOnly << changed;
    QTest::newRow("its header rewritten after opening, its times put back")
            << base << "rewrite 100 same times" << splitDebug << sourceOnly << changed;
#endif
    QTest::newRow("a folder flush that fails after a single piece")
            << makeRecording(3, 2, 90, "2024-05-06 10:00:00") << "fiu:posix/io/sync/fsync:EIO"
            << QStringList { "1", "2", "3", "90" } << QStringList { "run.ddb", "run_1.ddb" }
            << "1 of 1 pieces written: run_1.ddb\nIn %1\nThe folder's new names may not survive a "
               "power cut (Input/output error)";
}

void TestTranchel::shouldReportAFailedSplit()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, setup);
    QFETCH(QStringList, debug);
    QFETCH(QStringList, files);
    QFETCH(QString, reasons);

    static FaultInjection injection;
    const bool fault = setup.startsWith("fiu:");
    if (fault)
        TRANCHEL_REQUIRE_FAULTS(injection);
    if (setup == "locked" && System::goesByPath())
        QSKIP("the portable steps lock the folder with a file of their own");
    const QString path = write("run.ddb", source);
    open(path);
#if defined(Q_OS_UNIX)
    // Another window splitting into the folder holds its lock through a descriptor of its own.
    const int other = ::open(QFile::encodeName(dir->path()).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(other >= 0);
    if (setup == "locked")
        QCOMPARE(flock(other, LOCK_EX | LOCK_NB), 0);
    if (setup.startsWith("rewrite ")) {
        struct stat before
        { };
        QCOMPARE(stat(QFile::encodeName(path).constData(), &before), 0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(setup.section(' ', 1, 1).toInt())
                && file.write("\xff", 1) == 1);
        file.close();
        timespec times[] = { before.st_atim, before.st_mtim };
        times[1].tv_sec += setup.endsWith("later") ? 1 : 0;
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }
#endif
    child<QSpinBox>("minutesSpin")->setValue(1);
    debugLines().clear();
    if (fault)
        injection.enable(setup);
    split();
    if (fault)
        injection.disable({ setup });
#if defined(Q_OS_UNIX)
    ::close(other);
#endif

    QCOMPARE(child<QLabel>("statusLabel")->text(), "Split failed");
    QCOMPARE(plain(child<QLabel>("statusLabel")->toolTip()),
             QString(reasons).replace("%1", dir->path()));
    QCOMPARE(debugLines(), debug);
    QCOMPARE(entriesOf(dir->path()), files);
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    // The reasons go with the next recording.
    open(path);
    QCOMPARE(child<QLabel>("statusLabel")->toolTip(), QString());
}

void TestTranchel::shouldCompleteASplitWithoutSamples()
{
    open(write("run.ddb", makeRecording(4, 100, 0, "2024-05-06 10:00:00")));
    debugLines().clear();
    split();
    QCOMPARE(debugLines(), QStringList({ "0", "100", "4", "0" }));
    QCOMPARE(child<QLabel>("statusLabel")->text(), "Split completed");
    QCOMPARE(entriesOf(dir->path()), QStringList { "run.ddb" });
}

void TestTranchel::shouldReopenAfterASplit()
{
    const QString path = write("run.ddb", threePieceRecording());
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(2);
    split();
    QCOMPARE(entriesOf(dir->path()).size(), 3); // 240 frames a piece: two pieces

    open(path);
    QVERIFY(isLoaded());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
    QCOMPARE(infoTexts().constLast(), "<b>Samples:</b> 300");
    QCOMPARE(child<QSpinBox>("minutesSpin")->value(), 2);
    child<QSpinBox>("minutesSpin")->setValue(1);
    split();
    QCOMPARE(entriesOf(dir->path()).size(), 4);
    QCOMPARE(child<QLabel>("statusLabel")->text(), "Split completed");
}

void TestTranchel::shouldShowEveryTextWhole_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("20 pt") << 20;
}

void TestTranchel::shouldShowEveryTextWhole()
{
    QFETCH(int, pointSize);
    // For the whole test: measured with another font, a clipped text would go unseen.
    QApplication::setFont(QFont(pinnedFont().family(), pointSize));
    window = std::make_unique<Tranchel>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    if (pointSize == 9)
        QCOMPARE(window->size(), QSize(250, 250));
    verifyEveryTextFits();

    // The widest values a header holds.
    QByteArray widest
            = withField(makeRecording(65535, 65535, 0, "2000-12-28 23:59:58"), 66, 0xffffffffu, 4);
    open(write("wide.ddb", withField(widest, 44, 65535, 2)));
    QCOMPARE(infoTexts().at(1), "<b>Date:</b> 67535.12.28 23:59:58");
    verifyEveryTextFits();
    split();
    verifyEveryTextFits();
    child<QLabel>("statusLabel")->setText("Splitting: piece 100000 of 100000");
    verifyEveryTextFits();
}

void TestTranchel::shouldShortenALongName()
{
    const QString name = "a&b recording of the long afternoon session with all "
                         "sixteen channels.ddb";
    const QString path = write(name, makeRecording(1, 1, 1, "2024-01-01 00:00:00"));
    open(path);
    const QString text = infoTexts().constFirst();
    QVERIFY2(text.startsWith("<b>Name:</b> a&amp;b record"), qPrintable(text));
    QVERIFY2(text.endsWith("nels.ddb"), qPrintable(text));
    QVERIFY2(text.contains(QChar(0x2026)), qPrintable(text));
    verifyEveryTextFits();
    auto *nameLabel = child<QLabel>("nameLabel");
    QVERIFY(nameLabel->toolTip().contains(path.toHtmlEscaped()));
    QVERIFY(!nameLabel->toolTip().contains("a&b"));
    // Shortened only where it must be: the longest name of its kind that fits shows whole.
    QLabel measure;
    measure.setFont(nameLabel->font());
    const auto width = [&measure](const QString &name) {
        measure.setText("<b>Name:</b> " + name);
        return measure.sizeHint().width();
    };
    QString fitting = ".ddb";
    while (width('M' + fitting) <= nameLabel->width())
        fitting.prepend('M');
    open(write(fitting, threePieceRecording()));
    QCOMPARE(nameLabel->text(), "<b>Name:</b> " + fitting);
    cancelOpen();
    QCOMPARE(nameLabel->toolTip(), QString());
}

void TestTranchel::shouldLetTheKeyboardReachTheReport()
{
    auto *status = child<QLabel>("statusLabel");
    QCOMPARE(status->focusPolicy(), Qt::NoFocus);
    open(write("run.ddb", threePieceRecording()));
    split();
    QCOMPARE(status->accessibleDescription(), plain(status->toolTip()));
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    child<QPushButton>("openButton")->setFocus();
    QTest::keyClick(window.get(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), status);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), status->toolTip());
}

// Run on a real display with the accessibility bus (the tst_tranchel_atspi entry): the end of a
// split announced to a screen reader over AT-SPI, its report as plain text.
void TestTranchel::shouldTellAssistiveTechnologyTheReport()
{
    const QString reader = qEnvironmentVariable("TRANCHEL_ATSPI_READER");
    if (reader.isEmpty())
        QSKIP("needs a display and the accessibility bus, as in the tst_tranchel_atspi entry");
    const QString path = write("run.ddb", withField(threePieceRecording(), 66, 400, 4));
    open(path);
    // The bridge learns from the registry which events someone listens for only a moment
    // later, and may miss a reader that came before it joined the bus: the window probes its
    // name and description, and the reader starts again, until it hears both.
    auto *status = child<QLabel>("statusLabel");
    QProcess screenReader;
    QByteArray heard;
    int probes = 0;
    const auto readerHearsProbes = [&] {
        screenReader.kill();
        screenReader.waitForFinished();
        heard.clear();
        screenReader.start(reader, { QString::number(QCoreApplication::applicationPid()) });
        return QTest::qWaitFor(
                       [&] {
                           return (heard += screenReader.readAllStandardOutput())
                                   .startsWith("ready\n");
                       },
                       30000)
                && QTest::qWaitFor(
                        [&] {
                            const QString probe = QStringLiteral("probe %1").arg(++probes);
                            status->setText(probe);
                            status->setAccessibleDescription(probe);
                            heard += screenReader.readAllStandardOutput();
                            return heard.endsWith("heard\n");
                        },
                        5000);
    };
    bool listened = false;
    for (int attempt = 0; attempt < 6 && !listened; ++attempt)
        listened = readerHearsProbes();
    QVERIFY(listened);
    split();
    QTRY_VERIFY_WITH_TIMEOUT(screenReader.state() == QProcess::NotRunning, 60000);
    QCOMPARE(QString::fromUtf8(screenReader.readAllStandardError()), QString());
    QCOMPARE(QString::fromUtf8(heard + screenReader.readAllStandardOutput()),
             "ready\nheard\nSplit failed\n1 of 1 pieces written: run_1.ddb\nIn " + dir->path()
                     + "\nrun_1.ddb holds 300 of 400 frames: the recording ends there");
}

QTEST_MAIN(TestTranchel)
#include "tst_tranchel.moc"
