// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "pieceplan.h"

#include "piececheck.h"

#include <QtTest>

Q_DECLARE_METATYPE(Ddb::PiecePlan::Status)

namespace {

Ddb::Header header(quint16 frequency, quint16 channels, quint32 samples, const QDateTime &start)
{
    Ddb::Header header;
    header.year = start.date().year();
    header.month = quint16(start.date().month());
    header.day = quint16(start.date().day());
    header.hour = quint16(start.time().hour());
    header.minute = quint16(start.time().minute());
    header.second = quint16(start.time().second());
    header.frequency = frequency;
    header.channels = channels;
    header.samples = samples;
    return header;
}

// The size of a file that holds every frame its header counts.
qint64 wholeFile(const Ddb::Header &header)
{
    return Ddb::HeaderSize + header.samples * header.frameSize();
}

QDateTime at(const QString &text)
{
    return wallClock(text);
}

// "first frame:frames:yyyy-MM-dd hh:mm:ss" for each piece, as every piece row is spelt.
QStringList describe(const Ddb::PiecePlan &plan)
{
    QStringList pieces;
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Ddb::Piece piece = plan.piece(index);
        if (piece.number != index + 1)
            return { QStringLiteral("piece %1 numbered %2").arg(index).arg(piece.number) };
        pieces << QStringLiteral("%1:%2:%3")
                          .arg(piece.firstFrame)
                          .arg(piece.frames)
                          .arg(piece.timeStamp.toString("yyyy-MM-dd hh:mm:ss"));
    }
    return pieces;
}

} // namespace

class TestPiecePlan : public QObject
{
    Q_OBJECT

private slots:
    void shouldCutIntoPieces_data();
    void shouldCutIntoPieces();
    void shouldRefuseUnsoundPlans_data();
    void shouldRefuseUnsoundPlans();
    void shouldLocateFramesBeyondFourGigabytes();
    void shouldLeaveStampsInvalidForAnInvalidTime();
    void shouldNamePieces_data();
    void shouldNamePieces();
};

void TestPiecePlan::shouldCutIntoPieces_data()
{
    QTest::addColumn<int>("frequency");
    QTest::addColumn<quint32>("samples");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("start");
    QTest::addColumn<quint32>("pieceLength");
    QTest::addColumn<quint32>("remainder");
    QTest::addColumn<QStringList>("pieces");

    const QString ten = "2024-05-06 10:00:00";
    QTest::newRow("300 frames at 2 Hz in minutes")
            << 2 << quint32(300) << 1 << ten << quint32(120) << quint32(60)
            << QStringList { "0:120:2024-05-06 10:01:00", "120:120:2024-05-06 10:02:00",
                             "240:60:2024-05-06 10:02:30" };
    QTest::newRow("240 frames make no empty third piece")
            << 2 << quint32(240) << 1 << ten << quint32(120) << quint32(0)
            << QStringList { "0:120:2024-05-06 10:01:00", "120:120:2024-05-06 10:02:00" };
    QTest::newRow("shorter than one piece")
            << 2 << quint32(90) << 1 << ten << quint32(120) << quint32(90)
            << QStringList { "0:90:2024-05-06 10:00:45" };
    QTest::newRow("remainder of ten frames at seven hertz")
            << 7 << quint32(430) << 1 << ten << quint32(420) << quint32(10)
            << QStringList { "0:420:2024-05-06 10:01:00", "420:10:2024-05-06 10:01:01" };
    QTest::newRow("remainder shorter than a second keeps the stamp")
            << 7 << quint32(426) << 1 << ten << quint32(420) << quint32(6)
            << QStringList { "0:420:2024-05-06 10:01:00", "420:6:2024-05-06 10:01:00" };
    QTest::newRow("no samples, no pieces")
            << 1000 << quint32(0) << 60 << ten << quint32(3600000) << quint32(0) << QStringList();
    QTest::newRow("past midnight into a new year")
            << 1 << quint32(7200) << 60 << "2023-12-31 23:30:00" << quint32(3600) << quint32(0)
            << QStringList { "0:3600:2024-01-01 00:30:00", "3600:3600:2024-01-01 01:30:00" };
    QTest::newRow("into a leap day")
            << 1 << quint32(5400) << 60 << "2024-02-28 23:15:00" << quint32(3600) << quint32(1800)
            << QStringList { "0:3600:2024-02-29 00:15:00", "3600:1800:2024-02-29 00:45:00" };
    QTest::newRow("across the spring-forward change of central Europe")
            << 10 << quint32(72000) << 60 << "2024-03-31 00:30:00" << quint32(36000) << quint32(0)
            << QStringList { "0:36000:2024-03-31 01:30:00", "36000:36000:2024-03-31 02:30:00" };
    QTest::newRow("across the autumn change of central Europe")
            << 10 << quint32(72000) << 60 << "2024-10-27 01:30:00" << quint32(36000) << quint32(0)
            << QStringList { "0:36000:2024-10-27 02:30:00", "36000:36000:2024-10-27 03:30:00" };
    QTest::newRow("two hours at the highest rate")
            << 65535 << quint32(65535u * 60 * 120 + 65535) << 120 << "2024-01-01 00:00:00"
            << quint32(471852000) << quint32(65535)
            << QStringList { "0:471852000:2024-01-01 02:00:00",
                             "471852000:65535:2024-01-01 02:00:01" };
}

void TestPiecePlan::shouldCutIntoPieces()
{
    QFETCH(int, frequency);
    QFETCH(quint32, samples);
    QFETCH(int, minutes);
    QFETCH(QString, start);
    QFETCH(quint32, pieceLength);
    QFETCH(quint32, remainder);
    QFETCH(QStringList, pieces);

    const Ddb::Header source = header(quint16(frequency), 3, samples, at(start));
    const Ddb::PiecePlan plan(source, quint16(minutes), wholeFile(source));
    QCOMPARE(plan.status(), Ddb::PiecePlan::Status::Ready);
    QCOMPARE(plan.pieceLength(), pieceLength);
    QCOMPARE(plan.remainder(), remainder);
    QCOMPARE(plan.pieceCount(), quint32(pieces.size()));
    QCOMPARE(describe(plan), pieces);
}

void TestPiecePlan::shouldRefuseUnsoundPlans_data()
{
    QTest::addColumn<int>("frequency");
    QTest::addColumn<quint32>("samples");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<Ddb::PiecePlan::Status>("status");
    QTest::addColumn<quint32>("pieceCount");

    QTest::newRow("frequency 0 with samples")
            << 0 << quint32(1000) << 60 << Ddb::PiecePlan::Status::NoFrequency << quint32(0);
    QTest::newRow("frequency 0 without samples")
            << 0 << quint32(0) << 60 << Ddb::PiecePlan::Status::NoFrequency << quint32(0);
    QTest::newRow("exactly the most pieces")
            << 1 << quint32(6000000) << 1 << Ddb::PiecePlan::Status::Ready << quint32(100000);
    QTest::newRow("one piece too many") << 1 << quint32(6000001) << 1
                                        << Ddb::PiecePlan::Status::TooManyPieces << quint32(100001);
    QTest::newRow("a corrupt count of four billion frames at 1 Hz")
            << 1 << quint32(0xffffffffu) << 1 << Ddb::PiecePlan::Status::TooManyPieces
            << quint32(71582789);
}

void TestPiecePlan::shouldRefuseUnsoundPlans()
{
    QFETCH(int, frequency);
    QFETCH(quint32, samples);
    QFETCH(int, minutes);
    QFETCH(Ddb::PiecePlan::Status, status);
    QFETCH(quint32, pieceCount);

    const Ddb::Header source = header(quint16(frequency), 1, samples, at("2024-01-01 00:00:00"));
    const Ddb::PiecePlan plan(source, quint16(minutes), wholeFile(source));
    QCOMPARE(plan.status(), status);
    QCOMPARE(plan.pieceCount(), pieceCount);
}

void TestPiecePlan::shouldLocateFramesBeyondFourGigabytes()
{
    // 65535 channels of 4 bytes: a frame is 262140 bytes, and the last piece starts far
    // beyond what 32 bits can count.
    const Ddb::Header source = header(65535, 65535, 0xffffffffu, at("2024-01-01 00:00:00"));
    const Ddb::PiecePlan plan(source, 120, wholeFile(source));
    QCOMPARE(plan.pieceCount(), quint32(10));
    const Ddb::Piece last = plan.piece(9);
    QCOMPARE(last.firstFrame, qint64(4246668000));
    QCOMPARE(last.frames, quint32(0xffffffffu - 4246668000u));
    QCOMPARE(last.firstByte, qint64(512) + qint64(4246668000) * 262140);
    QCOMPARE(last.byteLength, qint64(last.frames) * 262140);
    QCOMPARE(plan.piece(1).byteLength, qint64(471852000) * 262140);
}

void TestPiecePlan::shouldLeaveStampsInvalidForAnInvalidTime()
{
    Ddb::Header invalid = header(2, 3, 300, at("2024-01-01 00:00:00"));
    invalid.month = 13;
    const Ddb::PiecePlan plan(invalid, 1, wholeFile(invalid));
    QCOMPARE(plan.pieceCount(), quint32(3));
    for (quint32 index = 0; index < plan.pieceCount(); ++index)
        QVERIFY(!plan.piece(index).timeStamp.isValid());
    QCOMPARE(plan.piece(2).frames, quint32(60));
}

void TestPiecePlan::shouldNamePieces_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<quint32>("number");
    QTest::addColumn<QString>("piece");

    QTest::newRow("first") << "run.ddb" << quint32(1) << "run_1.ddb";
    QTest::newRow("tenth, no leading zeros") << "run.ddb" << quint32(10) << "run_10.ddb";
    QTest::newRow("only the last dot of the name")
            << "run.2024.ddb" << quint32(1) << "run.2024_1.ddb";
    QTest::newRow("name without a dot") << "run" << quint32(12) << "run_12";
    QTest::newRow("name that is only an extension") << ".ddb" << quint32(1) << "_1.ddb";
}

void TestPiecePlan::shouldNamePieces()
{
    QFETCH(QString, source);
    QFETCH(quint32, number);
    QFETCH(QString, piece);
    QCOMPARE(Ddb::pieceFileName(source, number), piece);
}

QTEST_GUILESS_MAIN(TestPiecePlan)
#include "tst_pieceplan.moc"
