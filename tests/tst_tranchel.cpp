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
#include <QFileDialog>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextDocument>
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

Ddb::FailedPiece failed(quint32 number, Ddb::PieceFailure failure,
                        const System::Error &error = System::Error(),
                        const QString &leftover = QString())
{
    return { number, { failure, error, leftover } };
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
    void shouldReuseOneDialog();
    void shouldOpenAndSplitThroughTheWindow();
    void shouldReportAFailedSplit_data();
    void shouldReportAFailedSplit();
    void shouldCompleteASplitWithoutSamples();
    void shouldShowEveryTextWhole_data();
    void shouldShowEveryTextWhole();
    void shouldShortenALongName();
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

void TestTranchel::split()
{
    child<QPushButton>("splitButton")->click();
    QVERIFY(!QApplication::overrideCursor());
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
    QTest::addColumn<Ddb::SplitOutcome>("outcome");
    QTest::addColumn<QStringList>("lines");

    Ddb::SplitOutcome reasons;
    const PieceFailure each[] = { PieceFailure::NotARegularFile, PieceFailure::LinkInTheWay,
                                  PieceFailure::IsTheRecording,  PieceFailure::WriteProtected,
                                  PieceFailure::DifferentFile,   PieceFailure::NotWritten,
                                  PieceFailure::NotWritten,      PieceFailure::NoFrames,
                                  PieceFailure::FewerFrames,     PieceFailure::StampTooLate };
    for (int i = 0; i < 10; ++i)
        reasons.failures << failed(quint32(2 * i + 1), each[i],
                                   i == 5 ? System::errorOf(System::Cause::ChangedMeanwhile)
                                           : i == 6 ? diskFull
                                                    : System::Error());
    reasons.failures << failed(21, PieceFailure::NotWritten, inputOutput, ".tranchel-1.tmp");
    QTest::newRow("each reason in its words")
            << reasons
            << QStringList {
                   "Piece 1: a folder or special file has its name",
                   "Piece 3: a link has its name",
                   "Piece 5: its name is the recording itself",
                   "Piece 7: the file under its name is write-protected or not "
                   "this user's to write",
                   "Piece 9: a different file has its name, not an earlier piece "
                   "of this recording",
                   "Piece 11: its name was taken, or its file changed, while it "
                   "was written",
                   "Piece 13: the disk refused it (No space left on device)",
                   "Piece 15: not written: the recording holds none of its frames",
                   "Piece 17: holds fewer frames than the header claimed",
                   "Piece 19: not written: its stamp is after the year 67535",
                   "Piece 21: the disk refused it (Input/output error); its temporary file "
                   ".tranchel-1.tmp could not be removed"
               };
    Ddb::SplitOutcome runs;
    runs.failures << failed(2, PieceFailure::NotWritten, diskFull)
                  << failed(3, PieceFailure::NotWritten, diskFull)
                  << failed(4, PieceFailure::NotWritten, diskFull)
                  << failed(5, PieceFailure::NotWritten, inputOutput)
                  << failed(6, PieceFailure::NoFrames) << failed(8, PieceFailure::NoFrames);
    QTest::newRow("a line for each run of pieces that failed alike")
            << runs
            << QStringList { "Pieces 2 to 4: the disk refused it (No space left on device)",
                             "Piece 5: the disk refused it (Input/output error)",
                             "Piece 6: not written: the recording holds none of its frames",
                             "Piece 8: not written: the recording holds none of its frames" };
    for (const int count : { 20, 21, 22 }) {
        Ddb::SplitOutcome many;
        QStringList lines;
        for (int number = 1; number <= count; ++number) {
            const bool none = number % 2 == 1;
            many.failures << failed(quint32(number),
                                    none ? PieceFailure::NoFrames : PieceFailure::FewerFrames);
            if (number <= 20)
                lines << QStringLiteral("Piece %1: %2")
                                 .arg(number)
                                 .arg(none ? QStringLiteral(
                                              "not written: the recording holds none of its frames")
                                           : QStringLiteral(
                                                   "holds fewer frames than the header claimed"));
        }
        if (count > 20)
            lines << QStringLiteral("... and %1 more").arg(count - 20);
        QTest::addRow("%d lines", count) << many << lines;
    }
    Ddb::SplitOutcome folder;
    folder.folderError = { System::Cause::Permission, "Permission denied" };
    QTest::newRow("a folder that cannot be held")
            << folder
            << QStringList { "Refused: the recording's folder cannot be opened (Permission "
                             "denied)" };
    Ddb::SplitOutcome busy;
    busy.lock = System::RecordingSource::FolderLock::HeldElsewhere;
    busy.memoryShort = 3 << 20;
    QTest::newRow("another split in the folder, and a folder of memory too small")
            << busy
            << QStringList { "Refused: another split is writing into this folder",
                             "Refused: this folder is held in memory, and its pieces would need "
                             "3 MiB more than is free" };
    Ddb::SplitOutcome unlocked;
    unlocked.written = 1;
    unlocked.lock = System::RecordingSource::FolderLock::NotLockable;
    QTest::newRow("a folder that cannot be locked")
            << unlocked
            << QStringList { "1 piece written: run_1.ddb", "In /d<b>&amp;",
                             "No lock could be taken on this folder: another split into it would "
                             "not have been noticed" };
    Ddb::SplitOutcome leftover;
    leftover.failures << failed(1, PieceFailure::NotWritten, diskFull)
                      << failed(2, PieceFailure::NotWritten, diskFull, ".tranchel-2.tmp");
    QTest::newRow("a temporary file left is never merged into the line before")
            << leftover
            << QStringList { "Piece 1: the disk refused it (No space left on device)",
                             "Piece 2: the disk refused it (No space left on device); its "
                             "temporary file .tranchel-2.tmp could not be removed" };
    Ddb::SplitOutcome unsynced;
    unsynced.written = 2;
    unsynced.folderSyncError = inputOutput;
    unsynced.stalePieces = { 4, 5, 6, 8 };
    QTest::newRow("an unflushed folder, and earlier pieces left")
            << unsynced
            << QStringList { "The folder's new names were not flushed to disk (Input/output error)",
                             "Left from an earlier split: run_4.ddb to run_6.ddb, "
                             "run_8.ddb" };
    Ddb::SplitOutcome one;
    one.written = 1;
    QTest::newRow("one piece, in a folder named like markup")
            << one << QStringList { "1 piece written: run_1.ddb", "In /d<b>&amp;" };
    Ddb::SplitOutcome three;
    three.written = 3;
    three.stalePieces = { 5 };
    QTest::newRow("three pieces and one left")
            << three
            << QStringList { "3 pieces written: run_1.ddb to run_3.ddb", "In /d<b>&amp;",
                             "Left from an earlier split: run_5.ddb" };
}

void TestTranchel::shouldPhraseWhatASplitDid()
{
    QFETCH(Ddb::SplitOutcome, outcome);
    QFETCH(QStringList, lines);
    const QByteArray recording = threePieceRecording();
    const Ddb::PiecePlan plan(*Ddb::readHeader(recording), 1, recording.size());
    const QStringList report = SplitReport::lines(plan, outcome, "/d<b>&amp;", "run.ddb");
    QCOMPARE(plain(SplitReport::toolTip(report)).split('\n'), lines);
}

void TestTranchel::shouldSayWhatASplitWrote_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("earlier"); // pieces planted under run_1.ddb, ...
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("lines"); // %1: the folder

    const QString in = "In %1";
#if defined(Q_OS_WIN)
    const QString markupFolder = "R&amp;D"; // Windows names hold no < or >
#else
    const QString markupFolder = "a<b>&amp;";
#endif
    QTest::newRow("three pieces") << "work" << QStringList() << 1
                                  << QStringList { "3 pieces written: run_1.ddb to run_3.ddb", in };
    QTest::newRow("one piece, in a folder named like markup")
            << markupFolder << QStringList() << 3
            << QStringList { "1 piece written: run_1.ddb", in };
    QTest::newRow("pieces left from a split into more")
            << "work" << threePieces() << 3
            << QStringList { "1 piece written: run_1.ddb", in,
                             "Left from an earlier split: run_2.ddb to run_3.ddb" };
}

void TestTranchel::shouldSayWhatASplitWrote()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, earlier);
    QFETCH(int, minutes);
    QFETCH(QStringList, lines);

    const QByteArray source = threePieceRecording();
    const QString path = write(folder + "/run.ddb", source);
    for (int i = 0; i < earlier.size(); ++i)
        write(folder + QString("/run_%1.ddb").arg(i + 1), expectedPiece(source, earlier.at(i), 3));
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(minutes);
    split();
    QCOMPARE(plain(child<QLabel>("statusLabel")->toolTip()),
             lines.join('\n').replace("%1", QFileInfo(path).path()));
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
    QCOMPARE(child<QLabel>("samplesLabel")->toolTip(), toolTip);
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
    QTest::newRow("an invalid date shows no date")
            << "month13.ddb" << withField(base.left(511), 46, 13, 2)
            << QStringList { "month13.ddb", "", "300" };
}

void TestTranchel::shouldShowTheHeader()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, texts);

    open(write(name, content));
    QCOMPARE(infoTexts(),
             QStringList({ "<b>Name:</b> " + texts.at(0), "<b>Date:</b> " + texts.at(1),
                           "<b>Frequency:</b> 2", "<b>Channels:</b> 3",
                           "<b>Samples:</b> " + texts.at(2) }));
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
    open(write("run.ddb", threePieceRecording()));
    QVERIFY(isLoaded());
    cancelOpen();
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
}

void TestTranchel::shouldReuseOneDialog()
{
    auto *dialog = window->findChild<QFileDialog *>();
    const QString first = write("one/first.ddb", makeRecording(1, 1, 1, "2024-01-01 00:00:00"));
    const QString second = write("one/second.ddb", makeRecording(1, 1, 2, "2024-01-01 00:00:00"));
    open(first);
    cancelOpen();
    open(second);
    QCOMPARE(window->findChildren<QFileDialog *>(), QList<QFileDialog *> { dialog });
    QCOMPARE(dialog->nameFilters(), QStringList { "DDB file (*.ddb)" });
    QCOMPARE(infoTexts().constFirst(), "<b>Name:</b> second.ddb");
}

void TestTranchel::shouldOpenAndSplitThroughTheWindow()
{
    const QByteArray source = threePieceRecording();
    const QString path = write("run.ddb", source);
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(1);
    debugLines().clear();
    split();

    QCOMPARE(debugLines(), QStringList({ "3", "2", "3", "300" }));
    QCOMPARE(child<QLabel>("statusLabel")->text(), "Split completed");
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    QCOMPARE(entriesOf(dir->path()),
             QStringList({ "run.ddb", "run_1.ddb", "run_2.ddb", "run_3.ddb" }));
    QCOMPARE(fileContent(path), source);
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
            << "Pieces 1 to 100000: not written: the recording holds none of its frames";
#if defined(Q_OS_UNIX)
    QTest::newRow("another split writing into the folder")
            << base << "locked" << splitDebug << sourceOnly
            << "Refused: another split is writing into this folder";
#endif
    QTest::newRow("a folder flush that fails after a single piece")
            << makeRecording(3, 2, 90, "2024-05-06 10:00:00") << "fiu:posix/io/sync/fsync:EIO"
            << QStringList { "1", "2", "3", "90" } << QStringList { "run.ddb", "run_1.ddb" }
            << "The folder's new names were not flushed to disk (Input/output error)";
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
    QCOMPARE(plain(child<QLabel>("statusLabel")->toolTip()), reasons);
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

QTEST_MAIN(TestTranchel)
#include "tst_tranchel.moc"
