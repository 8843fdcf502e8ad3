// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

// Helpers shared by the tests that look at piece files. Expected bytes are built here by
// hand, byte by byte, so that they do not depend on the code under test.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include "syntheticrecording.h"

// A zone-free wall-clock time, "yyyy-MM-dd hh:mm:ss"; parsing it as local time would lose
// the hour that a daylight-saving change skips.
inline QDateTime wallClock(const QString &text)
{
    return QDateTime(QDate::fromString(text.left(10), "yyyy-MM-dd"),
                     QTime::fromString(text.mid(11), "hh:mm:ss"), Qt::UTC);
}

// A synthetic recording whose header claims all its frames.
inline QByteArray makeRecording(int channels, int frequency, qint64 frames, const QString &start)
{
    SyntheticRecording recording;
    recording.channels = quint16(channels);
    recording.frequency = quint16(frequency);
    recording.frames = frames;
    recording.start = wallClock(start);
    return recording.bytes();
}

// The recording most rows split: 3 channels at 2 Hz, 300 frames from 10:00:00, which 1-minute
// pieces cut into threePieces().
inline QByteArray threePieceRecording()
{
    return makeRecording(3, 2, 300, "2024-05-06 10:00:00");
}

inline QStringList threePieces()
{
    return { "0:120:2024-05-06 10:01:00", "120:120:2024-05-06 10:02:00",
             "240:60:2024-05-06 10:02:30" };
}

struct Stamp
{
    int year, month, day, hour, minute, second;
};

inline void putLittleEndian(QByteArray &bytes, int offset, quint64 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = char((value >> (8 * i)) & 0xff);
}

// `bytes` with one little-endian field of `width` bytes at `offset` set to `value`.
inline QByteArray withField(QByteArray bytes, int offset, quint64 value, int width)
{
    putLittleEndian(bytes, offset, value, width);
    return bytes;
}

// The source header with only the stamp (bytes 44-55) and frame count (66-69) replaced.
inline QByteArray pieceHeader(QByteArray header, const Stamp &stamp, quint32 frames)
{
    const int fields[]
            = { stamp.year - 2000, stamp.month, stamp.day, stamp.hour, stamp.minute, stamp.second };
    for (int i = 0; i < 6; ++i)
        putLittleEndian(header, 44 + 2 * i, quint16(fields[i]), 2);
    putLittleEndian(header, 66, frames, 4);
    return header;
}

inline QByteArray fileContent(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline bool writeContent(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

// What one piece of `source` must hold, from a description "first:frames:yyyy-MM-dd hh:mm:ss"
// of its first source frame, its frame count and its stamp.
inline QByteArray expectedPiece(const QByteArray &source, const QString &description, int channels)
{
    const QStringList parts = description.split(':');
    const qint64 first = parts.value(0).toLongLong();
    const quint32 frames = parts.value(1).toUInt();
    const QStringList stamp = parts.mid(2).join(':').split(' ');
    const QStringList date = stamp.value(0).split('-');
    const QStringList time = stamp.value(1).split(':');
    const Stamp fields { date.value(0).toInt(), date.value(1).toInt(), date.value(2).toInt(),
                         time.value(0).toInt(), time.value(1).toInt(), time.value(2).toInt() };
    const qint64 frameSize = qint64(channels) * 4;
    return pieceHeader(source.left(512), fields, frames)
            + source.mid(int(512 + first * frameSize), int(frames * frameSize));
}
