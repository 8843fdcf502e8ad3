// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "recording.h"

#include "piecesteps.h"

#include "piececheck.h"
#include "syntheticrecording.h"

#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(Ddb::Recording::Opened)

class TestRecordingFile : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenRecordings_data();
    void shouldOpenRecordings();
    void shouldRefuseWhatIsNoRecording_data();
    void shouldRefuseWhatIsNoRecording();
    void shouldCutAPathIntoFolderAndName_data();
    void shouldCutAPathIntoFolderAndName();

private:
    QTemporaryDir dir;
};

void TestRecordingFile::shouldOpenRecordings_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("size"); // beyond the content, a hole

    SyntheticRecording recording;
    recording.channels = 3;
    recording.frequency = 2;
    recording.frames = 300;
    const QByteArray full = recording.bytes();
    QTest::newRow("header and 300 frames") << full << qint64(full.size());
    QTest::newRow("just the header fields") << full.left(70) << qint64(70);
    QTest::newRow("part of a header") << full.left(511) << qint64(511);
    QTest::newRow("header without frames") << full.left(512) << qint64(512);
    QTest::newRow("a frame cut short") << full.left(full.size() - 3) << qint64(full.size() - 3);
    // Opening reads the header alone: no recording is too large to open.
    QTest::newRow("4.5 GiB, sparse") << full.left(512) << (qint64(9) << 29);
}

void TestRecordingFile::shouldOpenRecordings()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    const QString path = dir.filePath("whole.ddb");
    QVERIFY(writeContent(path, content));
    QFile sized(path);
    QVERIFY(sized.resize(size));
    Ddb::Recording recording;
    QCOMPARE(recording.open(path), Ddb::Recording::Opened::Yes);
    QCOMPARE(recording.size(), size);
    QCOMPARE(recording.headerBytes(), content.left(512));
    QCOMPARE(recording.header().frequency, quint16(2));
    QByteArray read(content.size(), Qt::Uninitialized);
    QVERIFY(recording.read(0, read.data(), read.size()));
    QCOMPARE(read, content);
    QVERIFY(!recording.read(size - 1, read.data(), 2)); // past its end
#if defined(Q_OS_UNIX)
    struct stat status
    { };
    QCOMPARE(stat(QFile::encodeName(path).constData(), &status), 0);
    QCOMPARE(recording.identity().inode, quint64(status.st_ino));
    QCOMPARE(recording.identity().device, quint64(status.st_dev));
    if (System::goesByPath())
        return;
    // Held open: the same file, whatever now stands under its name.
    QVERIFY(QFile::remove(path) && writeContent(path, "other"));
    QVERIFY(recording.read(0, read.data(), read.size()));
    QCOMPARE(read, content);
#endif
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Ddb::Recording::Opened>("result");

    QVERIFY(dir.isValid());
    const QString empty = dir.filePath("empty.ddb");
    QVERIFY(writeContent(empty, QByteArray()));
    const QString short69 = dir.filePath("short.ddb");
    QVERIFY(writeContent(short69, QByteArray(69, 'x')));
    const QString folder = dir.filePath("folder.ddb");
    QVERIFY(QDir(dir.path()).mkdir("folder.ddb"));

    QTest::newRow("empty file") << empty << Ddb::Recording::Opened::TooShort;
    QTest::newRow("69 bytes") << short69 << Ddb::Recording::Opened::TooShort;
    QTest::newRow("missing file") << dir.filePath("missing.ddb")
                                  << Ddb::Recording::Opened::CannotOpen;
    QTest::newRow("empty name") << QString() << Ddb::Recording::Opened::CannotOpen;
    QTest::newRow("folder") << folder << Ddb::Recording::Opened::NotARegularFile;
#if defined(Q_OS_UNIX)
    const QString fifo = dir.filePath("fifo.ddb");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QTest::newRow("FIFO, which would block the reader")
            << fifo << Ddb::Recording::Opened::NotARegularFile;
#endif
    if (QFileInfo::exists("/dev/zero"))
        QTest::newRow("endless device") << "/dev/zero" << Ddb::Recording::Opened::NotARegularFile;
    // States 4096 bytes and holds a few: an early end is an end, not a wait for more.
    if (QFileInfo::exists("/sys/kernel/uevent_seqnum"))
        QTest::newRow("a file ending before its stated size")
                << "/sys/kernel/uevent_seqnum" << Ddb::Recording::Opened::ReadFailed;
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording()
{
    QFETCH(QString, path);
    QFETCH(Ddb::Recording::Opened, result);
    const QString previous = dir.filePath("previous.ddb");
    QVERIFY(writeContent(previous, QByteArray(100, 'p')));
#if defined(Q_OS_LINUX)
    const int descriptors = entriesOf("/proc/self/fd").size();
#endif
    Ddb::Recording recording;
    QCOMPARE(recording.open(previous), Ddb::Recording::Opened::Yes);
    QCOMPARE(recording.open(path), result);
    QVERIFY(!recording.isOpen());
#if defined(Q_OS_LINUX)
    // Neither the recording before nor the refused file is held.
    QCOMPARE(entriesOf("/proc/self/fd").size(), descriptors);
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

QTEST_GUILESS_MAIN(TestRecordingFile)
#include "tst_recordingfile.moc"
