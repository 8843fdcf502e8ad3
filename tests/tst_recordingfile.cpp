#include "recordingfile.h"

#include "piececheck.h"
#include "syntheticrecording.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

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
    QCOMPARE(Ddb::readRecording(path, bytes), Ddb::ReadResult::Loaded);
    QCOMPARE(bytes, content);
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
    const QString fifo = dir.filePath(QStringLiteral("fifo.ddb"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    QTest::newRow("empty file") << empty << Ddb::ReadResult::TooShort;
    QTest::newRow("69 bytes") << short69 << Ddb::ReadResult::TooShort;
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("missing.ddb"))
                                  << Ddb::ReadResult::CannotOpen;
    QTest::newRow("empty name") << QString() << Ddb::ReadResult::CannotOpen;
    QTest::newRow("folder") << folder << Ddb::ReadResult::NotARegularFile;
    QTest::newRow("FIFO, which would block the reader") << fifo << Ddb::ReadResult::NotARegularFile;
    if (QFileInfo::exists(QStringLiteral("/dev/zero")))
        QTest::newRow("endless device")
                << QStringLiteral("/dev/zero") << Ddb::ReadResult::NotARegularFile;
}

void TestRecordingFile::shouldRefuseWhatIsNoRecording()
{
    QFETCH(QString, path);
    QFETCH(Ddb::ReadResult, result);
    QByteArray bytes = "previous";
    QCOMPARE(Ddb::readRecording(path, bytes), result);
    QCOMPARE(bytes, QByteArray("previous"));
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

QTEST_GUILESS_MAIN(TestRecordingFile)
#include "tst_recordingfile.moc"
