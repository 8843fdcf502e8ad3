// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// A recording larger than 2 GiB, opened and split through the window. The source is sparse
// (header, a hole, recognisable frames at both ends), but the pieces are real files.
#include "tranchel.h"

#include "dialogdriver.h"
#include "piececheck.h"
#include "recordingfile.h"
#include "syntheticrecording.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#endif

namespace {

constexpr quint16 channels = 16;
constexpr quint16 frequency = 1000;
constexpr qint64 frameSize = channels * 4;
constexpr qint64 pieceFrames = qint64(frequency) * 3600; // 60-minute pieces
// Ten and a half hours: 2.25 GiB, well above the 2^31 - 25 bytes a Qt 5 array can hold.
constexpr qint64 frames = pieceFrames * 21 / 2;
constexpr qint64 markedFrames = 4096; // written at each end, the rest is a hole

SyntheticRecording largeRecording()
{
    SyntheticRecording recording;
    recording.channels = channels;
    recording.frequency = frequency;
    recording.frames = frames;
    recording.start = wallClock(QStringLiteral("2024-03-30 20:00:00"));
    return recording;
}

bool writeSparse(const QString &path, const SyntheticRecording &recording)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qint64 tail = recording.frames - markedFrames;
    return file.write(recording.header()) == Ddb::HeaderSize
            && file.write(recording.frameBytes(0, markedFrames)) == markedFrames * frameSize
            && file.seek(Ddb::HeaderSize + tail * frameSize)
            && file.write(recording.frameBytes(tail, markedFrames)) == markedFrames * frameSize;
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

// For the log; -1 where the system does not tell.
qint64 peakResidentMiB()
{
#if defined(Q_OS_UNIX)
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
#else
    return -1;
#endif
}

} // namespace

class TestLargeRecording : public QObject
{
    Q_OBJECT

private slots:
    void shouldSplitOrRefuseARecordingBeyondTwoGiB();
};

void TestLargeRecording::shouldSplitOrRefuseARecordingBeyondTwoGiB()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SyntheticRecording recording = largeRecording();
    const qint64 needed = recording.fileSize() + (qint64(512) << 20);
    if (QStorageInfo(dir.path()).bytesAvailable() < needed)
        QSKIP("not enough free disk for the pieces");
    const QString path = dir.filePath(QStringLiteral("long.ddb"));
    QVERIFY(writeSparse(path, recording));
    QCOMPARE(QFileInfo(path).size(), recording.fileSize());
    QVERIFY(recording.fileSize() > (qint64(1) << 31) + (qint64(128) << 20));

    Tranchel window;
    window.show();
    QElapsedTimer timer;
    timer.start();
    openThroughDialog(window, path);
    const qint64 openMs = timer.restart();
    auto *splitButton = window.findChild<QPushButton *>(QStringLiteral("splitButton"));
    auto *samplesLabel = window.findChild<QLabel *>(QStringLiteral("samplesLabel"));

    if (recording.fileSize() > Ddb::maxRecordingSize()) {
        // This build cannot hold the recording: it is refused and nothing is written.
        QVERIFY(!splitButton->isEnabled());
        QCOMPARE(samplesLabel->text(), QStringLiteral("<b>Samples:</b> -"));
        QCOMPARE(entriesOf(dir.path()), QStringList { QStringLiteral("long.ddb") });
        qInfo("refused in %lld ms, peak resident %lld MiB", openMs, peakResidentMiB());
        return;
    }

    QVERIFY(splitButton->isEnabled());
    QCOMPARE(samplesLabel->text(), QStringLiteral("<b>Samples:</b> 37800000"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("dateLabel"))->text(),
             QStringLiteral("<b>Date:</b> 2024.03.30 20:00:00"));
    splitButton->click();
    const qint64 splitMs = timer.elapsed();
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("statusLabel"))->text(),
             QStringLiteral("Split completed"));

    QFile source(path);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray header = recording.header();
    for (int number = 1; number <= 11; ++number) {
        const qint64 first = (number - 1) * pieceFrames;
        const quint32 pieceLength = quint32(number <= 10 ? pieceFrames : pieceFrames / 2);
        // Pieces end at 21:00, 22:00, ... and the half piece at 06:30 the next morning.
        const QDateTime end = recording.start.addSecs(number <= 10 ? number * 3600 : 37800);
        const Stamp stamp { end.date().year(), end.date().month(),  end.date().day(),
                            end.time().hour(), end.time().minute(), end.time().second() };
        QFile piece(dir.filePath(QStringLiteral("long_%1.ddb").arg(number)));
        QVERIFY(piece.open(QIODevice::ReadOnly));
        QCOMPARE(piece.size(), Ddb::HeaderSize + pieceLength * frameSize);
        QCOMPARE(piece.read(Ddb::HeaderSize), pieceHeader(header, stamp, pieceLength));
        QVERIFY2(sameBytes(piece, Ddb::HeaderSize, source, Ddb::HeaderSize + first * frameSize,
                           pieceLength * frameSize),
                 qPrintable(piece.fileName()));
        QVERIFY(QFile::remove(piece.fileName()));
    }
    // The marked frames at the end of the recording closed the last piece.
    QFile last(path);
    QVERIFY(last.open(QIODevice::ReadOnly) && last.seek(recording.fileSize() - frameSize));
    QCOMPARE(last.read(frameSize), recording.frameBytes(frames - 1, 1));
    QCOMPARE(entriesOf(dir.path()), QStringList { QStringLiteral("long.ddb") });
    qInfo("opened in %lld ms, split in %lld ms, peak resident %lld MiB", openMs, splitMs,
          peakResidentMiB());
}

QTEST_MAIN(TestLargeRecording)
#include "tst_largerecording.moc"
