// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "piecewriter.h"

#include "piececheck.h"
#include "recordingfile.h"
#include "syntheticrecording.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray claiming(QByteArray source, quint32 samples)
{
    putLittleEndian(source, 66, samples, 4);
    return source;
}

// "2 fewer, 3 none": the failed pieces and their reasons, as rows spell them.
QString describe(const SplitOutcome &outcome)
{
    const char *const reasons[]
            = { "ok", "folder", "link", "recording", "protected", "disk", "none", "fewer" };
    QStringList failures;
    for (const FailedPiece &failed : outcome.failures)
        failures << QStringLiteral("%1 %2")
                            .arg(failed.number)
                            .arg(QLatin1String(reasons[int(failed.failure)]));
    if (outcome.folderSyncError != 0)
        failures << QStringLiteral("folder not synced");
    return failures.join(QStringLiteral(", "));
}

struct Loaded
{
    QByteArray bytes;
    Ddb::RecordingSource source;
};

// Reads the recording as the window does, so that the writer knows which file it came from.
Loaded load(const QString &path)
{
    Loaded loaded;
    if (Ddb::readRecording(path, loaded.bytes, loaded.source) != Ddb::ReadResult::Loaded)
        qFatal("cannot read %s", qPrintable(path));
    return loaded;
}

SplitOutcome split(const Loaded &loaded, const QString &path, int minutes)
{
    const PiecePlan plan(*Ddb::readHeader(loaded.bytes), quint16(minutes), loaded.bytes.size());
    return Ddb::writePieces(loaded.bytes, loaded.source.identity(), path, plan);
}

SplitOutcome splitFile(const QString &path, int minutes)
{
    return split(load(path), path, minutes);
}

// What stands under a name, to tell that a split left it alone.
QString snapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("link to ") + info.symLinkTarget();
    if (info.isDir())
        return QStringLiteral("folder of ") + entriesOf(path).join(QLatin1Char(' '));
    if (!info.exists())
        return QStringLiteral("nothing");
    if (!info.isFile()) // reading a FIFO would wait for a writer
        return QStringLiteral("special file");
    return QStringLiteral("%1 %2")
            .arg(int(info.permissions()))
            .arg(QString::fromLatin1(fileContent(path).toHex()));
}

const QStringList threePieces { QStringLiteral("0:120:2024-05-06 10:01:00"),
                                QStringLiteral("120:120:2024-05-06 10:02:00"),
                                QStringLiteral("240:60:2024-05-06 10:02:30") };

QByteArray threePieceSource()
{
    return recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
}

// Failure points of the fault-injection library, when the test runs with its POSIX
// wrappers preloaded; looked up at run time so that the plain run needs none of it.
class FaultInjection
{
public:
    FaultInjection()
    {
        using Init = int (*)(unsigned int);
        if (auto init = reinterpret_cast<Init>(dlsym(RTLD_DEFAULT, "fiu_init")))
            init(0);
        m_enable = reinterpret_cast<Enable>(dlsym(RTLD_DEFAULT, "fiu_enable"));
        m_disable = reinterpret_cast<Disable>(dlsym(RTLD_DEFAULT, "fiu_disable"));
    }
    bool isAvailable() const { return m_enable && m_disable; }
    // Every call through `point` fails with `error` (0: one the library picks), or just the
    // next one when `once`.
    void enable(const char *point, int error, bool once) const
    {
        m_enable(point, 1, reinterpret_cast<void *>(qintptr(error)), once ? 1 : 0);
    }
    void disable(const char *point) const { m_disable(point); }

private:
    using Enable = int (*)(const char *, int, void *, unsigned int);
    using Disable = int (*)(const char *);
    Enable m_enable = nullptr;
    Disable m_disable = nullptr;
};

} // namespace

class TestPieceWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shouldWriteEveryPieceByteByByte_data();
    void shouldWriteEveryPieceByteByByte();
    void shouldReplaceExistingPiecesKeepingTheirPermissions();
    void shouldLeaveWhatStandsUnderAPieceName_data();
    void shouldLeaveWhatStandsUnderAPieceName();
    void shouldLeaveNothingBehindWhenTheDiskRefuses_data();
    void shouldLeaveNothingBehindWhenTheDiskRefuses();
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
    QTest::addColumn<QStringList>("pieces"); // an empty entry: that piece is not written
    QTest::addColumn<QString>("failures");

    const QString ten = QStringLiteral("2024-05-06 10:00:00");
    const QByteArray threeChannels = recording(3, 2, 300, ten);
    const QStringList threePieces { QStringLiteral("0:120:2024-05-06 10:01:00"),
                                    QStringLiteral("120:120:2024-05-06 10:02:00"),
                                    QStringLiteral("240:60:2024-05-06 10:02:30") };
    const QStringList nothing { QString(), QString(), QString() };

    QTest::newRow("300 frames at 2 Hz in minutes") << threeChannels << 1 << threePieces << "";
    QTest::newRow("240 frames make two full pieces")
            << recording(3, 2, 240, ten) << 1 << QStringList(threePieces.mid(0, 2)) << "";
    QTest::newRow("shorter than one piece")
            << recording(3, 2, 90, ten) << 1
            << QStringList { QStringLiteral("0:90:2024-05-06 10:00:45") } << "";
    QTest::newRow("remainder of ten frames at seven hertz")
            << recording(3, 7, 430, ten) << 1
            << QStringList { QStringLiteral("0:420:2024-05-06 10:01:00"),
                             QStringLiteral("420:10:2024-05-06 10:01:01") }
            << "";
    QTest::newRow("no channels gives header-only pieces")
            << claiming(recording(0, 2, 0, ten), 300) << 1 << threePieces << "";
    QTest::newRow("100 frames of which the header counts 80")
            << claiming(recording(3, 2, 100, ten), 80) << 1
            << QStringList { QStringLiteral("0:80:2024-05-06 10:00:40") } << "";
    QTest::newRow("no samples, no pieces")
            << claiming(threeChannels, 0) << 1 << QStringList() << "";
    QTest::newRow("past midnight into a new year")
            << recording(2, 1, 7200, QStringLiteral("2023-12-31 23:30:00")) << 60
            << QStringList { QStringLiteral("0:3600:2024-01-01 00:30:00"),
                             QStringLiteral("3600:3600:2024-01-01 01:30:00") }
            << "";
    QTest::newRow("across the spring-forward change of central Europe")
            << recording(2, 1, 7200, QStringLiteral("2024-03-31 00:30:00")) << 60
            << QStringList { QStringLiteral("0:3600:2024-03-31 01:30:00"),
                             QStringLiteral("3600:3600:2024-03-31 02:30:00") }
            << "";
    QTest::newRow("a stamp in the year 2000")
            << recording(1, 1, 90, QStringLiteral("2000-01-01 00:00:00")) << 1
            << QStringList { QStringLiteral("0:60:2000-01-01 00:01:00"),
                             QStringLiteral("60:30:2000-01-01 00:01:30") }
            << "";
    // Damaged recordings: a piece holds the whole frames that exist, and says so.
    QTest::newRow("data area short by whole frames")
            << claiming(recording(3, 2, 290, ten), 300) << 1
            << QStringList { threePieces.at(0), threePieces.at(1),
                             QStringLiteral("240:50:2024-05-06 10:02:25") }
            << "3 fewer";
    QTest::newRow("data area short by part of a frame")
            << threeChannels.left(threeChannels.size() - 5) << 1
            << QStringList { threePieces.at(0), threePieces.at(1),
                             QStringLiteral("240:59:2024-05-06 10:02:29") }
            << "3 fewer";
    QTest::newRow("data area ending inside piece 2")
            << claiming(recording(3, 2, 150, ten), 300) << 1
            << QStringList { threePieces.at(0), QStringLiteral("120:30:2024-05-06 10:01:15"),
                             QString() }
            << "2 fewer, 3 none";
    QTest::newRow("data area ending exactly at a piece boundary")
            << claiming(recording(3, 2, 240, ten), 300) << 1
            << QStringList { threePieces.at(0), threePieces.at(1), QString() } << "3 none";
    QTest::newRow("empty data area")
            << claiming(recording(3, 2, 0, ten), 300) << 1 << nothing << "1 none, 2 none, 3 none";
    QTest::newRow("300 bytes claiming 10 frames")
            << claiming(recording(3, 2, 100, ten).left(300), 10) << 1 << QStringList { QString() }
            << "1 none";
    QTest::newRow("300 bytes without channels") << claiming(recording(0, 2, 0, ten).left(300), 300)
                                                << 1 << nothing << "1 none, 2 none, 3 none";
}

void TestPieceWriter::shouldWriteEveryPieceByteByByte()
{
    QFETCH(QByteArray, source);
    QFETCH(int, minutes);
    QFETCH(QStringList, pieces);
    QFETCH(QString, failures);

    QVERIFY(writeContent(sourcePath, source));
    const SplitOutcome outcome = splitFile(sourcePath, minutes);
    QCOMPARE(describe(outcome), failures);
    QStringList names { QStringLiteral("run.ddb") };
    const int channels = Ddb::readHeader(source)->channels;
    for (int i = 0; i < pieces.size(); ++i) {
        const QString name = QStringLiteral("run_%1.ddb").arg(i + 1);
        if (pieces.at(i).isEmpty())
            continue;
        names << name;
        QCOMPARE(fileContent(dir->filePath(name)), expectedPiece(source, pieces.at(i), channels));
    }
    QCOMPARE(outcome.written, quint32(names.size() - 1));
    names.sort();
    QCOMPARE(entriesOf(dir->path()), names);
    QCOMPARE(fileContent(sourcePath), source);
}

void TestPieceWriter::shouldReplaceExistingPiecesKeepingTheirPermissions()
{
    const QByteArray source = recording(3, 2, 300, QStringLiteral("2024-05-06 10:00:00"));
    QVERIFY(writeContent(sourcePath, source));
    const QString third = dir->filePath(QStringLiteral("run_3.ddb"));
    QVERIFY(writeContent(third, QByteArray(100000, 'x')));
    QCOMPARE(chmod(QFile::encodeName(third).constData(), 0604), 0);
    const mode_t umaskNow = umask(022);
    umask(umaskNow);

    QVERIFY(splitFile(sourcePath, 1).succeeded());
    QCOMPARE(fileContent(third),
             expectedPiece(source, QStringLiteral("240:60:2024-05-06 10:02:30"), 3));
    struct stat status
    { };
    QCOMPARE(stat(QFile::encodeName(third).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, mode_t(0604));
    QCOMPARE(stat(QFile::encodeName(dir->filePath(QStringLiteral("run_1.ddb"))).constData(),
                  &status),
             0);
    QCOMPARE(status.st_mode & 0777, mode_t(0666 & ~umaskNow));
}

void TestPieceWriter::shouldLeaveWhatStandsUnderAPieceName_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("blocked");
    QTest::addColumn<QString>("failure");

    QTest::newRow("folder") << "folder" << 2 << "2 folder";
    QTest::newRow("FIFO") << "fifo" << 2 << "2 folder";
    QTest::newRow("file without write bits") << "protected" << 2 << "2 protected";
    QTest::newRow("hard link of the recording") << "hard link" << 2 << "2 recording";
    QTest::newRow("recording opened through run.ddb -> run_1.ddb")
            << "opened through link" << 1 << "1 recording";
    QTest::newRow("link to the recording") << "run.ddb" << 2 << "2 link";
    QTest::newRow("link to a file elsewhere") << "../outside/notes.txt" << 2 << "2 link";
    QTest::newRow("dangling link to a new file elsewhere") << "../outside/new" << 2 << "2 link";
    QTest::newRow("link to a folder elsewhere") << "../outside" << 2 << "2 link";
    QTest::newRow("link to a later piece") << "run_3.ddb" << 2 << "2 link";
    QTest::newRow("link through a linked folder and ..") << "sub/../run.ddb" << 2 << "2 link";
    QTest::newRow("chain of 45 links to the recording") << "chain" << 2 << "2 link";
}

void TestPieceWriter::shouldLeaveWhatStandsUnderAPieceName()
{
    QFETCH(QString, obstacle);
    QFETCH(int, blocked);
    QFETCH(QString, failure);

    const QByteArray source = threePieceSource();
    QVERIFY(writeContent(sourcePath, source));
    QDir folder(dir->path());
    QVERIFY(folder.mkpath(QStringLiteral("outside/inner")));
    QVERIFY(writeContent(dir->filePath(QStringLiteral("outside/notes.txt")), "notes"));
    QVERIFY(folder.mkdir(QStringLiteral("work")));
    // The recording's folder is "work", so that "outside" is another folder.
    const QString work = dir->filePath(QStringLiteral("work"));
    const QString path = work + QStringLiteral("/run.ddb");
    QVERIFY(QFile::rename(sourcePath, path));
    const QString name = work + QStringLiteral("/run_%1.ddb").arg(blocked);
    const QByteArray nameBytes = QFile::encodeName(name);
    if (obstacle == QLatin1String("folder")) {
        QVERIFY(QDir(work).mkdir(QStringLiteral("run_2.ddb")));
    } else if (obstacle == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(nameBytes.constData(), 0600), 0);
    } else if (obstacle == QLatin1String("protected")) {
        QVERIFY(writeContent(name, "old"));
        QCOMPARE(chmod(nameBytes.constData(), 0444), 0);
    } else if (obstacle == QLatin1String("hard link")) {
        QCOMPARE(link(QFile::encodeName(path).constData(), nameBytes.constData()), 0);
    } else if (obstacle == QLatin1String("opened through link")) {
        QVERIFY(QFile::rename(path, name));
        QVERIFY(QFile::link(QStringLiteral("run_1.ddb"), path));
    } else if (obstacle == QLatin1String("chain")) {
        for (int i = 0; i < 45; ++i)
            QVERIFY(QFile::link(i == 0 ? QStringLiteral("run.ddb") : QStringLiteral("l%1").arg(i),
                                work + QStringLiteral("/l%1").arg(i + 1)));
        QVERIFY(QFile::link(QStringLiteral("l45"), name));
    } else {
        QVERIFY(QFile::link(QStringLiteral("../outside/inner"), work + QStringLiteral("/sub")));
        QCOMPARE(symlink(obstacle.toUtf8().constData(), nameBytes.constData()), 0);
    }
    const QStringList entriesBefore = entriesOf(work);
    const QString outsideBefore = snapshot(dir->filePath(QStringLiteral("outside")))
            + snapshot(dir->filePath(QStringLiteral("outside/notes.txt")));
    const QString blockedBefore = snapshot(name);

    const SplitOutcome outcome = splitFile(path, 1);
    QCOMPARE(describe(outcome), failure);
    QCOMPARE(snapshot(name), blockedBefore);
    QCOMPARE(snapshot(dir->filePath(QStringLiteral("outside")))
                     + snapshot(dir->filePath(QStringLiteral("outside/notes.txt"))),
             outsideBefore);
    QCOMPARE(fileContent(path), source);
    QStringList entries = entriesBefore;
    for (int number = 1; number <= 3; ++number) {
        const QString piece = QStringLiteral("run_%1.ddb").arg(number);
        if (number == blocked)
            continue;
        entries << piece;
        QCOMPARE(fileContent(work + QLatin1Char('/') + piece),
                 expectedPiece(source, threePieces.at(number - 1), 3));
    }
    entries.removeDuplicates();
    entries.sort();
    QCOMPARE(entriesOf(work), entries);
}

void TestPieceWriter::shouldLeaveNothingBehindWhenTheDiskRefuses_data()
{
    QTest::addColumn<QByteArray>("point"); // empty: a file size limit of 1500 bytes
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("once");
    QTest::addColumn<QString>("failures");

    const QString all = QStringLiteral("1 disk, 2 disk, 3 disk");
    QTest::newRow("file size limit") << QByteArray() << 0 << false << "1 disk, 2 disk";
    QTest::newRow("flush fails") << QByteArray("posix/io/sync/fdatasync") << EIO << false << all;
    QTest::newRow("folder flush fails")
            << QByteArray("posix/io/sync/fsync") << EIO << false << "folder not synced";
    QTest::newRow("write fails") << QByteArray("posix/io/rw/write") << ENOSPC << false << all;
    QTest::newRow("writes cut short") << QByteArray("posix/io/rw/write/reduce") << 0 << false << "";
    QTest::newRow("close fails") << QByteArray("posix/io/oc/close") << EIO << false << all;
    QTest::newRow("rename fails") << QByteArray("posix/io/dir/rename") << EACCES << false << all;
    QTest::newRow("open fails") << QByteArray("posix/io/oc/open") << EACCES << false << all;
    QTest::newRow("no unnamed files on this file system")
            << QByteArray("posix/io/oc/open") << EOPNOTSUPP << true << "";
}

void TestPieceWriter::shouldLeaveNothingBehindWhenTheDiskRefuses()
{
    QFETCH(QByteArray, point);
    QFETCH(int, error);
    QFETCH(bool, once);
    QFETCH(QString, failures);

    static const FaultInjection faults;
    if (!point.isEmpty() && !faults.isAvailable()) {
        if (qEnvironmentVariableIsSet("TRANCHEL_FAULTS"))
            QFAIL("the fault-injection wrappers are not loaded");
        QSKIP("needs the fault-injection wrappers preloaded, as in tst_piecewriter_faults");
    }
    // QSaveFile ignores failed flushes and closes, and names new files without rename().
    const QByteArrayList portableCannot { "flush fails", "folder flush fails", "close fails",
                                          "rename fails" };
    if (!Ddb::writerGuardsLinksAndFlushes() && portableCannot.contains(QTest::currentDataTag()))
        QSKIP("beyond what the portable writer promises");
    const QByteArray source = threePieceSource();
    QVERIFY(writeContent(sourcePath, source));
    const QString third = dir->filePath(QStringLiteral("run_3.ddb"));
    QVERIFY(writeContent(third, "earlier"));
    const Loaded loaded = load(sourcePath);

    rlimit limit {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    if (point.isEmpty()) {
        signal(SIGXFSZ, SIG_IGN);
        limit.rlim_cur = 1500;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    } else {
        faults.enable(point.constData(), error, once);
    }
    const SplitOutcome outcome = split(loaded, sourcePath, 1);
    if (point.isEmpty())
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    else
        faults.disable(point.constData());

    QCOMPARE(describe(outcome), failures);
    QCOMPARE(fileContent(sourcePath), source);
    QStringList entries { QStringLiteral("run.ddb"), QStringLiteral("run_3.ddb") };
    for (int number = 1; number <= 3; ++number) {
        const QString piece = QStringLiteral("run_%1.ddb").arg(number);
        if (failures.contains(QStringLiteral("%1 disk").arg(number))) {
            if (number == 3)
                QCOMPARE(fileContent(third), QByteArray("earlier"));
            continue;
        }
        entries << piece;
        QCOMPARE(fileContent(dir->filePath(piece)),
                 expectedPiece(source, threePieces.at(number - 1), 3));
    }
    entries.removeDuplicates();
    entries.sort();
    QCOMPARE(entriesOf(dir->path()), entries);
}

void TestPieceWriter::shouldKeepStampBytesOfAnInvalidTime()
{
    QByteArray source = threePieceSource();
    putLittleEndian(source, 46, 13, 2); // month 13
    QVERIFY(writeContent(sourcePath, source));
    QVERIFY(splitFile(sourcePath, 1).succeeded());
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

        // What must be saved: the counted frames that exist whole, behind a whole header.
        const qint64 frameSize = channels * 4;
        qint64 held = source.size() < 512 ? 0 : claimed;
        if (frameSize > 0)
            held = qMin(held, (qMax(source.size(), 512) - 512) / frameSize);
        const SplitOutcome outcome = splitFile(sourcePath, minutes);
        const quint32 pieceLength = quint32(minutes * frequency * 60);
        QVERIFY2(outcome.written == (held + pieceLength - 1) / pieceLength, qPrintable(context));
        QVERIFY2(outcome.succeeded() == (held == claimed), qPrintable(context));

        const QByteArray header = source.left(512);
        QByteArray frames;
        quint64 framesStated = 0;
        for (quint32 number = 1; number <= outcome.written; ++number) {
            const QString name = dir->filePath(QStringLiteral("run_%1.ddb").arg(number));
            const QByteArray piece = fileContent(name);
            QVERIFY2(piece.size() >= 512, qPrintable(context));
            for (int i = 0; i < header.size(); ++i) {
                if ((i < 44 || i >= 56) && (i < 66 || i >= 70))
                    QVERIFY2(piece[i] == header[i], qPrintable(context));
            }
            const quint32 stated = qFromLittleEndian<quint32>(piece.constData() + 66);
            QVERIFY2(piece.size() == 512 + stated * frameSize, qPrintable(context));
            framesStated += stated;
            frames += piece.mid(512);
            QVERIFY(QFile::remove(name));
        }
        QVERIFY2(framesStated == quint64(held), qPrintable(context));
        QVERIFY2(frames == source.mid(512, int(held * frameSize)), qPrintable(context));
        QCOMPARE(entriesOf(dir->path()), QStringList { QStringLiteral("run.ddb") });
    }
}

QTEST_GUILESS_MAIN(TestPieceWriter)
#include "tst_piecewriter.moc"
