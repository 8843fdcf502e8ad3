#include "piecewriter.h"

#include "piececheck.h"
#include "syntheticrecording.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray claiming(QByteArray source, quint32 samples)
{
    putLittleEndian(source, 66, samples, 4);
    return source;
}

QStringList pieceNames(int count)
{
    QStringList names { QStringLiteral("run.ddb") };
    for (int number = 1; number <= count; ++number)
        names << QStringLiteral("run_%1.ddb").arg(number);
    names.sort();
    return names;
}

struct Split
{
    SplitOutcome outcome;
    PiecePlan plan;
};

Split splitFile(const QString &path, const QByteArray &source, int minutes)
{
    const PiecePlan plan(*Ddb::readHeader(source), quint16(minutes));
    return { Ddb::writePieces(source, path, plan), plan };
}

} // namespace

class TestPieceWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shouldWriteEveryPieceByteByByte_data();
    void shouldWriteEveryPieceByteByByte();
    void shouldReplaceExistingPieces();
    void shouldSkipAPieceBlockedByAFolder();
    void shouldNeverWriteThroughALinkToTheSource();
    void shouldKeepStampBytesOfAnInvalidTime();
    void shouldHoldEveryCountedFrameOnce();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString sourcePath;
};

void TestPieceWriter::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    sourcePath = dir->filePath(QStringLiteral("run.ddb"));
}

void TestPieceWriter::shouldWriteEveryPieceByteByByte_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("pieces");

    const QString ten = QStringLiteral("2024-05-06 10:00:00");
    const QByteArray threeChannels = recording(3, 2, 300, ten);
    const QStringList threePieces { QStringLiteral("0:120:2024-05-06 10:01:00"),
                                    QStringLiteral("120:120:2024-05-06 10:02:00"),
                                    QStringLiteral("240:60:2024-05-06 10:02:30") };

    QTest::newRow("300 frames at 2 Hz in minutes") << threeChannels << 1 << threePieces;
    QTest::newRow("240 frames make two full pieces")
            << recording(3, 2, 240, ten) << 1 << QStringList(threePieces.mid(0, 2));
    QTest::newRow("shorter than one piece")
            << recording(3, 2, 90, ten) << 1
            << QStringList { QStringLiteral("0:90:2024-05-06 10:00:45") };
    QTest::newRow("remainder of ten frames at seven hertz")
            << recording(3, 7, 430, ten) << 1
            << QStringList { QStringLiteral("0:420:2024-05-06 10:01:00"),
                             QStringLiteral("420:10:2024-05-06 10:01:01") };
    QTest::newRow("no channels gives header-only pieces")
            << claiming(recording(0, 2, 0, ten), 300) << 1 << threePieces;
    QTest::newRow("100 frames of which the header counts 80")
            << claiming(recording(3, 2, 100, ten), 80) << 1
            << QStringList { QStringLiteral("0:80:2024-05-06 10:00:40") };
    QTest::newRow("300 bytes claiming 10 frames")
            << claiming(recording(3, 2, 100, ten).left(300), 10) << 1
            << QStringList { QStringLiteral("0:10:2024-05-06 10:00:05") };
    QTest::newRow("data area shorter than the header claims")
            << claiming(recording(3, 2, 150, ten), 300) << 1 << threePieces;
    QTest::newRow("no samples, no pieces") << claiming(threeChannels, 0) << 1 << QStringList();
    QTest::newRow("past midnight into a new year")
            << recording(2, 1, 7200, QStringLiteral("2023-12-31 23:30:00")) << 60
            << QStringList { QStringLiteral("0:3600:2024-01-01 00:30:00"),
                             QStringLiteral("3600:3600:2024-01-01 01:30:00") };
    QTest::newRow("across the spring-forward change of central Europe")
            << recording(2, 1, 7200, QStringLiteral("2024-03-31 00:30:00")) << 60
            << QStringList { QStringLiteral("0:3600:2024-03-31 01:30:00"),
                             QStringLiteral("3600:3600:2024-03-31 02:30:00") };
    QTest::newRow("a stamp in the year 2000")
            << recording(1, 1, 90, QStringLiteral("2000-01-01 00:00:00")) << 1
            << QStringList { QStringLiteral("0:60:2000-01-01 00:01:00"),
                             QStringLiteral("60:30:2000-01-01 00:01:30") };
}

void TestPieceWriter::shouldWriteEveryPieceByteByByte()
{
    QFETCH(QByteArray, source);
    QFETCH(int, minutes);
    QFETCH(QStringList, pieces);

    QVERIFY(writeContent(sourcePath, source));
    const Split split = splitFile(sourcePath, source, minutes);
    QCOMPARE(split.outcome.written, quint32(pieces.size()));
    QCOMPARE(split.outcome.failed, quint32(0));
    QCOMPARE(entriesOf(dir->path()), pieceNames(pieces.size()));
    const int channels = Ddb::readHeader(source)->channels;
    for (int i = 0; i < pieces.size(); ++i) {
        const QString name = dir->filePath(QStringLiteral("run_%1.ddb").arg(i + 1));
        QCOMPARE(fileContent(name), expectedPiece(source, pieces.at(i), channels));
    }
    QCOMPARE(fileContent(sourcePath), source);
}

void TestPieceWriter::shouldReplaceExistingPieces()
{
    const QByteArray source = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    QVERIFY(writeContent(sourcePath, source));
    QVERIFY(writeContent(dir->filePath(QStringLiteral("run_3.ddb")), QByteArray(100000, 'x')));
    splitFile(sourcePath, source, 1);
    QCOMPARE(fileContent(dir->filePath(QStringLiteral("run_3.ddb"))),
             expectedPiece(source, QStringLiteral("240:60:2024-05-06 10:02:30"), 3));
}

void TestPieceWriter::shouldSkipAPieceBlockedByAFolder()
{
    const QByteArray source = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    QVERIFY(writeContent(sourcePath, source));
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("run_2.ddb")));

    const Split split = splitFile(sourcePath, source, 1);
    QCOMPARE(split.outcome.written, quint32(2));
    QCOMPARE(split.outcome.failed, quint32(1));
    // No temporary file is left behind, and the folder is untouched.
    QCOMPARE(entriesOf(dir->path()), pieceNames(3));
    QVERIFY(QFileInfo(dir->filePath(QStringLiteral("run_2.ddb"))).isDir());
    QVERIFY(entriesOf(dir->filePath(QStringLiteral("run_2.ddb"))).isEmpty());
    QCOMPARE(fileContent(dir->filePath(QStringLiteral("run_3.ddb"))),
             expectedPiece(source, QStringLiteral("240:60:2024-05-06 10:02:30"), 3));
}

void TestPieceWriter::shouldNeverWriteThroughALinkToTheSource()
{
    const QByteArray source = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    QVERIFY(writeContent(sourcePath, source));
    const QString link = dir->filePath(QStringLiteral("run_2.ddb"));
    QVERIFY(QFile::link(QStringLiteral("run.ddb"), link));

    const Split split = splitFile(sourcePath, source, 1);
    QCOMPARE(split.outcome.written, quint32(2));
    QCOMPARE(split.outcome.failed, quint32(1));
    QCOMPARE(fileContent(sourcePath), source);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(entriesOf(dir->path()), pieceNames(3));
    QCOMPARE(fileContent(dir->filePath(QStringLiteral("run_3.ddb"))),
             expectedPiece(source, QStringLiteral("240:60:2024-05-06 10:02:30"), 3));
}

void TestPieceWriter::shouldKeepStampBytesOfAnInvalidTime()
{
    QByteArray source = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    putLittleEndian(source, 46, 13, 2); // month 13
    QVERIFY(writeContent(sourcePath, source));
    const Split split = splitFile(sourcePath, source, 1);
    QCOMPARE(split.outcome.written, quint32(3));
    const quint32 frames[] = { 120, 120, 60 };
    for (int i = 0; i < 3; ++i) {
        QByteArray expected = source.left(512);
        putLittleEndian(expected, 66, frames[i], 4);
        expected += source.mid(512 + i * 120 * 12, int(frames[i] * 12));
        QCOMPARE(fileContent(dir->filePath(QStringLiteral("run_%1.ddb").arg(i + 1))), expected);
    }
}

void TestPieceWriter::shouldHoldEveryCountedFrameOnce()
{
    // Random small recordings, some cut short, some with more frames than counted.
    QRandomGenerator random(20261207);
    for (int round = 0; round < 150; ++round) {
        const int channels = random.bounded(5);
        const int frequency = 1 + random.bounded(4);
        const int minutes = 1 + random.bounded(3);
        QByteArray source = recording(channels, frequency, random.bounded(700),
                                      QStringLiteral("2024-05-06 23:58:00"));
        const quint32 claimed = quint32(random.bounded(800));
        source = claiming(source, claimed);
        if (random.bounded(2) == 0)
            source.truncate(70 + random.bounded(source.size() - 69));
        const QString context = QStringLiteral("round %1: %2 channels, %3 Hz, %4 min, %5 bytes, "
                                               "%6 claimed")
                                        .arg(round)
                                        .arg(channels)
                                        .arg(frequency)
                                        .arg(minutes)
                                        .arg(source.size())
                                        .arg(claimed);
        QVERIFY(writeContent(sourcePath, source));

        const Split split = splitFile(sourcePath, source, minutes);
        const quint32 pieceLength = quint32(minutes * frequency * 60);
        QVERIFY2(split.outcome.written == (claimed + pieceLength - 1) / pieceLength,
                 qPrintable(context));
        QVERIFY2(split.outcome.failed == 0, qPrintable(context));

        const QByteArray header = source.left(512);
        QByteArray frames;
        quint64 framesStated = 0;
        for (quint32 number = 1; number <= split.outcome.written; ++number) {
            const QString name = dir->filePath(QStringLiteral("run_%1.ddb").arg(number));
            const QByteArray piece = fileContent(name);
            QVERIFY2(piece.size() >= header.size(), qPrintable(context));
            for (int i = 0; i < header.size(); ++i) {
                if ((i < 44 || i >= 56) && (i < 66 || i >= 70))
                    QVERIFY2(piece[i] == header[i], qPrintable(context));
            }
            framesStated += qFromLittleEndian<quint32>(piece.constData() + 66);
            frames += piece.mid(header.size());
            QVERIFY(QFile::remove(name));
        }
        const qint64 counted = qint64(claimed) * channels * 4;
        QVERIFY2(framesStated == claimed, qPrintable(context));
        QVERIFY2(frames == source.mid(512, int(counted)), qPrintable(context));
        QCOMPARE(entriesOf(dir->path()), QStringList { QStringLiteral("run.ddb") });
    }
}

QTEST_GUILESS_MAIN(TestPieceWriter)
#include "tst_piecewriter.moc"
