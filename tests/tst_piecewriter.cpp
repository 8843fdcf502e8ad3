// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "piecewriter.h"

#include "faultinjection.h"
#include "piececheck.h"
#include "piecesteps.h"
#include "recording.h"
#include "syntheticrecording.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif
#if defined(Q_OS_UNIX)
#include "childprocess.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#endif

namespace {

// "2 fewer, 3 none": the failed pieces and their reasons, as rows spell them; "left" when a
// temporary file stayed behind, "kept" when it holds the replaced file, changed, and "kept
// another" when someone else's; "stale 5" for an earlier piece the split left.
QString reasonOf(const Ddb::PieceOutcome &outcome)
{
    const char *const reasons[]
            = { "written",    "irregular", "link",    "recording", "protected", "different",
                "unreadable", "disk",      "none",    "fewer",     "late",      "replaced",
                "unread",     "shortened", "altered", "stopped",   "halted" };
    if (outcome.error.cause == System::Cause::ChangedMeanwhile)
        return "changed";
    if (outcome.error.cause == System::Cause::MovedAway)
        return "moved";
    return reasons[int(outcome.failure)];
}

QString leftOf(const System::LeftFile &left)
{
    const char *const kinds[] = { " left", " kept", " kept another" };
    return left.isEmpty() ? QString() : kinds[int(left.holds)];
}

QString describe(const Ddb::SplitOutcome &outcome)
{
    QStringList failures;
    if (outcome.folderError)
        failures << "no folder";
    if (outcome.lock == System::RecordingFolder::Lock::HeldElsewhere)
        failures << "folder busy";
    if (outcome.memoryShort > 0)
        failures << "short of memory";
    if (outcome.buffersShort)
        failures << "no buffers";
    if (outcome.changedBeforeSplit)
        failures << "changed before";
    for (const Ddb::FailedPiece &failed : outcome.failures)
        failures << QString::number(failed.number) + ' ' + reasonOf(failed.outcome)
                        + leftOf(failed.outcome.leftover);
    if (outcome.folderSyncError)
        failures << "folder not synced";
    for (const quint32 number : outcome.stalePieces)
        failures << QString("stale %1").arg(number);
    if (outcome.kept > 0)
        failures << QString("kept %1").arg(outcome.kept);
    return failures.join(", ");
}

// Opens the recording as the window does.
Ddb::Recording load(const QString &path)
{
    Ddb::Recording recording;
    if (recording.open(path) != Ddb::Recording::Opened::Yes)
        qFatal("cannot open %s", qPrintable(path));
    return recording;
}

Ddb::SplitOutcome split(Ddb::Recording &recording, int minutes, qint64 memoryLimit = -1,
                        Ddb::SplitProgress *progress = nullptr)
{
    const Ddb::PiecePlan plan(recording.header(), quint16(minutes), recording.size());
    Ddb::SplitProgress unwatched;
    return Ddb::writePieces(recording, plan, memoryLimit, progress ? *progress : unwatched);
}

Ddb::SplitOutcome split(Ddb::Recording &&recording, int minutes)
{
    return split(recording, minutes);
}

Ddb::SplitOutcome splitFile(const QString &path, int minutes)
{
    return split(load(path), minutes);
}

#if defined(Q_OS_UNIX)
struct stat statusOf(const QString &path)
{
    struct stat status
    { };
    stat(QFile::encodeName(path).constData(), &status);
    return status;
}

mode_t modeOf(const QString &path)
{
    return statusOf(path).st_mode & 0777;
}
#endif

// Where pieces of `source` are planted before a split: a piece description as for
// expectedPiece(), "flip:" before one for that piece with a byte changed past the first I/O
// slice, or "unrelated" (another recording's piece), "short" (piece 2 less a byte), "bytes"
// (anything), "header" (the recording's header, counting no samples).
QByteArray planted(const QByteArray &source, const QString &what)
{
    if (what == "header")
        return withField(source.left(512), 66, 0, 4);
    if (what == "unrelated")
        return expectedPiece(makeRecording(3, 2, 300, "2024-05-06 10:00:01"),
                             "120:120:2024-05-06 10:02:01", 3);
    if (what == "short")
        return expectedPiece(source, "120:120:2024-05-06 10:02:00", 3).chopped(1);
    if (what == "bytes")
        return QByteArray(100000, 'x');
    QByteArray piece
            = expectedPiece(source, what.section("flip:", -1), Ddb::readHeader(source)->channels);
    if (what.startsWith("flip:"))
        piece[(9 << 20) + 1] = char(~piece[(9 << 20) + 1]);
    return piece;
}

#if defined(Q_OS_UNIX)
QStringList leftoverTemporaries(const QString &folder)
{
    return entriesOf(folder).filter(".tranchel-");
}

int openDescriptors()
{
    return entriesOf("/proc/self/fd").size();
}

// Runs a system tool without the preloaded fault wrappers; its first line of output.
std::optional<QString> runTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("LD_PRELOAD");
    tool.setProcessEnvironment(environment);
    tool.start(program, arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit
        || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).section('\n', 0, 0);
}

// A real file system whose times are whole seconds: an exFAT image on a loop device, mounted
// through FUSE, where this machine lets the tests (root, loop devices, exfatprogs and
// exfat-fuse).
class ExfatMount
{
public:
    ~ExfatMount()
    {
        if (!m_folder.isEmpty())
            runTool("umount", { m_folder });
        if (!m_device.isEmpty())
            runTool("losetup", { "-d", m_device });
    }

    bool mountOn(const QString &folder, const QString &image)
    {
        if (geteuid() != 0 || !runTool("truncate", { "-s", "64M", image })
            || !runTool("mkfs.exfat", { image }))
            return false;
        m_device = runTool("losetup", { "--find", "--show", image }).value_or(QString());
        if (m_device.isEmpty() || !runTool("mount.exfat-fuse", { m_device, folder }))
            return false;
        m_folder = folder;
        return true;
    }

private:
    QString m_device;
    QString m_folder;
};
#endif

// What stands under a name, to tell that a split left it alone.
QString snapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + info.symLinkTarget();
    if (info.isDir())
        return "folder of " + entriesOf(path).join(' ');
    if (!info.exists())
        return "nothing";
    if (!info.isFile()) // reading a FIFO would wait for a writer
        return "special file";
    return QStringLiteral("%1 %2")
            .arg(int(info.permissions()))
            .arg(QString::fromLatin1(fileContent(path).toHex()));
}

} // namespace

class TestPieceWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void shouldWriteEveryPieceByteByByte_data();
    void shouldWriteEveryPieceByteByByte();
    void shouldReplaceOnlyEarlierPiecesOfTheRecording_data();
    void shouldReplaceOnlyEarlierPiecesOfTheRecording();
    void shouldLeaveWhatStandsUnderAPieceName_data();
    void shouldLeaveWhatStandsUnderAPieceName();
    void shouldRespectWhatThisUserMayNotDo_data();
    void shouldRespectWhatThisUserMayNotDo();
    void shouldLeaveNothingBehindWhenTheDiskRefuses_data();
    void shouldLeaveNothingBehindWhenTheDiskRefuses();
    void shouldKeepToItsFolderAndItsChecks_data();
    void shouldKeepToItsFolderAndItsChecks();
    void shouldRemoveItsTemporaryFileWhenEnded_data();
    void shouldRemoveItsTemporaryFileWhenEnded();
    void shouldRestoreTheSignalActions();
    void shouldWriteIntoOneFolderAtATime();
    void holdTheFolderForAnotherProcess();
    void shouldCountPiecesInAFolderOfMemory_data();
    void shouldCountPiecesInAFolderOfMemory();
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
    sourcePath = dir->filePath("run.ddb");
}

void TestPieceWriter::shouldWriteEveryPieceByteByByte_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QStringList>("pieces"); // an empty entry: that piece is not written
    QTest::addColumn<QString>("failures");

    const QString ten = "2024-05-06 10:00:00";
    const QByteArray threeChannels = threePieceRecording();
    const QStringList nothing { QString(), QString(), QString() };

    QTest::newRow("300 frames at 2 Hz in minutes") << threeChannels << 1 << threePieces() << "";
    QTest::newRow("no channels gives header-only pieces")
            << withField(makeRecording(0, 2, 0, ten), 66, 300, 4) << 1 << threePieces() << "";
    QTest::newRow("100 frames of which the header counts 80")
            << withField(makeRecording(3, 2, 100, ten), 66, 80, 4) << 1
            << QStringList { "0:80:2024-05-06 10:00:40" } << "";
    QTest::newRow("no samples, no pieces")
            << withField(threeChannels, 66, 0, 4) << 1 << QStringList() << "";
    // Damaged recordings: a piece holds the whole frames that exist, and says so.
    QTest::newRow("data area short by whole frames")
            << withField(makeRecording(3, 2, 290, ten), 66, 300, 4) << 1
            << QStringList { threePieces().at(0), threePieces().at(1),
                             "240:50:2024-05-06 10:02:25" }
            << "3 fewer";
    QTest::newRow("data area short by part of a frame")
            << threeChannels.left(threeChannels.size() - 5) << 1
            << QStringList { threePieces().at(0), threePieces().at(1),
                             "240:59:2024-05-06 10:02:29" }
            << "3 fewer";
    QTest::newRow("data area ending inside piece 2")
            << withField(makeRecording(3, 2, 150, ten), 66, 300, 4) << 1
            << QStringList { threePieces().at(0), "120:30:2024-05-06 10:01:15", QString() }
            << "2 fewer, 3 none";
    QTest::newRow("data area ending exactly at a piece boundary")
            << withField(makeRecording(3, 2, 240, ten), 66, 300, 4) << 1
            << QStringList { threePieces().at(0), threePieces().at(1), QString() } << "3 none";
    QTest::newRow("empty data area") << withField(makeRecording(3, 2, 0, ten), 66, 300, 4) << 1
                                     << nothing << "1 none, 2 none, 3 none";
    QTest::newRow("300 bytes claiming 10 frames")
            << withField(makeRecording(3, 2, 100, ten).left(300), 66, 10, 4) << 1
            << QStringList { QString() } << "1 none";
    QTest::newRow("300 bytes without channels")
            << withField(makeRecording(0, 2, 0, ten).left(300), 66, 300, 4) << 1 << nothing
            << "1 none, 2 none, 3 none";
    QTest::newRow("pieces larger than one write slice")
            << makeRecording(64, 1000, 80000, ten) << 1
            << QStringList { "0:60000:2024-05-06 10:01:00", "60000:20000:2024-05-06 10:01:20" }
            << "";
    // 16 bits hold the years up to 67535: a later stamp would wrap to 2000.
    QByteArray lastYear = makeRecording(3, 2, 300, "2000-12-31 23:58:30");
    lastYear = withField(lastYear, 44, 65535, 2);
    QTest::newRow("stamps past the year 67535")
            << lastYear << 1 << QStringList { "0:120:67535-12-31 23:59:30", QString(), QString() }
            << "2 late, 3 late";
}

void TestPieceWriter::shouldWriteEveryPieceByteByByte()
{
    QFETCH(QByteArray, source);
    QFETCH(int, minutes);
    QFETCH(QStringList, pieces);
    QFETCH(QString, failures);

    QVERIFY(writeContent(sourcePath, source));
    const Ddb::SplitOutcome outcome = splitFile(sourcePath, minutes);
    QCOMPARE(describe(outcome), failures);
    QStringList names { "run.ddb" };
    const int channels = Ddb::readHeader(source)->channels;
    if (failures.contains("late"))
        QCOMPARE(Ddb::readHeader(source)->year, 67535);
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

void TestPieceWriter::shouldReplaceOnlyEarlierPiecesOfTheRecording_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QStringList>("earlier"); // planted under run_1.ddb, run_2.ddb, ...
    QTest::addColumn<QString>("failures");
    QTest::addColumn<QStringList>("pieces"); // what 1-minute pieces hold where they are written
    const auto row = [](const char *name, const QByteArray &source, const QStringList &earlier,
                        const char *failures, const QStringList &pieces = threePieces()) {
        QTest::newRow(name) << source << earlier << QString(failures) << pieces;
    };

    const QByteArray three = threePieceRecording();
    row("pieces of an earlier split into two minutes", three,
        { "0:240:2024-05-06 10:02:00", "240:60:2024-05-06 10:02:30" }, "");
    row("an earlier piece of any length", three, { "", "", "60:30:2024-05-06 10:00:45" }, "");
    row("the same pieces, kept as they are", three, threePieces(), "kept 3");
    row("an earlier piece cut short by the recording's end",
        withField(makeRecording(3, 2, 150, "2024-05-06 10:00:00"), 66, 300, 4),
        { "0:150:2024-05-06 10:01:15" }, "2 fewer, 3 none",
        { threePieces().at(0), "120:30:2024-05-06 10:01:15" });
    row("pieces of a recording without channels",
        withField(makeRecording(0, 2, 0, "2024-05-06 10:00:00"), 66, 300, 4),
        { "0:240:2024-05-06 10:02:00", "240:60:2024-05-06 10:02:30" }, "");
    const QByteArray large = makeRecording(64, 1000, 80000, "2024-05-06 10:00:00");
    const QStringList largePieces { "0:60000:2024-05-06 10:01:00",
                                    "60000:20000:2024-05-06 10:01:20" };
    row("an earlier piece larger than an I/O slice", large, { "0:80000:2024-05-06 10:01:20" }, "",
        largePieces);
    row("an earlier piece that differs past the first I/O slice", large,
        { "flip:0:80000:2024-05-06 10:01:20" }, "1 different", largePieces);
    row("another recording named run_2.ddb", three, { "", "unrelated" }, "2 different");
    row("an earlier piece less its last byte", three, { "", "short" }, "2 different");
    row("arbitrary bytes", three, { "", "bytes" }, "2 different");
    row("the recording's header counting no samples", three, { "", "header" }, "2 different");
    row("an earlier piece only its group may write, as root", three,
        { "", "0460:60:60:2024-05-06 10:01:00" }, "");
    // Earlier pieces the split leaves: above its last while names are taken, and its own.
    row("an earlier piece above the last", three, { "", "", "", "225:75:2024-05-06 10:02:30" },
        "stale 4");
    row("another file among them is not named", three,
        { "", "", "", "bytes", "240:60:2024-05-06 10:02:30" }, "stale 5");
    row("a free name does not end the search", three,
        { "", "", "", "", "240:60:2024-05-06 10:02:30" }, "stale 5");
    row("a write-protected earlier piece is kept and named", three,
        { "", "ro:120:120:2024-05-06 10:02:00" }, "2 protected, stale 2");
}

void TestPieceWriter::shouldReplaceOnlyEarlierPiecesOfTheRecording()
{
    QFETCH(QByteArray, source);
    QFETCH(QStringList, earlier);
    QFETCH(QString, failures);
    QFETCH(QStringList, pieces);

    QVERIFY(writeContent(sourcePath, source));
    QHash<QString, QByteArray> before;
    [[maybe_unused]] int plantedMode = 0604; // "0460:" before a piece: that mode
    for (int i = 0; i < earlier.size(); ++i) {
        const QString name = dir->filePath(QString("run_%1.ddb").arg(i + 1));
        if (earlier.at(i).isEmpty())
            continue;
        const bool readOnly = earlier.at(i).startsWith("ro:");
        const bool groupOnly = earlier.at(i).startsWith("0460:");
        QVERIFY(writeContent(name,
                             planted(source,
                                     earlier.at(i).mid(readOnly            ? 3
                                                               : groupOnly ? 5
                                                                           : 0))));
        if (readOnly)
            QVERIFY(QFile::setPermissions(name, QFile::ReadOwner));
#if defined(Q_OS_UNIX)
        if (groupOnly && geteuid() != 0)
            QSKIP("needs root, whom only the write bits stop");
        if (groupOnly && System::goesByPath())
            QSKIP("QSaveFile gives the piece's owner the write permission");
        plantedMode = groupOnly ? 0460 : plantedMode;
        if (!readOnly)
            QCOMPARE(chmod(QFile::encodeName(name).constData(), mode_t(plantedMode)), 0);
#endif
        before.insert(name, fileContent(name));
    }
#if defined(Q_OS_UNIX)
    const mode_t umaskNow = umask(022);
    umask(umaskNow);
    // Which file is there, and when it last changed: a kept piece keeps all three.
    const auto fingerprint = [](const QString &name) {
        const struct stat status = statusOf(name);
        return QString("%1 %2.%3 %4.%5")
                .arg(status.st_ino)
                .arg(status.st_mtim.tv_sec)
                .arg(status.st_mtim.tv_nsec)
                .arg(status.st_ctim.tv_sec)
                .arg(status.st_ctim.tv_nsec);
    };
    QHash<QString, QString> fingerprints;
    for (auto planted = before.cbegin(); planted != before.cend(); ++planted)
        fingerprints.insert(planted.key(), fingerprint(planted.key()));
#endif

    QCOMPARE(describe(splitFile(sourcePath, 1)), failures);
    for (int number = 1; number <= pieces.size(); ++number) {
        const QString name = dir->filePath(QString("run_%1.ddb").arg(number));
        if (failures.contains(QString("%1 ").arg(number))
            && !failures.contains(QString("%1 fewer").arg(number))) {
            QCOMPARE(fileContent(name), before.value(name));
            continue;
        }
        QCOMPARE(fileContent(name),
                 expectedPiece(source, pieces.at(number - 1), Ddb::readHeader(source)->channels));
#if defined(Q_OS_UNIX)
        QCOMPARE(modeOf(name),
                 before.contains(name) ? mode_t(plantedMode) : mode_t(0666 & ~umaskNow));
        if (failures.contains("kept"))
            QCOMPARE(fingerprint(name), fingerprints.value(name));
#endif
    }
}

void TestPieceWriter::shouldLeaveWhatStandsUnderAPieceName_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("blocked");
    QTest::addColumn<QString>("failure");

    QTest::newRow("folder") << "folder" << 2 << "2 irregular";
    QTest::newRow("FIFO") << "fifo" << 2 << "2 irregular";
    QTest::newRow("file without write bits") << "protected" << 2 << "2 protected";
    QTest::newRow("hard link of the recording") << "hard link" << 2 << "2 recording";
    QTest::newRow("recording opened through run.ddb -> run_1.ddb")
            << "opened through link" << 1 << "1 recording";
    QTest::newRow("link to the recording") << "run.ddb" << 2 << "2 link";
    QTest::newRow("dangling link to a new file elsewhere") << "../outside/new" << 2 << "2 link";
    QTest::newRow("chain of 45 links to the recording") << "chain" << 2 << "2 link";
}

void TestPieceWriter::shouldLeaveWhatStandsUnderAPieceName()
{
    QFETCH(QString, obstacle);
    QFETCH(int, blocked);
    QFETCH(QString, failure);
#if defined(Q_OS_WIN)
    const QStringList windowsRows { "folder", "protected", "hard link" };
    if (!windowsRows.contains(obstacle))
        QSKIP("no FIFOs here, and Wine cannot create symbolic links (CreateSymbolicLinkW "
              "creates nothing)");
#endif

    const QByteArray source = threePieceRecording();
    QVERIFY(writeContent(sourcePath, source));
    QDir folder(dir->path());
    QVERIFY(folder.mkpath("outside"));
    QVERIFY(writeContent(dir->filePath("outside/notes.txt"), "notes"));
    QVERIFY(folder.mkdir("work"));
    // The recording's folder is "work", so that "outside" is another folder.
    const QString work = dir->filePath("work");
    const QString path = work + "/run.ddb";
    QVERIFY(QFile::rename(sourcePath, path));
    const QString name = work + QStringLiteral("/run_%1.ddb").arg(blocked);
    [[maybe_unused]] const QByteArray nameBytes = QFile::encodeName(name);
    if (obstacle == "folder") {
        QVERIFY(QDir(work).mkdir("run_2.ddb"));
    } else if (obstacle == "protected") {
        QVERIFY(writeContent(name, "old"));
        QVERIFY(QFile::setPermissions(name,
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
#if defined(Q_OS_WIN)
    } else if (obstacle == "hard link") {
        QVERIFY(CreateHardLinkW(reinterpret_cast<const wchar_t *>(name.utf16()),
                                reinterpret_cast<const wchar_t *>(path.utf16()), nullptr));
#else
    } else if (obstacle == "fifo") {
        QCOMPARE(mkfifo(nameBytes.constData(), 0600), 0);
    } else if (obstacle == "hard link") {
        QCOMPARE(link(QFile::encodeName(path).constData(), nameBytes.constData()), 0);
    } else if (obstacle == "opened through link") {
        QVERIFY(QFile::rename(path, name));
        QVERIFY(QFile::link("run_1.ddb", path));
    } else if (obstacle == "chain") {
        for (int i = 0; i < 45; ++i)
            QVERIFY(QFile::link(i == 0 ? "run.ddb" : QStringLiteral("l%1").arg(i),
                                work + QStringLiteral("/l%1").arg(i + 1)));
        QVERIFY(QFile::link("l45", name));
    } else {
        QCOMPARE(symlink(obstacle.toUtf8().constData(), nameBytes.constData()), 0);
#endif
    }
    const QStringList entriesBefore = entriesOf(work);
    const QString outsideBefore
            = snapshot(dir->filePath("outside")) + snapshot(dir->filePath("outside/notes.txt"));
    const QString blockedBefore = snapshot(name);

    const Ddb::SplitOutcome outcome = splitFile(path, 1);
    QCOMPARE(describe(outcome), failure);
    QCOMPARE(snapshot(name), blockedBefore);
    QCOMPARE(snapshot(dir->filePath("outside")) + snapshot(dir->filePath("outside/notes.txt")),
             outsideBefore);
    QCOMPARE(fileContent(path), source);
    QStringList entries = entriesBefore;
    for (int number = 1; number <= 3; ++number) {
        const QString piece = QStringLiteral("run_%1.ddb").arg(number);
        if (number == blocked)
            continue;
        entries << piece;
        QCOMPARE(fileContent(work + '/' + piece),
                 expectedPiece(source, threePieces().at(number - 1), 3));
    }
    entries.removeDuplicates();
    entries.sort();
    QCOMPARE(entriesOf(work), entries);
}

void TestPieceWriter::shouldRespectWhatThisUserMayNotDo_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("pieceMode"); // of an earlier piece 2, another user's in the group
    QTest::addColumn<QString>("failures");
    QTest::newRow("another user's 0640 file in a group's folder")
            << 0770 << 0640 << "2 protected, stale 2";
    QTest::newRow("a folder this user may enter but not read") << 0730 << 0640 << "no folder";
    QTest::newRow("a piece the group shares, replaced by another member: its group kept")
            << 0770 << 0660 << "";
}

void TestPieceWriter::shouldRespectWhatThisUserMayNotDo()
{
#if defined(Q_OS_UNIX)
    QFETCH(int, folderMode);
    QFETCH(int, pieceMode);
    QFETCH(QString, failures);
    if (geteuid() != 0)
        QSKIP("needs root, to act as two other users");
    if (System::goesByPath() && failures != "2 protected, stale 2")
        QSKIP("the portable writer goes by path, holds no folder and keeps no group");
    // Ids no one on the machine uses: two users of one group, the splitter's own group apart.
    const uid_t splitter = 54321;
    const uid_t other = 54322;
    const gid_t group = 54320;
    const gid_t splittersOwn = 54323;
    const QByteArray source = threePieceRecording();
    const QString work = dir->filePath("work");
    QVERIFY(QDir(dir->path()).mkdir("work"));
    const QString path = work + "/run.ddb";
    const QString second = work + "/run_2.ddb";
    QVERIFY(writeContent(path, source));
    // An earlier piece by content, of a split into half minutes.
    const QByteArray earlier = planted(source, "60:60:2024-05-06 10:01:00");
    QVERIFY(writeContent(second, earlier));
    QCOMPARE(chown(QFile::encodeName(second).constData(), other, group), 0);
    QCOMPARE(chmod(QFile::encodeName(second).constData(), mode_t(pieceMode)), 0);
    QCOMPARE(chmod(QFile::encodeName(dir->path()).constData(), 0711), 0);
    QCOMPARE(chown(QFile::encodeName(work).constData(), 0, group), 0);
    QCOMPARE(chmod(QFile::encodeName(work).constData(), mode_t(folderMode)), 0);

    const QString said = inChild([&] {
        QByteArray said = "cannot become the user";
        Ddb::Recording recording;
        if (setgroups(1, &group) == 0 && setresgid(splittersOwn, splittersOwn, splittersOwn) == 0
            && setresuid(splitter, splitter, splitter) == 0)
            said = recording.open(path) == Ddb::Recording::Opened::Yes
                    ? describe(split(recording, 1)).toUtf8()
                    : "not loaded";
        return said;
    });
    QCOMPARE(said, failures);
    QCOMPARE(fileContent(second),
             failures.isEmpty() ? expectedPiece(source, threePieces().at(1), 3) : earlier);
    QCOMPARE(entriesOf(work).filter("run_").size(), failures == "no folder" ? 1 : 3);
    QCOMPARE(statusOf(second).st_gid, group);
    QCOMPARE(modeOf(second), mode_t(pieceMode));
#else
    QSKIP("users, groups and fork() are POSIX's");
#endif
}

void TestPieceWriter::shouldLeaveNothingBehindWhenTheDiskRefuses_data()
{
    QTest::addColumn<QStringList>("faults"); // empty: a file size limit of 1500 bytes
    QTest::addColumn<QString>("failures");

    const QString all = "1 disk, 2 disk, 3 disk, stale 3";
    const QString named = "shim:openat/unnamed:EOPNOTSUPP";
    QTest::newRow("file size limit") << QStringList() << "1 disk, 2 disk";
    QTest::newRow("flush fails") << QStringList { "fiu:posix/io/sync/fdatasync:EIO" } << all;
    QTest::newRow("folder flush fails")
            << QStringList { "fiu:posix/io/sync/fsync:EIO" } << "folder not synced";
    QTest::newRow("write fails") << QStringList { "fiu:posix/io/rw/write:ENOSPC" } << all;
    QTest::newRow("writes cut short") << QStringList { "fiu:posix/io/rw/write/reduce" } << "";
    QTest::newRow("close fails") << QStringList { "fiu:posix/io/oc/close:EIO" } << all;
    QTest::newRow("creating fails") << QStringList { "shim:openat/unnamed:EACCES" } << all;
    QTest::newRow("linking an unnamed piece fails") << QStringList { "shim:linkat:EACCES" } << all;
    QTest::newRow("no unnamed files on this file system") << QStringList { named } << "";
    QTest::newRow("no unnamed files, as some kernels say with EISDIR")
            << QStringList { "shim:openat/unnamed:EISDIR" } << "";
    QTest::newRow("renaming a named piece fails")
            << QStringList { named, "shim:renameat2:EACCES", "shim:renameat:EACCES" } << all;
    QTest::newRow("no exclusive rename: linked, then the temporary name removed")
            << QStringList { named, "shim:renameat2:EINVAL" } << "";
    QTest::newRow("no exclusive rename nor hard links, as on FAT through FUSE")
            << QStringList { named, "shim:renameat2:ENOSYS", "shim:linkat:EPERM" } << "";
    QTest::newRow("a temporary file that cannot be removed")
            << QStringList { named, "fiu:posix/io/rw/write:ENOSPC", "shim:unlinkat:EPERM" }
            << "1 disk left, 2 disk left, 3 disk left, stale 3";
    QTest::newRow("written, but the temporary name cannot be removed")
            << QStringList { named, "shim:renameat2:EINVAL", "shim:unlinkat:EPERM" }
            << "1 written left, 2 written left";
    QTest::newRow("no permissions on this file system")
            << QStringList { "shim:fchmod:ENOSYS", "shim:fchown:EPERM" } << "";
    QTest::newRow("setting the permissions fails")
            << QStringList { "shim:fchmod:EIO" } << "3 disk, stale 3";
    QTest::newRow("reading fails, the recording's frames first")
            << QStringList { "fiu:posix/io/rw/pread:EIO" } << "1 unread, 2 stopped, 3 stopped";
    // "stop:" a shim point and which call of it: asked to stop right before that call.
    QTest::newRow("asked to stop as piece 2 is created: it is left unwritten")
            << QStringList { "stop:openat/unnamed:2" } << "2 halted, 3 halted, stale 3";
    QTest::newRow("asked to stop as a named piece 2 is created: its file is removed")
            << QStringList { named, "stop:openat/create:2" } << "2 halted, 3 halted, stale 3";
    QTest::newRow("asked to stop as an earlier piece is swapped: its check still follows")
            << QStringList { "stop:renameat2:1" } << "";
}

void TestPieceWriter::shouldLeaveNothingBehindWhenTheDiskRefuses()
{
#if defined(Q_OS_UNIX)
    QFETCH(QStringList, faults);
    QFETCH(QString, failures);

    static FaultInjection injection;
    if (!faults.isEmpty())
        TRANCHEL_REQUIRE_FAULTS(injection);
    // QSaveFile ignores failed flushes and closes, and names files its own way.
    if (System::goesByPath() && !faults.isEmpty()
        && !QByteArray(QTest::currentDataTag()).startsWith("write"))
        QSKIP("beyond what the portable writer promises");
    const QByteArray source = threePieceRecording();
    QVERIFY(writeContent(sourcePath, source));
    // An earlier piece, owned by someone else with other permissions, to be replaced.
    const QString third = dir->filePath("run_3.ddb");
    const QByteArray earlier = planted(source, "60:30:2024-05-06 10:00:45");
    QVERIFY(writeContent(third, earlier));
    QCOMPARE(chmod(QFile::encodeName(third).constData(), 0604), 0);
    if (geteuid() == 0)
        QCOMPARE(chown(QFile::encodeName(third).constData(), 54322, 54320), 0);
    Ddb::Recording loaded = load(sourcePath);
    const int descriptors = openDescriptors();

    rlimit limit {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    if (faults.isEmpty()) {
        // No signal setting of the test's own: the writer's must keep the program alive.
        limit.rlim_cur = 1500;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    Ddb::SplitProgress progress;
    for (const QString &fault : faults) {
        if (fault.startsWith("stop:"))
            injection.hookBefore(qPrintable(fault.section(':', 1, 1)),
                                 fault.section(':', 2).toInt(),
                                 [&progress](const QByteArray &) { progress.askToStop(); });
        else
            injection.enable(fault);
    }
    const Ddb::SplitOutcome outcome = split(loaded, 1, -1, &progress);
    if (faults.isEmpty())
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    else
        injection.disable(faults);

    QCOMPARE(describe(outcome), failures);
    // libfiu's failed close() keeps the descriptor, which the system's never does.
    const QString injected = faults.join(' ');
    if (!injected.contains("close"))
        QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(fileContent(sourcePath), source);
    QStringList entries { "run.ddb", "run_3.ddb" };
    for (int number = 1; number <= 3; ++number) {
        const QString piece = QStringLiteral("run_%1.ddb").arg(number);
        if (failures.contains(QRegularExpression(
                    QStringLiteral("%1 (disk|unread|stopped|halted)").arg(number)))) {
            if (number == 3)
                QCOMPARE(fileContent(third), earlier);
            continue;
        }
        entries << piece;
        QCOMPARE(fileContent(dir->filePath(piece)),
                 expectedPiece(source, threePieces().at(number - 1), 3));
    }
    if (!injected.contains("fchmod:ENOSYS"))
        QCOMPARE(modeOf(third), mode_t(0604));
    if (geteuid() == 0 && !injected.contains("fchown") && !System::goesByPath())
        QCOMPARE(QString("%1:%2").arg(statusOf(third).st_uid).arg(statusOf(third).st_gid),
                 "54322:54320");
    const QStringList left = leftoverTemporaries(dir->path());
    QCOMPARE(left.size(), failures.count("left"));
    entries << left;
    entries.removeDuplicates();
    entries.sort();
    QCOMPARE(entriesOf(dir->path()), entries);
#else
    QSKIP("file size limits and preloaded fault injection are POSIX's");
#endif
}

void TestPieceWriter::shouldKeepToItsFolderAndItsChecks_data()
{
    QTest::addColumn<QString>("fault"); // made before loading, or none
    QTest::addColumn<QByteArray>("call"); // the hook runs right before its nth call
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("change"); // what the hook does
    QTest::addColumn<QString>("failures");

    const QString named = "shim:openat/unnamed:EOPNOTSUPP";
    QTest::newRow("the folder swapped for a link between pieces")
            << QString() << QByteArray("openat/unnamed") << 2 << "swap folder"
            << "";
    QTest::newRow("a file planted at a temporary name before it is created")
            << named << QByteArray("openat/create") << 1 << "plant temporary"
            << "";
    QTest::newRow("a file planted at a new name before the piece is linked")
            << QString() << QByteArray("linkat") << 2 << "plant file"
            << "2 changed";
    QTest::newRow("a link planted at a new name before the piece is renamed")
            << named << QByteArray("renameat2") << 2 << "plant link"
            << "2 changed";
    QTest::newRow("an earlier piece made read-only before it is replaced")
            << QString() << QByteArray("linkat") << 2 << "protect earlier"
            << "2 protected, stale 2";
    QTest::newRow("an earlier piece rewritten before it is replaced")
            << QString() << QByteArray("linkat") << 2 << "rewrite earlier"
            << "2 changed";
    QTest::newRow("only the change time of an earlier piece moved before it is replaced")
            << QString() << QByteArray("linkat") << 2 << "touch earlier"
            << "2 changed, stale 2";
    QTest::newRow("an earlier piece rewritten as the piece is swapped in")
            << QString() << QByteArray("renameat2") << 1 << "rewrite earlier"
            << "2 changed";
    QTest::newRow("an earlier piece rewritten, same size, where times tell nothing")
            << "shim:coarse" << QByteArray("openat/unnamed") << 2 << "rewrite earlier"
            << "2 changed";
    QTest::newRow("an earlier piece rewritten, same size, on exFAT")
            << "mount:exfat" << QByteArray("openat/create") << 2 << "rewrite earlier"
            << "2 changed";
    QTest::newRow("an earlier piece rewritten, same size, where times are whole seconds")
            << "shim:coarse-times" << QByteArray("openat/unnamed") << 2 << "rewrite earlier"
            << "2 changed";
    QTest::newRow("an earlier piece grown, its time put back, as the piece is swapped in")
            << QString() << QByteArray("renameat2") << 1 << "grow earlier"
            << "2 changed";
    QTest::newRow("the recording changed during the split")
            << QString() << QByteArray("openat/unnamed") << 2 << "rewrite recording"
            << "2 altered, 3 stopped";
    QTest::newRow("the recording cut short during the split")
            << QString() << QByteArray("openat/unnamed") << 2 << "truncate recording"
            << "2 shortened, 3 stopped";
    QTest::newRow("a read of an earlier piece that fails")
            << QString() << QByteArray("openat") << 1 << "fail reading earlier"
            << "2 unreadable, stale 2";
    QTest::newRow("a link to an earlier piece swapped in right before it is read")
            << QString() << QByteArray("openat") << 1 << "link earlier"
            << "2 unreadable";
    QTest::newRow("an earlier piece moved away as the piece is swapped in")
            << QString() << QByteArray("renameat2") << 1 << "move earlier"
            << "2 moved";
    QTest::newRow("a piece replaced by another file after it was written")
            << QString() << QByteArray("linkat") << 2 << "replace first"
            << "1 replaced";
    QTest::newRow("a changed earlier piece kept where it cannot be swapped back")
            << QString() << QByteArray("renameat2") << 1 << "rewrite earlier, fail swap"
            << "2 changed kept";
    QTest::newRow("a file moved onto the piece's name before the swap back is kept")
            << QString() << QByteArray("renameat2") << 1 << "rewrite earlier, move onto"
            << "2 changed kept another";
}

void TestPieceWriter::shouldKeepToItsFolderAndItsChecks()
{
#if defined(Q_OS_UNIX)
    QFETCH(QString, fault);
    QFETCH(QByteArray, call);
    QFETCH(int, nth);
    QFETCH(QString, change);
    QFETCH(QString, failures);

    static FaultInjection injection;
    TRANCHEL_REQUIRE_FAULTS(injection);
    if (System::goesByPath())
        QSKIP("beyond what the portable writer promises");
    const QByteArray source = threePieceRecording();
    QDir top(dir->path());
    QVERIFY(top.mkdir("work") && top.mkdir("other"));
    const QString work = dir->filePath("work");
    ExfatMount exfat;
    if (fault == "mount:exfat" && !exfat.mountOn(work, dir->filePath("exfat.img")))
        QSKIP("no exFAT file system can be mounted here");
    const QString second = work + "/run_2.ddb";
    QVERIFY(writeContent(work + "/run.ddb", source));
    if (change.contains("earlier"))
        QVERIFY(writeContent(second, planted(source, "240:60:2024-05-06 10:02:30")));
    if (fault.startsWith("shim:"))
        injection.enable(fault);
    Ddb::Recording loaded = load(work + "/run.ddb");
    const QString moved = dir->filePath("moved");
    const QString other = dir->filePath("other.ddb");
    QVERIFY(writeContent(other, "other"));
    QString plantedName;
    bool swappingBack = false;
    injection.hookBefore(call.constData(), nth, [&](const QByteArray &name) {
        const QByteArray secondName = QFile::encodeName(second);
        if (swappingBack) {
            QCOMPARE(::rename(QFile::encodeName(other).constData(), secondName.constData()), 0);
        } else if (change.startsWith("rewrite earlier,")) {
            QFile file(second);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write("x", 1) == 1);
            // Found changed after the swap; then the swap back fails, or comes upon another file.
            if (change.endsWith("fail swap"))
                injection.enable("shim:renameat2:EIO:once");
            swappingBack = change.endsWith("move onto");
            if (swappingBack)
                injection.hookAgain("renameat2", 1);
        } else if (change == "grow earlier") {
            const struct stat status = statusOf(second);
            QFile file(second);
            QVERIFY(file.open(QIODevice::Append) && file.write("x", 1) == 1);
            file.close();
            const timespec times[] = { status.st_atim, status.st_mtim };
            QCOMPARE(utimensat(AT_FDCWD, secondName.constData(), times, 0), 0);
        } else if (change == "rewrite recording") {
            QFile recording(work + "/run.ddb");
            QVERIFY(recording.open(QIODevice::ReadWrite) && recording.seek(3000)
                    && recording.write("x", 1) == 1);
        } else if (change == "truncate recording") {
            QVERIFY(QFile::resize(work + "/run.ddb", 512 + 150 * 12));
        } else if (change == "fail reading earlier") {
            injection.enable("fiu:posix/io/rw/pread:EIO:once");
        } else if (change == "link earlier") {
            QVERIFY(QFile::rename(second, moved) && QFile::link(moved, second));
        } else if (change == "move earlier") {
            QVERIFY(QFile::rename(second, moved));
        } else if (change == "replace first") {
            const QByteArray first = QFile::encodeName(work + "/run_1.ddb");
            QCOMPARE(::rename(QFile::encodeName(other).constData(), first.constData()), 0);
        } else if (change == "swap folder") {
            QVERIFY(QFile::rename(work, moved) && QFile::link(dir->filePath("other"), work));
        } else if (change == "plant temporary") {
            plantedName = QFile::decodeName(name);
            QVERIFY(writeContent(work + '/' + plantedName, "planted"));
        } else if (change == "plant file") {
            QVERIFY(writeContent(second, "planted"));
        } else if (change == "plant link") {
            QVERIFY(QFile::link("run.ddb", second));
        } else if (change == "protect earlier") {
            QCOMPARE(chmod(secondName.constData(), 0444), 0);
        } else if (change == "touch earlier") {
            QCOMPARE(chmod(secondName.constData(), modeOf(second)), 0);
        } else {
            QFile file(second);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write("x", 1) == 1);
        }
    });
    const Ddb::SplitOutcome outcome = split(loaded, 1);
    const QByteArray secondNow = fileContent(second);
    const bool wasLink = QFileInfo(second).isSymLink();
    injection.disable({ fault });

    QCOMPARE(describe(outcome), failures);
    if (change.endsWith("recording"))
        QVERIFY(!QFileInfo::exists(work + "/run_2.ddb"));
    const QString folder = change == "swap folder" ? moved : work;
    QCOMPARE(entriesOf(dir->filePath("other")), QStringList());
    // What a hook planted there, or what the split kept: someone's file, never removed.
    const QStringList left = leftoverTemporaries(folder);
    QCOMPARE(left.size(), plantedName.isEmpty() && !failures.contains("kept") ? 0 : 1);
    const QByteArray kept = left.isEmpty() ? QByteArray() : fileContent(folder + '/' + left.at(0));
    if (!plantedName.isEmpty())
        QCOMPARE(kept, "planted");
    if (failures.contains("kept"))
        QCOMPARE(kept.left(1), failures.endsWith("another") ? "o" : "x");
    for (int number = 1; number <= 3; ++number) {
        const QString piece = folder + QString("/run_%1.ddb").arg(number);
        if (!failures.contains(QString("%1 ").arg(number)))
            QCOMPARE(fileContent(piece), expectedPiece(source, threePieces().at(number - 1), 3));
    }
    if (change == "plant file" || change == "replace first")
        QCOMPARE(fileContent(work + (change == "plant file" ? "/run_2.ddb" : "/run_1.ddb")),
                 QByteArray(change == "plant file" ? "planted" : "other"));
    QCOMPARE(wasLink, change == "plant link" || change == "link earlier");
    if (change == "protect earlier" || change == "touch earlier")
        QCOMPARE(secondNow, planted(source, "240:60:2024-05-06 10:02:30"));
    if (change == "rewrite earlier")
        QCOMPARE(secondNow.at(0), 'x');
#else
    QSKIP("preloaded fault injection is POSIX's");
#endif
}

void TestPieceWriter::shouldRemoveItsTemporaryFileWhenEnded_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("swapped"); // ended after an earlier piece, changed, was swapped out
    QTest::newRow("SIGTERM, as at logout") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, as by Ctrl+C") << int(SIGINT) << false;
#if defined(SIGHUP)
    QTest::newRow("SIGHUP, as when its terminal closes") << int(SIGHUP) << false;
#endif
    QTest::newRow("SIGTERM while a changed earlier piece stands under the temporary name")
            << int(SIGTERM) << true;
}

void TestPieceWriter::shouldRemoveItsTemporaryFileWhenEnded()
{
#if defined(Q_OS_UNIX)
    QFETCH(int, signalNumber);
    QFETCH(bool, swapped);
    static FaultInjection injection;
    TRANCHEL_REQUIRE_FAULTS(injection);
    if (System::goesByPath())
        QSKIP("beyond what the portable writer promises");
    const QByteArray source = threePieceRecording();
    QVERIFY(writeContent(sourcePath, source));
    const QString first = dir->filePath("run_1.ddb");
    if (swapped) // the first piece of a split into two minutes
        QVERIFY(writeContent(first, planted(source, "0:240:2024-05-06 10:02:00")));
    // Ended while its named temporary file is complete but not renamed; or after the swap
    // that put it in place of an earlier piece, found changed, before the swap back.
    const QString ended = inChild([&] {
        injection.enable("shim:openat/unnamed:EOPNOTSUPP");
        injection.hookBefore("renameat2", 1, [&](const QByteArray &) {
            if (!swapped)
                raise(signalNumber);
            QFile earlier(first);
            QVERIFY(earlier.open(QIODevice::ReadWrite) && earlier.write("x", 1) == 1);
            swapped = false;
            injection.hookAgain("renameat2", 1);
        });
        splitFile(sourcePath, 1);
        return QByteArray("not ended");
    });
    QCOMPARE(ended, QString("killed by signal %1").arg(signalNumber));
    const QStringList entries = entriesOf(dir->path());
    QCOMPARE(entries.size(), swapped ? 3 : 1);
    if (swapped)
        QCOMPARE(fileContent(dir->filePath(entries.filter(".tranchel-").value(0))).left(1), "x");
#else
    QSKIP("signals and fork() are POSIX's");
#endif
}

// What the program had set for these signals is its own again once a split ends.
void TestPieceWriter::shouldRestoreTheSignalActions()
{
#if defined(Q_OS_UNIX)
    struct sigaction own
    { };
    own.sa_handler = [](int) {};
    for (const int signalNumber : { SIGXFSZ, SIGINT })
        QCOMPARE(sigaction(signalNumber, &own, nullptr), 0);
    QVERIFY(writeContent(sourcePath, threePieceRecording()));
    QCOMPARE(describe(splitFile(sourcePath, 1)), "");
    for (const int signalNumber : { SIGXFSZ, SIGINT }) {
        struct sigaction now
        { };
        QCOMPARE(sigaction(signalNumber, nullptr, &now), 0);
        QVERIFY(now.sa_handler == own.sa_handler);
        signal(signalNumber, SIG_DFL);
    }
#else
    QSKIP("signal actions are POSIX's");
#endif
}

// Another process splits into the folder; meanwhile the split of another recording in the
// same folder is refused. Once that split is done, the other process can split there again.
void TestPieceWriter::shouldWriteIntoOneFolderAtATime()
{
    QVERIFY(writeContent(sourcePath, threePieceRecording()));
    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TRANCHEL_HOLD_FOLDER", sourcePath);
    other.setProcessEnvironment(environment);
    const auto holdElsewhere = [&] {
        other.start(QCoreApplication::applicationFilePath(), { "holdTheFolderForAnotherProcess" });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(sourcePath + ".held"), 30000);
    };
    holdElsewhere();
    const QString otherPath = dir->filePath("other.ddb");
    QVERIFY(writeContent(otherPath, threePieceRecording()));
    Ddb::Recording copy = load(otherPath);
    QCOMPARE(describe(split(copy, 1)), "folder busy");
    QVERIFY(QFile::remove(sourcePath + ".held") && other.waitForFinished(30000));
    QCOMPARE(entriesOf(dir->path()), QStringList({ "other.ddb", "run.ddb" }));
    QCOMPARE(describe(split(copy, 1)), "");
    holdElsewhere();
    QVERIFY(QFile::remove(sourcePath + ".held") && other.waitForFinished(30000));
    QCOMPARE(other.exitCode(), 0);
}

// Run by the test above as another process: holds the folder of the recording it is given
// until told to let go.
void TestPieceWriter::holdTheFolderForAnotherProcess()
{
    const QString path = qEnvironmentVariable("TRANCHEL_HOLD_FOLDER");
    if (path.isEmpty())
        QSKIP("run by shouldWriteIntoOneFolderAtATime as another process");
    Ddb::Recording held = load(path);
    QCOMPARE(held.folder().lock(), System::RecordingFolder::Lock::Held);
    QVERIFY(writeContent(path + ".held", "held"));
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(path + ".held"), 60000);
}

void TestPieceWriter::shouldCountPiecesInAFolderOfMemory_data()
{
    QTest::addColumn<QString>("earlier"); // "pieces" of the same split there, "linked" too
    QTest::addColumn<qint64>("memoryLimit");
    QTest::addColumn<QString>("failures");
    // The pieces take 3 headers and 300 frames of 12 bytes; the largest, 512 + 1440 bytes,
    // stands beside the one it replaces until the rename.
    QTest::newRow("room for every piece") << "" << qint64(3 * 512 + 3600) << "";
    QTest::newRow("a byte short") << "" << qint64(3 * 512 + 3599) << "short of memory";
    QTest::newRow("a split again over its pieces") << "pieces" << qint64(1952) << "kept 3";
    QTest::newRow("a split again, a byte short of the largest piece")
            << "pieces" << qint64(1951) << "short of memory";
    QTest::newRow("earlier pieces other names lead to free nothing")
            << "linked" << qint64(3 * 512 + 3600 + 1951) << "short of memory";
}

void TestPieceWriter::shouldCountPiecesInAFolderOfMemory()
{
    QFETCH(QString, earlier);
    QFETCH(qint64, memoryLimit);
    QFETCH(QString, failures);
    if (QStorageInfo("/dev/shm").fileSystemType() != "tmpfs")
        QSKIP("no tmpfs at /dev/shm here");
    QTemporaryDir memory("/dev/shm/tranchel-XXXXXX");
    const QString path = memory.filePath("run.ddb");
    QVERIFY(writeContent(path, threePieceRecording()));
    for (int number = 1; number <= 3 && !earlier.isEmpty(); ++number) {
        const QString piece = memory.filePath(QStringLiteral("run_%1.ddb").arg(number));
        QVERIFY(writeContent(
                piece, expectedPiece(threePieceRecording(), threePieces().at(number - 1), 3)));
#if defined(Q_OS_UNIX)
        if (earlier == "linked")
            QCOMPARE(link(QFile::encodeName(piece).constData(),
                          QFile::encodeName(piece + ".link").constData()),
                     0);
#endif
    }
    Ddb::Recording loaded = load(path);
    QCOMPARE(describe(split(loaded, 1, memoryLimit)), failures);
    QCOMPARE(entriesOf(memory.path()).filter("run_").size(),
             earlier == "linked"                                ? 6
                     : failures.isEmpty() || !earlier.isEmpty() ? 3
                                                                : 0);
}

void TestPieceWriter::shouldKeepStampBytesOfAnInvalidTime()
{
    QByteArray source = threePieceRecording();
    source = withField(source, 46, 13, 2); // month 13
    QVERIFY(writeContent(sourcePath, source));
    // The pieces of an earlier split into two minutes are earlier pieces all the same.
    QVERIFY(splitFile(sourcePath, 2).succeeded());
    QVERIFY(splitFile(sourcePath, 1).succeeded());
    const quint32 frames[] = { 120, 120, 60 };
    for (int i = 0; i < 3; ++i) {
        QByteArray expected = source.left(512);
        expected = withField(expected, 66, frames[i], 4);
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
        QByteArray source
                = makeRecording(channels, frequency, random.bounded(700), "2024-05-06 23:58:00");
        const quint32 claimed = quint32(random.bounded(800));
        source = withField(source, 66, claimed, 4);
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
        const qint64 frameSize = qint64(channels) * 4;
        qint64 held = source.size() < 512 ? 0 : claimed;
        if (frameSize > 0)
            held = qMin(held, (qMax(source.size(), 512) - 512) / frameSize);
        const Ddb::SplitOutcome outcome = splitFile(sourcePath, minutes);
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
        QCOMPARE(entriesOf(dir->path()), QStringList { "run.ddb" });
    }
}

QTEST_GUILESS_MAIN(TestPieceWriter)
#include "tst_piecewriter.moc"
