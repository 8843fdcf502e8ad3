// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory the recording takes and gives back, measured in a build without sanitizers, whose
// allocator would keep freed memory and reserve address space of its own.
#include "tranchel.h"

#include "childprocess.h"
#include "dialogdriver.h"
#include "piececheck.h"
#include "recordingfile.h"
#include "syntheticrecording.h"
#include "systemmemory.h"

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

qint64 residentMiB()
{
    return statusKiB("VmRSS:") / 1024;
}

QByteArray refusedIf(bool refused)
{
    return refused ? "refused" : "not refused";
}

} // namespace

class TestRecordingMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shouldRefuseWhatTheAddressSpaceCannotHold();
    void shouldRefuseWhatItsMemoryGroupCannotHold();
    void shouldGiveTheRecordingBack_data();
    void shouldGiveTheRecordingBack();

private:
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

void TestRecordingMemory::shouldRefuseWhatTheAddressSpaceCannotHold()
{
    // No memory check, so that the allocation itself fails.
    const QString ended = inChild([this] {
        const rlimit limit { rlim_t(statusKiB("VmSize:") * 1024 + (recordingMiB << 19)),
                             RLIM_INFINITY };
        QByteArray bytes;
        System::RecordingSource source;
        return refusedIf(setrlimit(RLIMIT_AS, &limit) == 0
                         && System::readRecording(path, bytes, source, -1)
                                 == System::ReadResult::NotEnoughMemory);
    });
    QCOMPARE(ended, "refused");
}

void TestRecordingMemory::shouldRefuseWhatItsMemoryGroupCannotHold()
{
    // Found here as the usual mount shows it, not through the code under test.
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
    // Half the recording: without the group's limit in the figure the kernel kills the child.
    const bool limited = writeContent(group + "/memory.limit_in_bytes",
                                      QByteArray::number(recordingMiB << 19));
    const QByteArray procs = QFile::encodeName(group + "/cgroup.procs");
    const QString ended = inChild([this, &procs] {
        const QByteArray self = QByteArray::number(getpid());
        const int file = open(procs.constData(), O_WRONLY);
        if (file < 0 || write(file, self.constData(), size_t(self.size())) != self.size())
            return refusedIf(false);
        close(file);
        QByteArray bytes;
        System::RecordingSource source;
        return refusedIf(System::readRecording(path, bytes, source, System::availableMemory())
                         == System::ReadResult::NotEnoughMemory);
    });
    QVERIFY(QDir().rmdir(group));
    QVERIFY(limited);
    QCOMPARE(ended, "refused");
}

void TestRecordingMemory::shouldGiveTheRecordingBack_data()
{
    QTest::addColumn<bool>("split");
    QTest::newRow("after a split") << true;
    QTest::newRow("after a cancelled open") << false;
}

void TestRecordingMemory::shouldGiveTheRecordingBack()
{
    QFETCH(bool, split);
    Tranchel window;
    window.show();
    const qint64 before = residentMiB();
    openThroughDialog(window, path);
    auto *splitButton = window.findChild<QPushButton *>("splitButton");
    QVERIFY(splitButton->isEnabled());
    QVERIFY2(residentMiB() >= before + recordingMiB - 8, "the recording is not held");
    if (split)
        splitButton->click();
    else
        openThroughDialog(window, QString());
    QVERIFY(!splitButton->isEnabled());
    const qint64 after = residentMiB();
    QVERIFY2(after < before + 32, qPrintable(QStringLiteral("%1 MiB held").arg(after - before)));
}

QTEST_MAIN(TestRecordingMemory)
#include "tst_recordingmemory.moc"
