// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory the recording takes and gives back, measured in a build without sanitizers, whose
// allocator would keep freed memory and reserve address space of its own.
#include "tranchel.h"

#include "dialogdriver.h"
#include "piececheck.h"
#include "recordingfile.h"
#include "syntheticrecording.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

#include <fcntl.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qint64 recordingMiB = 256;

// A figure of /proc/self/status, such as "VmRSS:", in KiB.
qint64 statusKiB(const QByteArray &field)
{
    const QByteArray status = fileContent(QStringLiteral("/proc/self/status"));
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

// Runs `refuses` in a forked child, so that a limit binds nothing else and a kill ends only
// the child; tells how it ended.
QString inChild(const std::function<bool()> &refuses)
{
    const pid_t child = fork();
    if (child < 0)
        return QStringLiteral("not started");
    if (child == 0) {
        // A crash must end the child at once, not in the test framework's handlers.
        signal(SIGABRT, SIG_DFL);
        signal(SIGSEGV, SIG_DFL);
        const rlimit noCore { 0, 0 };
        setrlimit(RLIMIT_CORE, &noCore);
        _exit(refuses() ? 0 : 1);
    }
    int status = 0;
    const auto ended = [&] { return waitpid(child, &status, WNOHANG) == child; };
    if (!QTest::qWaitFor(ended, 30000)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return QStringLiteral("hung");
    }
    if (WIFSIGNALED(status))
        return QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
    return WEXITSTATUS(status) == 0 ? QStringLiteral("refused") : QStringLiteral("not refused");
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
    path = dir.filePath(QStringLiteral("run.ddb"));
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
        return setrlimit(RLIMIT_AS, &limit) == 0
                && Ddb::readRecording(path, bytes, source, -1) == Ddb::ReadResult::NotEnoughMemory;
    });
    QCOMPARE(ended, QStringLiteral("refused"));
}

void TestRecordingMemory::shouldRefuseWhatItsMemoryGroupCannotHold()
{
    // Found here as the usual mount shows it, not through the code under test.
    QString own;
    const QList<QByteArray> lines = fileContent(QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray &line : lines) {
        if (line.contains(":memory:"))
            own = QStringLiteral("/sys/fs/cgroup/memory")
                    + QFile::decodeName(line.mid(line.indexOf(":memory:") + 8));
    }
    if (own.isEmpty() || !QFileInfo(own).isDir())
        QSKIP("this machine has no cgroup v1 memory controller to make a group in");
    const QString group = own + QStringLiteral("/tranchel-test-%1").arg(getpid());
    if (!QDir().mkdir(group))
        QSKIP("cannot make a group in this process's v1 memory group (not root?)");
    // Half the recording: without the group's limit in the figure the kernel kills the child.
    const bool limited = writeContent(group + QStringLiteral("/memory.limit_in_bytes"),
                                      QByteArray::number(recordingMiB << 19));
    const QByteArray procs = QFile::encodeName(group + QStringLiteral("/cgroup.procs"));
    const QString ended = inChild([this, &procs] {
        const QByteArray self = QByteArray::number(getpid());
        const int file = open(procs.constData(), O_WRONLY);
        if (file < 0 || write(file, self.constData(), size_t(self.size())) != self.size())
            return false;
        close(file);
        QByteArray bytes;
        System::RecordingSource source;
        return Ddb::readRecording(path, bytes, source) == Ddb::ReadResult::NotEnoughMemory;
    });
    QVERIFY(QDir().rmdir(group));
    QVERIFY(limited);
    QCOMPARE(ended, QStringLiteral("refused"));
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
    auto *splitButton = window.findChild<QPushButton *>(QStringLiteral("splitButton"));
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
