// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Recordings larger than 2 GiB and 4 GiB, opened and split through the window. The source is
// sparse (header, recognisable frames at both ends of every piece, holes between), but the
// pieces are real files.
#include "tranchel.h"

#include "dialogdriver.h"
#include "piececheck.h"
#include "syntheticrecording.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#elif defined(Q_OS_WIN)
#include <windows.h>

#include <psapi.h>
#endif

namespace {

constexpr quint16 channels = 16;
constexpr quint16 frequency = 1000;
constexpr qint64 frameSize = channels * 4;
constexpr qint64 pieceFrames = qint64(frequency) * 3600; // 60-minute pieces
constexpr qint64 markedFrames = 4096; // written at each end of each piece, the rest is a hole

SyntheticRecording largeRecording(qint64 frames)
{
    SyntheticRecording recording;
    recording.channels = channels;
    recording.frequency = frequency;
    recording.frames = frames;
    recording.start = wallClock("2024-03-30 20:00:00");
    return recording;
}

qint64 firstFrameOf(int number)
{
    return (number - 1) * pieceFrames;
}

qint64 framesOf(int number, qint64 frames)
{
    return qMin(pieceFrames, frames - firstFrameOf(number));
}

bool writeSparse(const QString &path, const SyntheticRecording &recording, int pieces)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(recording.header()) != Ddb::HeaderSize)
        return false;
    const auto mark = [&](qint64 frame) {
        return file.seek(Ddb::HeaderSize + frame * frameSize)
                && file.write(recording.frameBytes(frame, markedFrames))
                == markedFrames * frameSize;
    };
    for (int number = 1; number <= pieces; ++number) {
        const qint64 first = firstFrameOf(number);
        if (!mark(first) || !mark(first + framesOf(number, recording.frames) - markedFrames))
            return false;
    }
    return true;
}

// Compares `length` bytes of two files from the given offsets, a chunk at a time.
bool sameBytes(QFile &a, qint64 fromA, QFile &b, qint64 fromB, qint64 length)
{
    constexpr qint64 chunk = 64 << 20;
    if (!a.seek(fromA) || !b.seek(fromB))
        return false;
    for (qint64 done = 0; done < length; done += chunk) {
        const qint64 size = qMin(chunk, length - done);
        if (a.read(size) != b.read(size))
            return false;
    }
    return true;
}

// For the log: the peak resident set (Linux) or working set (Windows); -1 where the system
// does not tell.
qint64 peakResidentMiB()
{
#if defined(Q_OS_UNIX)
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
#elif defined(Q_OS_WIN)
    PROCESS_MEMORY_COUNTERS counters {};
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
            ? qint64(counters.PeakWorkingSetSize >> 20)
            : -1;
#else
    return -1;
#endif
}

} // namespace

class TestLargeRecording : public QObject
{
    Q_OBJECT

private slots:
    void shouldSplitALargeRecording_data();
    void shouldSplitALargeRecording();
};

void TestLargeRecording::shouldSplitALargeRecording_data()
{
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<qint64>("lastPieceBeyond"); // bytes before the last piece's first frame
    QTest::addColumn<bool>("everyByte");
    // Ten and a half hours: 2.25 GiB, well above what 31 bits of offset reach.
    QTest::newRow("over 2 GiB") << pieceFrames * 21 / 2 << (qint64(1) << 31) << true;
    // Twenty and a half hours: 4.4 GiB, its last two pieces wholly beyond 4 GiB, so that no
    // offset or size may pass through 32 bits. Each piece's ends are checked, not every byte.
    QTest::newRow("over 4 GiB") << pieceFrames * 41 / 2 << (qint64(1) << 32) << false;
}

void TestLargeRecording::shouldSplitALargeRecording()
{
    QFETCH(qint64, frames);
    QFETCH(qint64, lastPieceBeyond);
    QFETCH(bool, everyByte);
    const int pieces = int((frames + pieceFrames - 1) / pieceFrames);
    QVERIFY(Ddb::HeaderSize + firstFrameOf(pieces) * frameSize > lastPieceBeyond);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SyntheticRecording recording = largeRecording(frames);
    const qint64 needed = recording.fileSize() + (qint64(512) << 20);
    if (QStorageInfo(dir.path()).bytesAvailable() < needed)
        QSKIP("not enough free disk for the pieces");
    const QString path = dir.filePath("long.ddb");
    QVERIFY(writeSparse(path, recording, pieces));
    QCOMPARE(QFileInfo(path).size(), recording.fileSize());

    // The test answers Qt's own dialog; the platform's is no widget.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    Tranchel window;
    window.show();
    QElapsedTimer timer;
    timer.start();
    openThroughDialog(window, path);
    const qint64 openMs = timer.restart();
    auto *splitButton = window.findChild<QPushButton *>("splitButton");
    auto *samplesLabel = window.findChild<QLabel *>("samplesLabel");
    QVERIFY(splitButton->isEnabled());
    QCOMPARE(samplesLabel->text(), QStringLiteral("<b>Samples:</b> %1").arg(frames));
    QCOMPARE(window.findChild<QLabel *>("dateLabel")->text(), "<b>Date:</b> 2024.03.30 20:00:00");
#if defined(Q_OS_WIN)
    // What Windows asks before it marks a window "Not Responding": an answer within 5 s.
    QAtomicInt splitting = 1, answered = 0, unanswered = 0;
    const std::unique_ptr<QThread> desktop(QThread::create([&, handle = HWND(window.winId())] {
        for (DWORD_PTR result = 0; splitting.loadAcquire(); QThread::msleep(1000))
            (SendMessageTimeoutW(handle, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) ? answered
                                                                                    : unanswered)
                    .ref();
    }));
    desktop->start();
#endif
    splitButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::overrideCursor(), 30 * 60 * 1000);
    const qint64 splitMs = timer.restart();
    QCOMPARE(window.findChild<QLabel *>("statusLabel")->text(), "Split completed");
#if defined(Q_OS_WIN)
    splitting.storeRelease(0);
    desktop->wait();
    QVERIFY2(unanswered.loadAcquire() == 0 && answered.loadAcquire() >= 3,
             qPrintable(QStringLiteral("%1 answered, %2 not").arg(answered).arg(unanswered)));
#endif
    QFile source(path);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray header = recording.header();
    for (int number = 1; number <= pieces; ++number) {
        const qint64 first = firstFrameOf(number);
        const qint64 length = framesOf(number, frames);
        // Each piece ends where its frames end: on the hour, and the half piece half an hour
        // later.
        const QDateTime end = recording.start.addSecs((first + length) / frequency);
        const Stamp stamp { end.date().year(), end.date().month(),  end.date().day(),
                            end.time().hour(), end.time().minute(), end.time().second() };
        QFile piece(dir.filePath(QStringLiteral("long_%1.ddb").arg(number)));
        QVERIFY(piece.open(QIODevice::ReadOnly));
        QCOMPARE(piece.size(), Ddb::HeaderSize + length * frameSize);
        QCOMPARE(piece.read(Ddb::HeaderSize), pieceHeader(header, stamp, quint32(length)));
        QCOMPARE(piece.read(frameSize), recording.frameBytes(first, 1));
        QVERIFY(piece.seek(piece.size() - frameSize));
        QCOMPARE(piece.read(frameSize), recording.frameBytes(first + length - 1, 1));
        if (everyByte)
            QVERIFY2(sameBytes(piece, Ddb::HeaderSize, source, Ddb::HeaderSize + first * frameSize,
                               length * frameSize),
                     qPrintable(piece.fileName()));
        piece.close();
        QVERIFY(QFile::remove(piece.fileName()));
    }
    QCOMPARE(entriesOf(dir.path()), QStringList { "long.ddb" });
    qInfo("opened in %lld ms, split in %lld ms, checked in %lld ms, peak resident %lld MiB", openMs,
          splitMs, timer.elapsed(), peakResidentMiB());
}

QTEST_MAIN(TestLargeRecording)
#include "tst_largerecording.moc"
