// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "tranchel.h"

#include "dialogdriver.h"
#include "faultinjection.h"
#include "piececheck.h"
#include "syntheticrecording.h"

#include <QFileDialog>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

namespace {

QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void collectDebugLines(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines << message;
    else
        previousHandler(type, context, message);
}

const QStringList idleTexts { QStringLiteral("<b>Name:</b> -"), QStringLiteral("<b>Date:</b> -"),
                              QStringLiteral("<b>Frequency:</b> -"),
                              QStringLiteral("<b>Channels:</b> -"),
                              QStringLiteral("<b>Samples:</b> -") };

QByteArray withField(QByteArray bytes, int offset, quint32 value, int width)
{
    putLittleEndian(bytes, offset, value, width);
    return bytes;
}

} // namespace

class TestTranchel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void shouldBeIdleAtStart();
    void shouldDeclareItsSlotsInOrder();
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
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
}

void TestTranchel::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    window = std::make_unique<Tranchel>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    debugLines.clear();
    previousHandler = qInstallMessageHandler(collectDebugLines);
}

void TestTranchel::cleanup()
{
    qInstallMessageHandler(previousHandler);
    window.reset();
    dir.reset();
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
    for (QWidget *control :
         window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!control->isVisible())
            continue;
        const QSize hint = control->sizeHint();
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
    const bool split = child<QPushButton>("splitButton")->isEnabled();
    const bool minutes = child<QSpinBox>("minutesSpin")->isEnabled();
    if (split != minutes)
        qFatal("split button and minutes disagree");
    return split;
}

void TestTranchel::shouldBeIdleAtStart()
{
    QVERIFY(!isLoaded());
    auto *minutes = child<QSpinBox>("minutesSpin");
    QCOMPARE(minutes->value(), 60);
    QCOMPARE(minutes->minimum(), 1);
    QCOMPARE(minutes->maximum(), 120);
    QCOMPARE(infoTexts(), idleTexts);
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
    QVERIFY(child<QPushButton>("openButton")->isEnabled());
    QCOMPARE(child<QPushButton>("openButton")->text(), QStringLiteral("Open file"));
    QCOMPARE(child<QPushButton>("splitButton")->text(), QStringLiteral("Split file"));
    QCOMPARE(window->focusWidget(), child<QPushButton>("openButton"));
    QCOMPARE(window->size(), QSize(250, 250));
    QCOMPARE(window->minimumSize(), QSize(250, 250));
    QCOMPARE(window->maximumSize(), QSize(250, 250));
    QCOMPARE(window->windowTitle(), QStringLiteral("DDB file splitter"));
    QCOMPARE(minutes->accessibleName(), QStringLiteral("Minutes per piece"));
    QCOMPARE(minutes->toolTip(), QStringLiteral("Minutes per piece"));
    QCOMPARE(window->windowIcon().availableSizes().size(), 6);
    auto *dialog = window->findChild<QFileDialog *>();
    QVERIFY(dialog && !dialog->isVisible());
    QCOMPARE(dialog->nameFilters(), QStringList { QStringLiteral("DDB file (*.ddb)") });
    QCOMPARE(dialog->viewMode(), QFileDialog::Detail);
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

void TestTranchel::shouldShowTheHeader_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("texts");

    const QByteArray base = recording(3, 2, 300, QStringLiteral("2000-12-05 14:26:03"));
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
    QTest::newRow("a folder with a drive letter shows just the name")
            << QStringLiteral("C:/data/run.ddb") << base
            << QStringList { QStringLiteral("<b>Name:</b> run.ddb"),
                             QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
    QTest::newRow("markup in a name shows as typed")
            << QStringLiteral("a<b>&amp;.ddb") << base
            << QStringList { QStringLiteral("<b>Name:</b> a&lt;b&gt;&amp;amp;.ddb"),
                             QStringLiteral("<b>Date:</b> 2000.12.05 14:26:03"),
                             QStringLiteral("<b>Frequency:</b> 2"),
                             QStringLiteral("<b>Channels:</b> 3"),
                             QStringLiteral("<b>Samples:</b> 300") };
    QTest::newRow("a stamp in the spring-forward gap of central Europe")
            << QStringLiteral("gap.ddb")
            << recording(32, 500, 10, QStringLiteral("2024-03-31 02:30:00"))
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
               recording(2, 10, 100,
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
    QCOMPARE(infoTexts(), idleTexts);
    QCOMPARE(child<QLabel>("statusLabel")->text(), QString());
}

void TestTranchel::shouldReturnToIdleWhenCancelled()
{
    open(write(QStringLiteral("run.ddb"),
               recording(2, 10, 100,
                         QStringLiteral("2024-01-01 "
                                        "00:00:00"))));
    QVERIFY(isLoaded());
    cancelOpen();
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts);
}

void TestTranchel::shouldReuseOneDialog()
{
    auto *dialog = window->findChild<QFileDialog *>();
    const QString first = write(QStringLiteral("one/first.ddb"),
                                recording(1, 1, 1, QStringLiteral("2024-01-01 00:00:00")));
    const QString second = write(QStringLiteral("one/second.ddb"),
                                 recording(1, 1, 2, QStringLiteral("2024-01-01 00:00:00")));
    open(first);
    cancelOpen();
    open(second);
    QCOMPARE(window->findChildren<QFileDialog *>(), QList<QFileDialog *> { dialog });
    QCOMPARE(dialog->nameFilters(), QStringList { QStringLiteral("DDB file (*.ddb)") });
    QCOMPARE(infoTexts().constFirst(), QStringLiteral("<b>Name:</b> second.ddb"));
}

void TestTranchel::shouldOpenAndSplitThroughTheWindow()
{
    const QByteArray source = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    const QString path = write(QStringLiteral("run.ddb"), source);
    open(path);
    child<QSpinBox>("minutesSpin")->setValue(1);
    debugLines.clear();
    split();

    QCOMPARE(debugLines,
             QStringList({ QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("3"),
                           QStringLiteral("300") }));
    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split completed"));
    QCOMPARE(child<QLabel>("statusLabel")->toolTip(), QString());
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts);
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
    QTest::addColumn<bool>("folderAtSecondPiece");
    QTest::addColumn<QStringList>("debug");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("reasons");
    QTest::addColumn<QString>("fault"); // injected while splitting, as faultinjection.h spells it

    const QByteArray base = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    QTest::newRow("frequency 0") << withField(base, 58, 0, 2) << false << QStringList()
                                 << QStringList { QStringLiteral("run.ddb") }
                                 << "Refused: the header's frequency is 0" << QString();
    QTest::newRow("more than 100000 pieces")
            << withField(withField(base, 58, 1, 2), 66, 6000001, 4) << false
            << QStringList { QStringLiteral("100001"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("6000001") }
            << QStringList { QStringLiteral("run.ddb") }
            << "Refused: 100001 pieces, more than 100000; the sample count looks corrupt"
            << QString();
    QStringList noFrames;
    for (int number = 1; number <= 20; ++number)
        noFrames << QStringLiteral("Piece %1: not written: the recording holds none of its frames")
                            .arg(number);
    noFrames << QStringLiteral("... and 99980 more");
    QTest::newRow("a header alone claiming 100000 pieces")
            << withField(withField(base.left(512), 58, 1, 2), 66, 6000000, 4) << false
            << QStringList { QStringLiteral("100000"), QStringLiteral("1"), QStringLiteral("3"),
                             QStringLiteral("6000000") }
            << QStringList { QStringLiteral("run.ddb") } << noFrames.join(QLatin1Char('\n'))
            << QString();
    QTest::newRow("a data area shorter than the header claims")
            << withField(recording(3, 2, 150, QStringLiteral("2024-05-06 10:00:00")), 66, 300, 4)
            << false
            << QStringList { QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("3"),
                             QStringLiteral("300") }
            << QStringList { QStringLiteral("run.ddb"), QStringLiteral("run_1.ddb"),
                             QStringLiteral("run_2.ddb") }
            << "Piece 2: holds fewer frames than the header claimed\n"
               "Piece 3: not written: the recording holds none of its frames"
            << QString();
    QTest::newRow("a folder where the second piece goes")
            << base << true
            << QStringList { QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("3"),
                             QStringLiteral("300") }
            << QStringList { QStringLiteral("run.ddb"), QStringLiteral("run_1.ddb"),
                             QStringLiteral("run_2.ddb"), QStringLiteral("run_3.ddb") }
            << "Piece 2: a folder or special file has its name" << QString();
    QTest::newRow("a folder flush that fails after a single piece")
            << recording(3, 2, 90, QStringLiteral("2024-05-06 10:00:00")) << false
            << QStringList { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                             QStringLiteral("90") }
            << QStringList { QStringLiteral("run.ddb"), QStringLiteral("run_1.ddb") }
            << "The folder's new names were not flushed to disk (Input/output error)"
            << "fiu:posix/io/sync/fsync:EIO";
}

void TestTranchel::shouldReportAFailedSplit()
{
    QFETCH(QByteArray, source);
    QFETCH(bool, folderAtSecondPiece);
    QFETCH(QStringList, debug);
    QFETCH(QStringList, files);
    QFETCH(QString, reasons);
    QFETCH(QString, fault);

    static FaultInjection injection;
    if (!fault.isEmpty())
        TRANCHEL_REQUIRE_FAULTS(injection);
    open(write(QStringLiteral("run.ddb"), source));
    if (folderAtSecondPiece)
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("run_2.ddb")));
    child<QSpinBox>("minutesSpin")->setValue(1);
    debugLines.clear();
    if (!fault.isEmpty())
        injection.enable(fault);
    split();
    if (!fault.isEmpty())
        injection.disable({ fault });

    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split failed"));
    QCOMPARE(child<QLabel>("statusLabel")->toolTip(), reasons);
    QCOMPARE(debugLines, debug);
    QCOMPARE(entriesOf(dir->path()), files);
    QVERIFY(!isLoaded());
    QCOMPARE(infoTexts(), idleTexts);
    if (folderAtSecondPiece)
        QCOMPARE(fileContent(dir->filePath(QStringLiteral("run_3.ddb"))),
                 expectedPiece(source, QStringLiteral("240:60:2024-05-06 10:02:30"), 3));
}

void TestTranchel::shouldCompleteASplitWithoutSamples()
{
    open(write(QStringLiteral("run.ddb"),
               recording(4, 100, 0, QStringLiteral("2024-05-06 10:00:00"))));
    debugLines.clear();
    split();
    QCOMPARE(debugLines,
             QStringList({ QStringLiteral("0"), QStringLiteral("100"), QStringLiteral("4"),
                           QStringLiteral("0") }));
    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Split completed"));
    QCOMPARE(entriesOf(dir->path()), QStringList { QStringLiteral("run.ddb") });
}

void TestTranchel::shouldReopenAfterASplit()
{
    const QString path = write(QStringLiteral("run.ddb"),
                               recording(3, 2, 300,
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
    const QFont pinned = QApplication::font();
    QApplication::setFont(QFont(pinned.family(), pointSize));
    window = std::make_unique<Tranchel>();
    QApplication::setFont(pinned);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    if (pointSize == 9)
        QCOMPARE(window->size(), QSize(250, 250));
    verifyEveryTextFits();

    // The widest values a header holds.
    QByteArray widest = withField(recording(65535, 65535, 0, QStringLiteral("2000-12-28 23:59:58")),
                                  66, 0xffffffffu, 4);
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
    const QString path = write(name, recording(1, 1, 1, QStringLiteral("2024-01-01 00:00:00")));
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
