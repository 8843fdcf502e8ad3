// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "recordingfile.h"

#include "piececheck.h"
#include "syntheticrecording.h"

#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(Ddb::ReadResult)

class TestRecordingFile : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadWholeRecordings_data();
    void shouldReadWholeRecordings();
    void shouldRefuseWhatIsNoRecording_data();
    void shouldRefuseWhatIsNoRecording();
    void shouldFitTheByteArrayOfThisBuild();
    void shouldLoadOnlyWhatMemoryHolds_data();
    void shouldLoadOnlyWhatMemoryHolds();

private:
    QTemporaryDir dir;
};

void TestRecordingFile::shouldReadWholeRecordings_data()
{
    QTest::addColumn<QByteArray>("content");

    SyntheticRecording recording;
    recording.channels = 3;
    recording.frequency = 2;
    recording.frames = 300;
    const QByteArray full = recording.bytes();
    QTest::newRow("header and 300 frames") << full;
    QTest::newRow("just the header fields") << full.left(70);
    QTest::newRow("part of a header") << full.left(511);
    QTest::newRow("header without frames") << full.left(512);
    QTest::newRow("a frame cut short") << full.left(full.size() - 3);
}

void TestRecordingFile::shouldReadWholeRecordings()
{
    QFETCH(QByteArray, content);
    const QString path = dir.filePath(QStringLiteral("whole.ddb"));
    QVERIFY(writeContent(path, content));
    QByteArray bytes = "previous";
    System::RecordingSource source;
    QCOMPARE(Ddb::readRecording(path, bytes, source), Ddb::ReadResult::Loaded);
    QCOMPARE(bytes, content);
    QVERIFY(source.isOpen());
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    QCOMPARE(stat(QFile::encodeName(path).constData(), &status), 0);
    QCOMPARE(source.identity().inode, quint64(status.st_ino));
    QCOMPARE(source.identity().device, quint64(status.st_dev));
    // Held open: the same file, whatever now stands under its name.
    QVERIFY(QFile::remove(path));
    QVERIFY(source.isOpen());
    QCOMPARE(fstat(int(source.fileHandle()), &status), 0);
    QCOMPARE(qint64(status.st_size), qint64(content.size()));
#endif
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Ddb::ReadResult>("result");

    QVERIFY(dir.isValid());
    const QString empty = dir.filePath(QStringLiteral("empty.ddb"));
    QVERIFY(writeContent(empty, QByteArray()));
    const QString short69 = dir.filePath(QStringLiteral("short.ddb"));
    QVERIFY(writeContent(short69, QByteArray(69, 'x')));
    const QString folder = dir.filePath(QStringLiteral("folder.ddb"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.ddb")));

    QTest::newRow("empty file") << empty << Ddb::ReadResult::TooShort;
    QTest::newRow("69 bytes") << short69 << Ddb::ReadResult::TooShort;
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("missing.ddb"))
                                  << Ddb::ReadResult::CannotOpen;
    QTest::newRow("empty name") << QString() << Ddb::ReadResult::CannotOpen;
    QTest::newRow("folder") << folder << Ddb::ReadResult::NotARegularFile;
#if defined(Q_OS_UNIX)
    const QString fifo = dir.filePath(QStringLiteral("fifo.ddb"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTest::newRow("FIFO, which would block the reader") << fifo << Ddb::ReadResult::NotARegularFile;
#endif
    if (QFileInfo::exists(QStringLiteral("/dev/zero")))
        QTest::newRow("endless device")
                << QStringLiteral("/dev/zero") << Ddb::ReadResult::NotARegularFile;
    // States 4096 bytes and holds a few: an early end is an end, not a wait for more.
    if (QFileInfo::exists(QStringLiteral("/sys/kernel/uevent_seqnum")))
        QTest::newRow("a file ending before its stated size")
                << QStringLiteral("/sys/kernel/uevent_seqnum") << Ddb::ReadResult::ReadFailed;
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording()
{
    QFETCH(QString, path);
    QFETCH(Ddb::ReadResult, result);
    const QString previous = dir.filePath(QStringLiteral("previous.ddb"));
    QVERIFY(writeContent(previous, QByteArray(100, 'p')));
    QByteArray bytes;
    System::RecordingSource source;
    QCOMPARE(Ddb::readRecording(previous, bytes, source), Ddb::ReadResult::Loaded);
    const System::FileIdentity held = source.identity();
    QCOMPARE(Ddb::readRecording(path, bytes, source), result);
    QCOMPARE(bytes, QByteArray(100, 'p'));
    QVERIFY(source.isOpen());
    QVERIFY(source.identity() == held);
}

void TestRecordingFile::shouldFitTheByteArrayOfThisBuild()
{
    // Qt 5 arrays end just below 2 GiB; Qt 6 arrays hold far larger recordings.
    const qint64 twoGiB = qint64(1) << 31;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QVERIFY(Ddb::maxRecordingSize() < twoGiB - 25);
    QVERIFY(Ddb::maxRecordingSize() > twoGiB - 4096);
#else
    QVERIFY(Ddb::maxRecordingSize() > 64 * twoGiB);
#endif
}

void TestRecordingFile::shouldLoadOnlyWhatMemoryHolds_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("memoryLimit"); // -1: the system tells no limit
    QTest::addColumn<Ddb::ReadResult>("result");

    QTest::newRow("exactly what memory holds")
            << qint64(1000) << qint64(1000) << Ddb::ReadResult::Loaded;
    QTest::newRow("one byte more")
            << qint64(1000) << qint64(999) << Ddb::ReadResult::NotEnoughMemory;
    QTest::newRow("no memory to spare")
            << qint64(512) << qint64(0) << Ddb::ReadResult::NotEnoughMemory;
    QTest::newRow("no limit known") << qint64(1000) << qint64(-1) << Ddb::ReadResult::Loaded;
    // Sparse: refused before a byte is allocated, by the array limit of Qt 5 first.
    const bool qt5 = QT_VERSION < QT_VERSION_CHECK(6, 0, 0);
    QTest::newRow("2 GiB, sparse")
            << (qint64(1) << 31) << (qint64(1) << 30)
            << (qt5 ? Ddb::ReadResult::TooLarge : Ddb::ReadResult::NotEnoughMemory);
}

void TestRecordingFile::shouldLoadOnlyWhatMemoryHolds()
{
    QFETCH(qint64, size);
    QFETCH(qint64, memoryLimit);
    QFETCH(Ddb::ReadResult, result);

    const QString path = dir.filePath(QStringLiteral("sized.ddb"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
    file.close();
    QByteArray bytes;
    System::RecordingSource source;
    QCOMPARE(Ddb::readRecording(path, bytes, source, memoryLimit), result);
    QCOMPARE(bytes.size(), result == Ddb::ReadResult::Loaded ? int(size) : 0);
}

QTEST_GUILESS_MAIN(TestRecordingFile)
#include "tst_recordingfile.moc"
