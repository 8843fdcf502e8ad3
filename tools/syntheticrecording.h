// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Recordings made up for tests, demos and the benchmark. Every value tells where it
// stands: the value of channel c in frame k is k * channels + c (low 32 bits), and the
// header bytes that no field uses hold a fixed pattern.
struct SyntheticRecording
{
    quint16 channels = 8;
    quint16 frequency = 1000;
    qint64 frames = 0; // frames in the data area
    QDateTime start = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);

    qint64 dataSize() const;
    qint64 fileSize() const;
    QByteArray header() const; // claims `frames` samples, clamped to 32 bits
    QByteArray frameBytes(qint64 firstFrame, qint64 count) const;
    QByteArray bytes() const;
    bool writeTo(const QString &path) const; // streams, so size is not bounded by memory
};

quint32 syntheticValue(qint64 frame, quint16 channel, quint16 channels);
