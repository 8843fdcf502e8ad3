// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "recordingfile.h"

#include "piecesteps.h"

#include "piececheck.h"
#include "syntheticrecording.h"

#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(System::ReadResult)

class TestRecordingFile : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadWholeRecordings_data();
    void shouldReadWholeRecordings();
    void shouldRefuseWhatIsNoRecording_data();
    void shouldRefuseWhatIsNoRecording();
    void shouldFitTheByteArrayOfThisBuild();
    void shouldCutAPathIntoFolderAndName_data();
    void shouldCutAPathIntoFolderAndName();
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
    const QString path = dir.filePath("whole.ddb");
    QVERIFY(writeContent(path, content));
    QByteArray bytes = "previous";
    System::RecordingSource source;
    QCOMPARE(System::readRecording(path, bytes, source, -1), System::ReadResult::Loaded);
    QCOMPARE(bytes, content);
    QVERIFY(source.isOpen());
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    QCOMPARE(stat(QFile::encodeName(path).constData(), &status), 0);
    QCOMPARE(source.identity().inode, quint64(status.st_ino));
    QCOMPARE(source.identity().device, quint64(status.st_dev));
    if (System::goesByPath())
        return;
    // Held open: the same file, whatever now stands under its name.
    QVERIFY(QFile::remove(path) && writeContent(path, "other"));
    QByteArray again(content.size(), Qt::Uninitialized);
    QVERIFY(source.read(again.data(), again.size()));
    QCOMPARE(again, content);
#endif
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<System::ReadResult>("result");

    QVERIFY(dir.isValid());
    const QString empty = dir.filePath("empty.ddb");
    QVERIFY(writeContent(empty, QByteArray()));
    const QString short69 = dir.filePath("short.ddb");
    QVERIFY(writeContent(short69, QByteArray(69, 'x')));
    const QString folder = dir.filePath("folder.ddb");
    QVERIFY(QDir(dir.path()).mkdir("folder.ddb"));

    QTest::newRow("empty file") << empty << System::ReadResult::TooShort;
    QTest::newRow("69 bytes") << short69 << System::ReadResult::TooShort;
    QTest::newRow("missing file") << dir.filePath("missing.ddb") << System::ReadResult::CannotOpen;
    QTest::newRow("empty name") << QString() << System::ReadResult::CannotOpen;
    QTest::newRow("folder") << folder << System::ReadResult::NotARegularFile;
#if defined(Q_OS_UNIX)
    const QString fifo = dir.filePath("fifo.ddb");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTest::newRow("FIFO, which would block the reader")
            << fifo << System::ReadResult::NotARegularFile;
#endif
    if (QFileInfo::exists("/dev/zero"))
        QTest::newRow("endless device") << "/dev/zero" << System::ReadResult::NotARegularFile;
    // States 4096 bytes and holds a few: an early end is an end, not a wait for more.
    if (QFileInfo::exists("/sys/kernel/uevent_seqnum"))
        QTest::newRow("a file ending before its stated size")
                << "/sys/kernel/uevent_seqnum" << System::ReadResult::ReadFailed;
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording()
{
    QFETCH(QString, path);
    QFETCH(System::ReadResult, result);
    const QString previous = dir.filePath("previous.ddb");
    QVERIFY(writeContent(previous, QByteArray(100, 'p')));
    QByteArray bytes;
    System::RecordingSource source;
    QCOMPARE(System::readRecording(previous, bytes, source, -1), System::ReadResult::Loaded);
    const System::FileIdentity held = source.identity();
#if defined(Q_OS_LINUX)
    const int descriptors = entriesOf("/proc/self/fd").size();
#endif
    QCOMPARE(System::readRecording(path, bytes, source, -1), result);
#if defined(Q_OS_LINUX)
    QCOMPARE(entriesOf("/proc/self/fd").size(), descriptors); // the refused file let go of
#endif
    QCOMPARE(bytes, QByteArray(100, 'p'));
    QVERIFY(source.isOpen());
    QVERIFY(source.identity() == held);
}

void TestRecordingFile::shouldFitTheByteArrayOfThisBuild()
{
    // Qt 5 arrays end just below 2 GiB; Qt 6 arrays hold far larger recordings.
    const qint64 twoGiB = qint64(1) << 31;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QVERIFY(System::maxRecordingSize() < twoGiB - 25);
    QVERIFY(System::maxRecordingSize() > twoGiB - 4096);
#else
    QVERIFY(System::maxRecordingSize() > 64 * twoGiB);
#endif
}

void TestRecordingFile::shouldCutAPathIntoFolderAndName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("in a folder") << "/data/run.ddb"
                                 << "/data"
                                 << "run.ddb";
    QTest::newRow("a dot in the folder stays there") << "/data.v2/run"
                                                     << "/data.v2"
                                                     << "run";
    QTest::newRow("at the root") << "/run.ddb"
                                 << "/"
                                 << "run.ddb";
    QTest::newRow("at a drive's root") << "C:/run.ddb"
                                       << "C:/"
                                       << "run.ddb";
    QTest::newRow("no folder") << "run.ddb"
                               << "."
                               << "run.ddb";
}

void TestRecordingFile::shouldCutAPathIntoFolderAndName()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    const System::PathParts parts = System::splitPath(path);
    QCOMPARE(parts.folder, folder);
    QCOMPARE(parts.name, name);
}

void TestRecordingFile::shouldLoadOnlyWhatMemoryHolds_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("memoryLimit"); // -1: the system tells no limit
    QTest::addColumn<System::ReadResult>("result");

    QTest::newRow("exactly what memory holds")
            << qint64(1000) << qint64(1000) << System::ReadResult::Loaded;
    QTest::newRow("one byte more")
            << qint64(1000) << qint64(999) << System::ReadResult::NotEnoughMemory;
    QTest::newRow("no memory to spare")
            << qint64(512) << qint64(0) << System::ReadResult::NotEnoughMemory;
    QTest::newRow("no limit known") << qint64(1000) << qint64(-1) << System::ReadResult::Loaded;
    // Sparse: refused before a byte is allocated, by the array limit of Qt 5 first.
    const bool qt5 = QT_VERSION < QT_VERSION_CHECK(6, 0, 0);
    QTest::newRow("2 GiB, sparse")
            << (qint64(1) << 31) << (qint64(1) << 30)
            << (qt5 ? System::ReadResult::TooLarge : System::ReadResult::NotEnoughMemory);
}

void TestRecordingFile::shouldLoadOnlyWhatMemoryHolds()
{
    QFETCH(qint64, size);
    QFETCH(qint64, memoryLimit);
    QFETCH(System::ReadResult, result);

    const QString path = dir.filePath("sized.ddb");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
    file.close();
    QByteArray bytes;
    System::RecordingSource source;
    QCOMPARE(System::readRecording(path, bytes, source, memoryLimit), result);
    QCOMPARE(bytes.size(), result == System::ReadResult::Loaded ? int(size) : 0);
}

QTEST_GUILESS_MAIN(TestRecordingFile)
#include "tst_recordingfile.moc"
