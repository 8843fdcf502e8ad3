// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Splits under memory limits far below the recording's size, in a build without sanitizers,
// whose allocator would reserve address space of its own.
#include "tranchel.h"

#include "childprocess.h"
#include "dialogdriver.h"
#include "piececheck.h"
#include "syntheticrecording.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr qint64 recordingMiB = 256;

// A figure of /proc/self/status, such as "VmRSS:", in KiB.
qint64 statusKiB(const QByteArray &field)
{
    const QByteArray status = fileContent("/proc/self/status");
    const int start = status.indexOf(field) + field.size();
    return status.mid(start, status.indexOf('\n', start) - start)
            .trimmed()
            .split(' ')[0]
            .toLongLong();
}

// Opens and splits the recording through the window, then the same again over its own
// pieces: what the status line said each time.
QByteArray splitTwiceThroughTheWindow(const QString &path)
{
    Tranchel window;
    window.show();
    QByteArray said;
    for (int round = 0; round < 2; ++round) {
        openThroughDialog(window, path);
        window.findChild<QPushButton *>("splitButton")->click();
        if (!QTest::qWaitFor([] { return !QApplication::overrideCursor(); }, 600000))
            said += "still splitting ";
        said += window.findChild<QLabel *>("statusLabel")->text().toUtf8() + ';';
    }
    return said;
}

} // namespace

class TestRecordingMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shouldSplitUnderAnAddressSpaceLimit();
    void shouldSplitWhatItsMemoryGroupCannotHold();
    void cleanup();

private:
    void verifyPieces() const;

    QTemporaryDir dir;
    QString path;
};

void TestRecordingMemory::initTestCase()
{
    QVERIFY(dir.isValid());
    path = dir.filePath("run.ddb");
    SyntheticRecording recording;
    recording.channels = 16;
    recording.frequency = 1000;
    recording.frames = ((recordingMiB << 20) - 512) / 64;
    QVERIFY(recording.writeTo(path));
}

void TestRecordingMemory::cleanup()
{
    const QStringList names = entriesOf(dir.path());
    for (const QString &name : names) {
        if (name != "run.ddb")
            QFile::remove(dir.filePath(name));
    }
}

// The 60-minute pieces hold every frame of the recording, in order.
void TestRecordingMemory::verifyPieces() const
{
    QCOMPARE(entriesOf(dir.path()), QStringList({ "run.ddb", "run_1.ddb", "run_2.ddb" }));
    const QByteArray source = fileContent(path);
    QByteArray frames;
    for (const char *name : { "run_1.ddb", "run_2.ddb" }) {
        const QByteArray piece = fileContent(dir.filePath(name));
        QCOMPARE(piece.left(44), source.left(44)); // all but the stamp and the count
        frames += piece.mid(512);
    }
    QVERIFY(frames == source.mid(512));
}

void TestRecordingMemory::shouldSplitUnderAnAddressSpaceLimit()
{
    // The address space the window takes at idle, and half the recording more.
    const QString said = inChild([this] {
        const rlimit limit { rlim_t(statusKiB("VmSize:") * 1024 + (recordingMiB << 19)),
                             RLIM_INFINITY };
        return setrlimit(RLIMIT_AS, &limit) == 0 ? splitTwiceThroughTheWindow(path)
                                                 : QByteArray("no limit set");
    });
    QCOMPARE(said, "Split completed;Split completed;");
    verifyPieces();
}

void TestRecordingMemory::shouldSplitWhatItsMemoryGroupCannotHold()
{ // Found here as the usual mount shows it, not through the code under test.
    QString own;
    const QList<QByteArray> lines = fileContent("/proc/self/cgroup").split('\n');
    for (const QByteArray &line : lines) {
        if (line.contains(":memory:"))
            own = "/sys/fs/cgroup/memory"
                    + QFile::decodeName(line.mid(line.indexOf(":memory:") + 8));
    }
    if (own.isEmpty() || !QFileInfo(own).isDir())
        QSKIP("this machine has no cgroup v1 memory controller to make a group in");
    const QString group = own + QStringLiteral("/tranchel-test-%1").arg(getpid());
    if (!QDir().mkdir(group))
        QSKIP("cannot make a group in this process's v1 memory group (not root?)");
    // Half the recording.
    const bool limited = writeContent(group + "/memory.limit_in_bytes",
                                      QByteArray::number(recordingMiB << 19));
    const QByteArray procs = QFile::encodeName(group + "/cgroup.procs");
    const QString said = inChild([this, &procs] {
        const QByteArray self = QByteArray::number(getpid());
        const int file = open(procs.constData(), O_WRONLY);
        if (file < 0 || write(file, self.constData(), size_t(self.size())) != self.size())
            return QByteArray("not in the group");
        close(file);
        return splitTwiceThroughTheWindow(path);
    });
    QVERIFY(QDir().rmdir(group));
    QVERIFY(limited);
    QCOMPARE(said, "Split completed;Split completed;");
    verifyPieces();
}

QTEST_MAIN(TestRecordingMemory)
#include "tst_recordingmemory.moc"
