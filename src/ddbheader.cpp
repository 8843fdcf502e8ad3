// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "ddbheader.h"

#include <QtEndian>

namespace {

quint16 read16(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

quint32 read32(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

template<typename T> void write(QByteArray &bytes, int offset, T value)
{
    char encoded[sizeof(T)];
    qToLittleEndian<T>(value, encoded);
    bytes.replace(offset, int(sizeof(T)), encoded, int(sizeof(T)));
}

void write16(QByteArray &bytes, int offset, int value)
{
    write<quint16>(bytes, offset, quint16(value));
}

} // namespace

namespace Ddb {

QDateTime Header::timeStamp() const
{
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    // An invalid date or time gives no stamp: QDateTime would turn an invalid time into
    // midnight of that day.
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

std::optional<Ddb::Header> readHeader(const QByteArray &recording)
{
    if (recording.size() < FieldsEnd)
        return std::nullopt;
    Ddb::Header header;
    header.year = read16(recording, YearOffset) + YearBase;
    header.month = read16(recording, MonthOffset);
    header.day = read16(recording, DayOffset);
    header.hour = read16(recording, HourOffset);
    header.minute = read16(recording, MinuteOffset);
    header.second = read16(recording, SecondOffset);
    header.frequency = read16(recording, FrequencyOffset);
    header.channels = read16(recording, ChannelsOffset);
    header.samples = read32(recording, SamplesOffset);
    return header;
}

QByteArray headerTemplate(const QByteArray &recording)
{
    return recording.left(HeaderSize);
}

bool stampPieceHeader(QByteArray &header, const QDateTime &timeStamp, quint32 frames)
{
    if (header.size() < FieldsEnd)
        return false;
    if (timeStamp.isValid() && timeStamp.date().year() > LastYear)
        return false;
    if (timeStamp.isValid()) {
        const QDate date = timeStamp.date();
        const QTime time = timeStamp.time();
        write16(header, YearOffset, date.year() - YearBase);
        write16(header, MonthOffset, date.month());
        write16(header, DayOffset, date.day());
        write16(header, HourOffset, time.hour());
        write16(header, MinuteOffset, time.minute());
        write16(header, SecondOffset, time.second());
    }
    write<quint32>(header, SamplesOffset, frames);
    return true;
}

} // namespace Ddb
