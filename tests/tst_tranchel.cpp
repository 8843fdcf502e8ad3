// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "tranchel.h"

#include "dialogdriver.h"
#include "faultinjection.h"
#include "piececheck.h"
#include "splitreport.h"
#include "syntheticrecording.h"

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
    return { QStringLiteral("<b>Name:</b> -"), QStringLiteral("<b>Date:</b> -"),
             QStringLiteral("<b>Frequency:</b> -"), QStringLiteral("<b>Channels:</b> -"),
             QStringLiteral("<b>Samples:</b> -") };
}

QFont pinnedFont()
{
    return QFont(QStringLiteral("DejaVu Sans"), 9);
}

// A tooltip as its reader sees it.
QString plain(const QString &toolTip)
{
    QTextDocument document;
    document.setHtml(toolTip);
    return toolTip.isEmpty() ? QString() : document.toPlainText();
}

Ddb::FailedPiece failed(quint32 number, Ddb::PieceFailure failure, int error = 0,
                        const QString &leftover = QString())
{
    return { number, failure, error, leftover };
}

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
                 qPrintable(control->objectName() + QStringLiteral(" lies outside the window")));
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
    QCOMPARE(dialog->nameFilters(), QStringList { QStringLiteral("DDB file (*.ddb)") });
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
                                  PieceFailure::DifferentFile,   PieceFailure::ChangedMeanwhile,
                                  PieceFailure::DiskRefused,     PieceFailure::NoFrames,
                                  PieceFailure::FewerFrames,     PieceFailure::StampTooLate };
    for (int i = 0; i < 10; ++i)
        reasons.failures << failed(quint32(2 * i + 1), each[i], i == 6 ? ENOSPC : 0);
    reasons.failures << failed(21, PieceFailure::DiskRefused, EIO,
                               QStringLiteral(".tranchel-1.tmp"));
    QTest::newRow("each reason in its words")
            << reasons
            << QStringList {
                   QStringLiteral("Piece 1: a folder or special file has its name"),
                   QStringLiteral("Piece 3: a link has its name"),
                   QStringLiteral("Piece 5: its name is the recording itself"),
                   QStringLiteral("Piece 7: the file under its name is write-protected or not "
                                  "this user's to write"),
                   QStringLiteral("Piece 9: a different file has its name, not an earlier piece "
                                  "of this recording"),
                   QStringLiteral("Piece 11: its name was taken, or its file changed, while it "
                                  "was written"),
                   QStringLiteral("Piece 13: the disk refused it (%1)")
                           .arg(qt_error_string(ENOSPC)),
                   QStringLiteral("Piece 15: not written: the recording holds none of its frames"),
                   QStringLiteral("Piece 17: holds fewer frames than the header claimed"),
                   QStringLiteral("Piece 19: not written: its stamp is after the year 67535"),
                   QStringLiteral("Piece 21: the disk refused it (%1); its temporary file "
                                  ".tranchel-1.tmp could not be removed")
                           .arg(qt_error_string(EIO))
               };
    Ddb::SplitOutcome runs;
    runs.failures << failed(2, PieceFailure::DiskRefused, ENOSPC)
                  << failed(3, PieceFailure::DiskRefused, ENOSPC)
                  << failed(4, PieceFailure::DiskRefused, ENOSPC)
                  << failed(5, PieceFailure::DiskRefused, EIO) << failed(6, PieceFailure::NoFrames)
                  << failed(8, PieceFailure::NoFrames);
    QTest::newRow("a line for each run of pieces that failed alike")
            << runs
            << QStringList {
                   QStringLiteral("Pieces 2 to 4: the disk refused it (%1)")
                           .arg(qt_error_string(ENOSPC)),
                   QStringLiteral("Piece 5: the disk refused it (%1)").arg(qt_error_string(EIO)),
                   QStringLiteral("Piece 6: not written: the recording holds none of its frames"),
                   QStringLiteral("Piece 8: not written: the recording holds none of its frames")
               };
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
    folder.folderError = EACCES;
    QTest::newRow("a folder that cannot be held")
            << folder
            << QStringList { QStringLiteral("Refused: the recording's folder cannot be opened (%1)")
                                     .arg(qt_error_string(EACCES)) };
    Ddb::SplitOutcome busy;
    busy.busy = true;
    QTest::newRow("another split running")
            << busy
            << QStringList { QStringLiteral(
                       "Refused: another split of this recording is running") };
    Ddb::SplitOutcome unsynced;
    unsynced.written = 2;
    unsynced.folderSyncError = EIO;
    unsynced.stalePieces = { 4, 5, 6, 8 };
    QTest::newRow("an unflushed folder, and earlier pieces left")
            << unsynced
            << QStringList { QStringLiteral("The folder's new names were not flushed to disk (%1)")
                                     .arg(qt_error_string(EIO)),
                             QStringLiteral("Left from an earlier split: run_4.ddb to run_6.ddb, "
                                            "run_8.ddb") };
    Ddb::SplitOutcome one;
    one.written = 1;
    QTest::newRow("one piece, in a folder named like markup")
            << one
            << QStringList { QStringLiteral("1 piece written: run_1.ddb"),
                             QStringLiteral("In /d<b>&amp;") };
    Ddb::SplitOutcome three;
    three.written = 3;
    three.stalePieces = { 5 };
    QTest::newRow("three pieces and one left")
            << three
            << QStringList { QStringLiteral("3 pieces written: run_1.ddb to run_3.ddb"),
                             QStringLiteral("In /d<b>&amp;"),
                             QStringLiteral("Left from an earlier split: run_5.ddb") };
}

void TestTranchel::shouldPhraseWhatASplitDid()
{
    QFETCH(Ddb::SplitOutcome, outcome);
    QFETCH(QStringList, lines);
    const QString name = QStringLiteral("run.ddb");
    QStringList report = outcome.succeeded()
            ? SplitReport::summary(outcome, QStringLiteral("/d<b>&amp;"), name)
            : SplitReport::problems(outcome);
    if (!outcome.stalePieces.isEmpty())
        report << SplitReport::stalePieces(outcome, name);
    QCOMPARE(plain(SplitReport::toolTip(report)).split(QLatin1Char('\n')), lines);
}

void TestTranchel::shouldSayWhatASplitWrote_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>(
            "earlier"); // under run_1.ddb, ...: "ro:" read-only, "x": no piece
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("lines"); // %1: the folder

    const QString in = QStringLiteral("In %1");
#if defined(Q_OS_WIN)
    const QString markupFolder = QStringLiteral("R&amp;D"); // Windows names hold no < or >
#else
    const QString markupFolder = QStringLiteral("a<b>&amp;");
#endif
    QTest::newRow("three pieces")
            << "work" << QStringList() << 1
            << QStringList { QStringLiteral("3 pieces written: run_1.ddb to run_3.ddb"), in };
    QTest::newRow("one piece, in a folder named like markup")
            << markupFolder << QStringList() << 3
            << QStringList { QStringLiteral("1 piece written: run_1.ddb"), in };
    const QStringList minutePieces { QStringLiteral("0:120:2024-05-06 10:01:00"),
                                     QStringLiteral("120:120:2024-05-06 10:02:00"),
                                     QStringLiteral("240:60:2024-05-06 10:02:30") };
    QTest::newRow("pieces left from a split into more")
            << "work" << minutePieces << 3
            << QStringList { QStringLiteral("1 piece written: run_1.ddb"), in,
                             QStringLiteral("Left from an earlier split: run_2.ddb to run_3.ddb") };
    QTest::newRow("another file among them is not named")
            << "work" << QStringList { QString(), QStringLiteral("x"), minutePieces.at(2) } << 3
            << QStringList { QStringLiteral("1 piece written: run_1.ddb"), in,
                             QStringLiteral("Left from an earlier split: run_3.ddb") };
    QTest::newRow("the first free name ends the search")
            << "work" << QStringList { QString(), QString(), minutePieces.at(2) } << 3
            << QStringList { QStringLiteral("1 piece written: run_1.ddb"), in };
    QTest::newRow("an earlier piece kept under a name of this split")
            << "work" << QStringList { QString(), QStringLiteral("ro:") + minutePieces.at(1) } << 1
            << QStringList { QStringLiteral("Piece 2: the file under its name is write-protected "
                                            "or not this user's to write"),
                             QStringLiteral("Left from an earlier split: run_2.ddb") };
}

void TestTranchel::shouldSayWhatASplitWrote()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, earlier);
    QFETCH(int, minutes);
    QFETCH(QStringList, lines);

    const QByteArray source = makeRecording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    const QString path = write(folder + QStringLiteral("/run.ddb"), source);
    for (int i = 0; i < earlier.size(); ++i) {
        const QString name = folder + QStringLiteral("/run_%1.ddb").arg(i + 1);
        const QString what = earlier.at(i);
        if (what == QLatin1String("x"))
            write(name, "x");
        else if (!what.isEmpty())
            write(name,
                  expectedPiece(source, what.startsWith(QLatin1String("ro:")) ? what.mid(3) : what,
                                3));
        if (what.startsWith(QLatin1String("ro:")))
            QVERIFY(QFile::setPermissions(dir->filePath(name), QFile::ReadOwner));
    }
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(minutes);
    split();
    QCOMPARE(plain(child<QLabel>("statusLabel")->toolTip()),
             lines.join(QLatin1Char('\n')).replace(QLatin1String("%1"), QFileInfo(path).path()));
}

void TestTranchel::shouldSayWhereTheFileDiffersFromItsHeader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("toolTip");

    const QByteArray full = makeRecording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    QTest::newRow("every counted frame and no more") << full << QString();
    QTest::newRow("fewer frames than counted")
            << withField(makeRecording(3, 2, 150, QStringLiteral("2024-05-06 10:00:00")), 66, 300,
                         4)
            << "The file holds only 150 whole frames: the split will fail";
    QTest::newRow("the last frame cut short")
            << full.left(full.size() - 5)
            << "The file holds only 299 whole frames: the split will fail";
    QTest::newRow("header fields only")
            << full.left(70) << "The file holds only 0 whole frames: the split will fail";
    QTest::newRow("frames after the counted ones")
            << withField(full, 66, 280, 4)
            << "20 more whole frames follow the counted ones: they will be in no piece";
    QTest::newRow("no channels") << withField(
            makeRecording(0, 2, 0, QStringLiteral("2024-05-06 10:00:00")), 66, 300, 4)
                                 << QString();
}

void TestTranchel::shouldSayWhereTheFileDiffersFromItsHeader()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, toolTip);
    open(write(QStringLiteral("run.ddb"), content));
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
    const QString path = write(QStringLiteral("run.ddb"),
                               makeRecording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00")));
    if (effect == QLatin1String("opens")) {
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
    QCOMPARE(window->isVisible(), effect == QLatin1String("nothing"));
    QVERIFY(isLoaded());
    QCOMPARE(entriesOf(dir->path()), QStringList { QStringLiteral("run.ddb") });
}

void TestTranchel::shouldShowTheHeader_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("texts");

    const QByteArray base = makeRecording(3, 2, 300, QStringLiteral("2000-12-05 14:26:03"));
    QTest::newRow("stored year 0")
            << QStringLiteral("run.ddb") << base
            << QStringList { QStringLiteral("<b>Name:</b> run.ddb"),
                             QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
    QTest::newRow("samples with the top bit set")
            << QStringLiteral("big.ddb") << withField(base, 66, 0x80000001u, 4)
            << QStringList { QStringLiteral("<b>Name:</b> big.ddb"),
                             QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 2147483649") };
    // On Windows a name with a drive letter is a path of its own, not one inside the test's folder.
    QTest::newRow("a folder with a drive letter shows just the name")
#if defined(Q_OS_WIN)
            << QStringLiteral("C/data/run.ddb") << base
#else
            << QStringLiteral("C:/data/run.ddb") << base
#endif
            << QStringList { QStringLiteral("<b>Name:</b> run.ddb"),
                             QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
    QTest::newRow("markup in a name shows as typed")
#if defined(Q_OS_WIN) // Windows names hold no < or >
            << QStringLiteral("a&amp;.ddb") << base << QStringList
    {
        QStringLiteral("<b>Name:</b> a&amp;amp;.ddb"),
#else
            << QStringLiteral("a<b>&amp;.ddb") << base
            << QStringList {
                   QStringLiteral("<b>Name:</b> a&lt;b&gt;&amp;amp;.ddb"),
#endif
                QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                QStringLiteral("<b>Frequency:</b> 2"), QStringLiteral("<b>Channels:</b> 3"),
                QStringLiteral("<b>Samples:</b> 300")
    };
    QTest::newRow("a stamp in the spring-forward gap of central Europe")
            << QStringLiteral("gap.ddb")
            << makeRecording(32, 500, 10, QStringLiteral("2024-03-31 02:30:00"))
            << QStringList { QStringLiteral("<b>Name:</b> gap.ddb"),
                             QStringLiteral("<b>Date:</b> 2024.03.31 02:30:00"),
                             QStringLiteral("<b>Frequency:</b> 500"),
                             QStringLiteral("<b>Channels:</b> 32"),
                             QStringLiteral("<b>Samples:</b> 10") };
    QTest::newRow("the largest stored year")
            << QStringLiteral("far.ddb") << withField(base, 44, 65535, 2)
            << QStringList { QStringLiteral("<b>Name:</b> far.ddb"),
                             QStringLiteral("<b>Date:</b> 67535.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
    QTest::newRow("a file of 70 bytes")
            << QStringLiteral("fields.ddb") << base.left(70)
            << QStringList { QStringLiteral("<b>Name:</b> fields.ddb"),
                             QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
    QTest::newRow("an invalid date shows no date")
            << QStringLiteral("month13.ddb") << withField(base.left(511), 46, 13, 2)
            << QStringList { QStringLiteral("<b>Name:</b> month13.ddb"),
                             QStringLiteral("<b>Date:</b> "), QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
}

void TestTranchel::shouldShowTheHeader()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, texts);

    open(write(name, content));
    QCOMPARE(infoTexts(), texts);
    QVERIFY(isLoaded());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
}

void TestTranchel::shouldStayIdleForWhatIsNoRecording_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size"); // -1: none, -2: FIFO

    QTest::newRow("empty file") << QStringLiteral("empty.ddb") << 0;
    QTest::newRow("69 bytes") << QStringLiteral("short.ddb") << 69;
    QTest::newRow("typed name of a missing file") << QStringLiteral("missing.ddb") << -1;
#if defined(Q_OS_UNIX)
    QTest::newRow("FIFO") << QStringLiteral("fifo.ddb") << -2;
#endif
}

void TestTranchel::shouldStayIdleForWhatIsNoRecording()
{
    QFETCH(QString, name);
    QFETCH(int, size);

    open(write(QStringLiteral("good.ddb"),
               makeRecording(2, 10, 100,
                             QStringLiteral("2024-01-01 "
                                            "00:00:00"))));
    QVERIFY(isLoaded());
    const QString path = dir->filePath(name);
    if (size >= 0)
        write(name, QByteArray(size, 'x'));
#if defined(Q_OS_UNIX)
    else if (size == -2)
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif

    open(path);
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
}

void TestTranchel::shouldReturnToIdleWhenCancelled()
{
    open(write(QStringLiteral("run.ddb"),
               makeRecording(2, 10, 100,
                             QStringLiteral("2024-01-01 "
                                            "00:00:00"))));
    QVERIFY(isLoaded());
    cancelOpen();
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
}

void TestTranchel::shouldReuseOneDialog()
{
    auto *dialog = window->findChild<QFileDialog *>();
    const QString first = write(QStringLiteral("one/first.ddb"),
                                makeRecording(1, 1, 1, QStringLiteral("2024-01-01 00:00:00")));
    const QString second = write(QStringLiteral("one/second.ddb"),
                                 makeRecording(1, 1, 2, QStringLiteral("2024-01-01 00:00:00")));
    open(first);
    cancelOpen();
    open(second);
    QCOMPARE(window->findChildren<QFileDialog *>(), QList<QFileDialog *> { dialog });
    QCOMPARE(dialog->nameFilters(), QStringList { QStringLiteral("DDB file (*.ddb)") });
    QCOMPARE(infoTexts().constFirst(), QStringLiteral("<b>Name:</b> second.ddb"));
}

void TestTranchel::shouldOpenAndSplitThroughTheWindow()
{
    const QByteArray source = makeRecording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    const QString path = write(QStringLiteral("run.ddb"), source);
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(1);
    debugLines().clear();
    split();

    QCOMPARE(debugLines(),
             QStringList({ QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("3"),
                           QStringLiteral("300") }));
    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split completed"));
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    const QStringList pieces { QStringLiteral("0:120:2024-05-06 10:01:00"),
                               QStringLiteral("120:120:2024-05-06 10:02:00"),
                               QStringLiteral("240:60:2024-05-06 10:02:30") };
    for (int i = 0; i < pieces.size(); ++i) {
        const QString name = dir->filePath(QStringLiteral("run_%1.ddb").arg(i + 1));
        QCOMPARE(fileContent(name), expectedPiece(source, pieces.at(i), 3));
    }
    QCOMPARE(entriesOf(dir->path()).size(), 4);
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

    const QByteArray base = makeRecording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    const QStringList splitDebug { QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("3"),
                                   QStringLiteral("300") };
    const QStringList sourceOnly { QStringLiteral("run.ddb") };
    QTest::newRow("frequency 0") << withField(base, 58, 0, 2) << QString() << QStringList()
                                 << sourceOnly << "Refused: the header's frequency is 0";
    QTest::newRow("more than 100000 pieces")
            << withField(withField(base, 58, 1, 2), 66, 6000001, 4) << QString()
            << QStringList { QStringLiteral("100001"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("6000001") }
            << sourceOnly
            << "Refused: 100001 pieces, more than 100000; the sample count looks corrupt";
    QTest::newRow("a header alone claiming 100000 pieces")
            << withField(withField(base.left(512), 58, 1, 2), 66, 6000000, 4) << QString()
            << QStringList { QStringLiteral("100000"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("6000000") }
            << sourceOnly
            << "Pieces 1 to 100000: not written: the recording holds none of its frames";
    QTest::newRow("a data area shorter than the header claims")
            << withField(makeRecording(3, 2, 150, QStringLiteral("2024-05-06 10:00:00")), 66, 300,
                         4)
            << QString() << splitDebug
            << QStringList { QStringLiteral("run.ddb"), QStringLiteral("run_1.ddb"),
                             QStringLiteral("run_2.ddb") }
            << "Piece 2: holds fewer frames than the header claimed\n"
               "Piece 3: not written: the recording holds none of its frames";
    QTest::newRow("a folder where the second piece goes")
            << base << "folder" << splitDebug
            << QStringList { QStringLiteral("run.ddb"), QStringLiteral("run_1.ddb"),
                             QStringLiteral("run_2.ddb"), QStringLiteral("run_3.ddb") }
            << "Piece 2: a folder or special file has its name";
#if defined(Q_OS_UNIX)
    QTest::newRow("another split of the recording running")
            << base << "locked" << splitDebug << sourceOnly
            << "Refused: another split of this recording is running";
#endif
    QTest::newRow("a folder flush that fails after a single piece")
            << makeRecording(3, 2, 90, QStringLiteral("2024-05-06 10:00:00"))
            << "fiu:posix/io/sync/fsync:EIO"
            << QStringList { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                             QStringLiteral("90") }
            << QStringList { QStringLiteral("run.ddb"), QStringLiteral("run_1.ddb") }
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
    const bool fault = setup.startsWith(QLatin1String("fiu:"));
    if (fault)
        TRANCHEL_REQUIRE_FAULTS(injection);
    const QString path = write(QStringLiteral("run.ddb"), source);
    open(path);
    if (setup == QLatin1String("folder"))
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("run_2.ddb")));
#if defined(Q_OS_UNIX)
    // Another window splitting it holds the lock through a descriptor of its own.
    const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(other >= 0);
    if (setup == QLatin1String("locked"))
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

    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split failed"));
    QCOMPARE(plain(child<QLabel>("statusLabel")->toolTip()), reasons);
    QCOMPARE(debugLines(), debug);
    QCOMPARE(entriesOf(dir->path()), files);
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts());
    if (setup == QLatin1String("folder"))
        QCOMPARE(fileContent(dir->filePath(QStringLiteral("run_3.ddb"))),
                 expectedPiece(source, QStringLiteral("240:60:2024-05-06 10:02:30"), 3));
    // The reasons go with the next recording.
    open(path);
    QCOMPARE(child<QLabel>("statusLabel")->toolTip(), QString());
}

void TestTranchel::shouldCompleteASplitWithoutSamples()
{
    open(write(QStringLiteral("run.ddb"),
               makeRecording(4, 100, 0, QStringLiteral("2024-05-06 10:00:00"))));
    debugLines().clear();
    split();
    QCOMPARE(debugLines(),
             QStringList({ QStringLiteral("0"), QStringLiteral("100"), QStringLiteral("4"),
                           QStringLiteral("0") }));
    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split completed"));
    QCOMPARE(entriesOf(dir->path()), QStringList { QStringLiteral("run.ddb") });
}

void TestTranchel::shouldReopenAfterASplit()
{
    const QString path = write(QStringLiteral("run.ddb"),
                               makeRecording(3, 2, 300,
                                             QStringLiteral("2024-05-06 "
                                                            "10:00:00")));
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(2);
    split();
    QCOMPARE(entriesOf(dir->path()).size(), 3); // 240 frames a piece: two pieces

    open(path);
    QVERIFY(isLoaded());
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
    QCOMPARE(infoTexts().constLast(), QStringLiteral("<b>Samples:</b> 300"));
    QCOMPARE(child<QSpinBox>("minutesSpin")->value(), 2);
    child<QSpinBox>("minutesSpin")->setValue(1);
    split();
    QCOMPARE(entriesOf(dir->path()).size(), 4);
    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split completed"));
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
            = withField(makeRecording(65535, 65535, 0, QStringLiteral("2000-12-28 23:59:58")), 66,
                        0xffffffffu, 4);
    open(write(QStringLiteral("wide.ddb"), withField(widest, 44, 65535, 2)));
    QCOMPARE(infoTexts().at(1), QStringLiteral("<b>Date:</b> 67535.12.28 23:59:58"));
    verifyEveryTextFits();
    split();
    verifyEveryTextFits();
}

void TestTranchel::shouldShortenALongName()
{
    const QString name = QStringLiteral("a&b recording of the long afternoon session with all "
                                        "sixteen channels.ddb");
    const QString path = write(name, makeRecording(1, 1, 1, QStringLiteral("2024-01-01 00:00:00")));
    open(path);
    const QString text = infoTexts().constFirst();
    QVERIFY2(text.startsWith(QStringLiteral("<b>Name:</b> a&amp;b record")), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("nels.ddb")), qPrintable(text));
    QVERIFY2(text.contains(QChar(0x2026)), qPrintable(text));
    verifyEveryTextFits();
    auto *nameLabel = child<QLabel>("nameLabel");
    QVERIFY(nameLabel->toolTip().contains(path.toHtmlEscaped()));
    QVERIFY(!nameLabel->toolTip().contains(QStringLiteral("a&b")));
    cancelOpen();
    QCOMPARE(nameLabel->toolTip(), QString());
}

QTEST_MAIN(TestTranchel)
#include "tst_tranchel.moc"
