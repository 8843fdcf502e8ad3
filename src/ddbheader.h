// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

#include <optional>

// The fixed layout of a DDB recording: a 512-byte header, then sample frames of one
// 4-byte value per channel. All fields are unsigned little-endian.
namespace Ddb {

constexpr int HeaderSize = 512;
constexpr int YearOffset = 44;
constexpr int MonthOffset = 46;
constexpr int DayOffset = 48;
constexpr int HourOffset = 50;
constexpr int MinuteOffset = 52;
constexpr int SecondOffset = 54;
constexpr int FrequencyOffset = 58;
constexpr int ChannelsOffset = 64;
constexpr int SamplesOffset = 66;
// A file shorter than this lacks some header fields and is no recording.
constexpr int FieldsEnd = 70;
constexpr int BytesPerValue = 4;
// The stored year counts from this one; 16 bits reach this far.
constexpr int YearBase = 2000;
constexpr int LastYear = YearBase + 0xffff;

// The header fields a recording's pieces depend on.
struct Header
{
    int year = 0; // full calendar year: the stored value + 2000, never wrapped
    quint16 month = 0;
    quint16 day = 0;
    quint16 hour = 0;
    quint16 minute = 0;
    quint16 second = 0;
    quint16 frequency = 0; // frames per second
    quint16 channels = 0;
    quint32 samples = 0; // frames

    qint64 frameSize() const { return qint64(channels) * BytesPerValue; }
    // The stamp is a wall-clock reading without a zone; it is held in UTC so that
    // no daylight-saving rule of this machine shifts or invalidates it.
    QDateTime timeStamp() const;
};

// Empty when the bytes are too short to hold every header field.
std::optional<Header> readHeader(const QByteArray &recording);

// The bytes every piece header starts from: the source's first 512 (all when shorter).
QByteArray headerTemplate(const QByteArray &recording);

// Rewrites the time stamp and the frame count of a header copy and nothing else.
// An invalid time stamp leaves the stamp bytes as they are. Returns false, changing
// nothing, when the copy is too short to hold the fields or the stamp is after LastYear.
bool stampPieceHeader(QByteArray &header, const QDateTime &timeStamp, quint32 frames);

} // namespace Ddb
