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

} // namespace

class TestRecordingMemory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shouldRefuseWhatTheAddressSpaceCannotHold();
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
    // In a child, so that the limit binds nothing else; no memory check, so that the
    // allocation itself fails.
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // A crash must end the child at once, not in the test framework's handlers.
        signal(SIGABRT, SIG_DFL);
        signal(SIGSEGV, SIG_DFL);
        const rlimit noCore { 0, 0 };
        setrlimit(RLIMIT_CORE, &noCore);
        const rlimit limit { rlim_t(statusKiB("VmSize:") * 1024 + (recordingMiB << 19)),
                             RLIM_INFINITY };
        QByteArray bytes;
        Ddb::FileIdentity identity;
        const bool refused = setrlimit(RLIMIT_AS, &limit) == 0
                && Ddb::readRecording(path, bytes, identity, -1)
                        == Ddb::ReadResult::NotEnoughMemory;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    const auto ended = [&] { return waitpid(child, &status, WNOHANG) == child; };
    if (!QTest::qWaitFor(ended, 30000)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        QFAIL("the child hung");
    }
    QVERIFY2(WIFEXITED(status), "the child crashed");
    QCOMPARE(WEXITSTATUS(status), 0);
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
