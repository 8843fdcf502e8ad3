// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "ddbheader.h"

#include "piececheck.h"

#include <QtTest>

namespace {

// A 512-byte header whose unused bytes all differ from their neighbours.
QByteArray patternHeader()
{
    QByteArray header(512, Qt::Uninitialized);
    for (int i = 0; i < header.size(); ++i)
        header[i] = char(0xA0 ^ (i * 13));
    return header;
}

QByteArray headerWith(const Stamp &stored, int frequency, int channels, quint32 samples)
{
    QByteArray header = pieceHeader(patternHeader(), stored, samples);
    return withField(withField(header, 58, quint16(frequency), 2), 64, quint16(channels), 2);
}

QList<int> changedOffsets(const QByteArray &before, const QByteArray &after)
{
    QList<int> offsets;
    for (int i = 0; i < before.size(); ++i) {
        if (before[i] != after[i])
            offsets.append(i);
    }
    return offsets;
}

} // namespace

class TestDdbHeader : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadEveryField_data();
    void shouldReadEveryField();
    void shouldNeedSeventyBytes_data();
    void shouldNeedSeventyBytes();
    void shouldBuildZoneFreeTimeStamp_data();
    void shouldBuildZoneFreeTimeStamp();
    void shouldStampOnlyTheStampAndCount_data();
    void shouldStampOnlyTheStampAndCount();
    void shouldKeepStampBytesOfAnInvalidTime();
    void shouldRefuseWhatItCannotStamp_data();
    void shouldRefuseWhatItCannotStamp();
    void shouldTakeTheHeaderTemplate_data();
    void shouldTakeTheHeaderTemplate();
};

void TestDdbHeader::shouldReadEveryField_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("channels");
    QTest::addColumn<quint32>("samples");

    QTest::newRow("stored year 0 is 2000") << headerWith({ 2000, 12, 5, 14, 26, 3 }, 500, 32, 1234)
                                           << 2000 << 500 << 32 << quint32(1234);
    QTest::newRow("stored year 24 is 2024")
            << headerWith({ 2024, 1, 1, 0, 0, 0 }, 1, 1, 0) << 2024 << 1 << 1 << quint32(0);
    QTest::newRow("stored year 65535 is 67535")
            << headerWith({ 2000 + 65535, 1, 1, 0, 0, 0 }, 2, 3, 4) << 67535 << 2 << 3
            << quint32(4);
    QTest::newRow("largest values")
            << headerWith({ 2100, 6, 30, 23, 59, 59 }, 65535, 65535, 0xffffffffu) << 2100 << 65535
            << 65535 << quint32(0xffffffffu);
    QTest::newRow("samples with the top bit set")
            << headerWith({ 2024, 1, 1, 0, 0, 0 }, 1000, 8, 0x80000001u) << 2024 << 1000 << 8
            << quint32(0x80000001u);
    QTest::newRow("seventy bytes are enough")
            << headerWith({ 2024, 2, 29, 1, 2, 3 }, 7, 2, 77).left(70) << 2024 << 7 << 2
            << quint32(77);
}

void TestDdbHeader::shouldReadEveryField()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, year);
    QFETCH(int, frequency);
    QFETCH(int, channels);
    QFETCH(quint32, samples);

    const std::optional<Ddb::Header> header = Ddb::readHeader(bytes);
    QVERIFY(header);
    QCOMPARE(int(header->year), year);
    QCOMPARE(int(header->month), int(quint8(bytes[46])));
    QCOMPARE(int(header->day), int(quint8(bytes[48])));
    QCOMPARE(int(header->hour), int(quint8(bytes[50])));
    QCOMPARE(int(header->minute), int(quint8(bytes[52])));
    QCOMPARE(int(header->second), int(quint8(bytes[54])));
    QCOMPARE(int(header->frequency), frequency);
    QCOMPARE(int(header->channels), channels);
    QCOMPARE(header->samples, samples);
    QCOMPARE(header->frameSize(), qint64(channels) * 4);
}

void TestDdbHeader::shouldNeedSeventyBytes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("readable");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("one byte short of the sample count") << 69 << false;
    QTest::newRow("just the fields") << 70 << true;
    QTest::newRow("header without data") << 512 << true;
}

void TestDdbHeader::shouldNeedSeventyBytes()
{
    QFETCH(int, size);
    QFETCH(bool, readable);
    QCOMPARE(bool(Ddb::readHeader(patternHeader().left(size))), readable);
}

void TestDdbHeader::shouldBuildZoneFreeTimeStamp_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");

    QTest::newRow("year 0") << headerWith({ 2000, 12, 5, 14, 26, 3 }, 1, 1, 1)
                            << "2000.12.05 14:26:03";
    QTest::newRow("inside the spring-forward gap of central Europe")
            << headerWith({ 2024, 3, 31, 2, 30, 0 }, 1, 1, 1) << "2024.03.31 02:30:00";
    QTest::newRow("inside the repeated autumn hour")
            << headerWith({ 2024, 10, 27, 2, 30, 0 }, 1, 1, 1) << "2024.10.27 02:30:00";
    QTest::newRow("stored year 65436 is the leap year 67436")
            << headerWith({ 2000 + 65436, 2, 29, 0, 0, 0 }, 1, 1, 1) << "67436.02.29 00:00:00";
    QTest::newRow("month 13 is no date")
            << headerWith({ 2024, 13, 1, 0, 0, 0 }, 1, 1, 1) << QString();
    QTest::newRow("hour 24 is no time")
            << headerWith({ 2024, 1, 1, 24, 0, 0 }, 1, 1, 1) << QString();
}

void TestDdbHeader::shouldBuildZoneFreeTimeStamp()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QDateTime stamp = Ddb::readHeader(bytes)->timeStamp();
    QCOMPARE(stamp.isValid(), !shown.isEmpty());
    QCOMPARE(stamp.toString("yyyy.MM.dd hh:mm:ss"), shown);
}

void TestDdbHeader::shouldStampOnlyTheStampAndCount_data()
{
    QTest::addColumn<QDateTime>("timeStamp");
    QTest::addColumn<quint32>("frames");
    QTest::addColumn<QByteArray>("expectedFields");

    // Bytes 44 to 55 and then 66 to 69, as they must stand in the file.
    QTest::newRow("2024-03-31 02:30:07, 120 frames")
            << QDateTime(QDate(2024, 3, 31), QTime(2, 30, 7), Qt::UTC) << quint32(120)
            << QByteArray::fromHex("1800 0300 1f00 0200 1e00 0700 78000000");
    QTest::newRow("year 2000 is stored as 0")
            << QDateTime(QDate(2000, 1, 2), QTime(3, 4, 5), Qt::UTC) << quint32(0)
            << QByteArray::fromHex("0000 0100 0200 0300 0400 0500 00000000");
    QTest::newRow("largest frame count")
            << QDateTime(QDate(2255, 12, 31), QTime(23, 59, 59), Qt::UTC) << quint32(0xfffffffe)
            << QByteArray::fromHex("ff00 0c00 1f00 1700 3b00 3b00 feffffff");
    QTest::newRow("year 67535 is stored as 65535")
            << QDateTime(QDate(67535, 1, 2), QTime(0, 0, 0), Qt::UTC) << quint32(1)
            << QByteArray::fromHex("ffff 0100 0200 0000 0000 0000 01000000");
    QTest::newRow("count bytes in little-endian order")
            << QDateTime(QDate(2030, 6, 15), QTime(12, 0, 0), Qt::UTC) << quint32(0x01020304)
            << QByteArray::fromHex("1e00 0600 0f00 0c00 0000 0000 04030201");
}

void TestDdbHeader::shouldStampOnlyTheStampAndCount()
{
    QFETCH(QDateTime, timeStamp);
    QFETCH(quint32, frames);
    QFETCH(QByteArray, expectedFields);

    const QByteArray source = patternHeader();
    QByteArray piece = source;
    QVERIFY(Ddb::stampPieceHeader(piece, timeStamp, frames));
    QCOMPARE(piece.size(), source.size());
    QCOMPARE(piece.mid(44, 12) + piece.mid(66, 4), expectedFields);
    const QList<int> changed = changedOffsets(source, piece);
    for (int offset : changed)
        QVERIFY2((offset >= 44 && offset < 56) || (offset >= 66 && offset < 70),
                 qPrintable(QStringLiteral("byte %1 changed").arg(offset)));
}

void TestDdbHeader::shouldKeepStampBytesOfAnInvalidTime()
{
    const QByteArray source = headerWith({ 2024, 13, 40, 25, 61, 61 }, 1, 1, 99);
    QByteArray piece = source;
    QVERIFY(Ddb::stampPieceHeader(piece, QDateTime(), 42));
    QCOMPARE(changedOffsets(source, piece), QList<int>({ 66 }));
    QCOMPARE(piece.mid(66, 4), QByteArray::fromHex("2a000000"));
}

void TestDdbHeader::shouldRefuseWhatItCannotStamp_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QDateTime>("timeStamp");
    QTest::newRow("a copy too short for the fields")
            << 69 << QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    QTest::newRow("a stamp after the year 67535, which 16 bits cannot hold")
            << 512 << QDateTime(QDate(67536, 1, 1), QTime(0, 0), Qt::UTC);
}

void TestDdbHeader::shouldRefuseWhatItCannotStamp()
{
    QFETCH(int, size);
    QFETCH(QDateTime, timeStamp);
    const QByteArray source = patternHeader().left(size);
    QByteArray piece = source;
    QVERIFY(!Ddb::stampPieceHeader(piece, timeStamp, 1));
    QCOMPARE(piece, source);
}

void TestDdbHeader::shouldTakeTheHeaderTemplate_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("templateSize");
    QTest::newRow("file of 70 bytes") << 70 << 70;
    QTest::newRow("file of 300 bytes") << 300 << 300;
    QTest::newRow("header only") << 512 << 512;
    QTest::newRow("header and frames") << 4096 << 512;
}

void TestDdbHeader::shouldTakeTheHeaderTemplate()
{
    QFETCH(int, fileSize);
    QFETCH(int, templateSize);
    QByteArray file = patternHeader().repeated(8).left(fileSize);
    QCOMPARE(Ddb::headerTemplate(file), file.left(templateSize));
}

QTEST_GUILESS_MAIN(TestDdbHeader)
#include "tst_ddbheader.moc"
