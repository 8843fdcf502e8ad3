// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "syntheticrecording.h"

#include "ddbheader.h"

#include <QSaveFile>
#include <QtEndian>

#include <limits>

quint32 syntheticValue(qint64 frame, quint16 channel, quint16 channels)
{
    return quint32(quint64(frame) * channels + channel);
}

qint64 SyntheticRecording::dataSize() const
{
    return frames * channels * Ddb::BytesPerValue;
}

qint64 SyntheticRecording::fileSize() const
{
    return Ddb::HeaderSize + dataSize();
}

QByteArray SyntheticRecording::header() const
{
    QByteArray header(Ddb::HeaderSize, Qt::Uninitialized);
    for (int i = 0; i < header.size(); ++i)
        header[i] = char(i * 31 + 7);
    const qint64 claimed = qMin<qint64>(frames, std::numeric_limits<quint32>::max());
    Ddb::stampPieceHeader(header, start, quint32(claimed));
    qToLittleEndian<quint16>(frequency, header.data() + Ddb::FrequencyOffset);
    qToLittleEndian<quint16>(channels, header.data() + Ddb::ChannelsOffset);
    return header;
}

QByteArray SyntheticRecording::frameBytes(qint64 firstFrame, qint64 count) const
{
    QByteArray encoded(count * channels * Ddb::BytesPerValue, Qt::Uninitialized);
    char *out = encoded.data();
    for (qint64 frame = firstFrame; frame < firstFrame + count; ++frame) {
        for (quint16 channel = 0; channel < channels; ++channel) {
            qToLittleEndian<quint32>(syntheticValue(frame, channel, channels), out);
            out += Ddb::BytesPerValue;
        }
    }
    return encoded;
}

QByteArray SyntheticRecording::bytes() const
{
    return header() + frameBytes(0, frames);
}

bool SyntheticRecording::writeTo(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(header()) != Ddb::HeaderSize)
        return false;
    constexpr qint64 chunkFrames = 1 << 16;
    for (qint64 first = 0; first < frames; first += chunkFrames) {
        const QByteArray chunk = frameBytes(first, qMin(chunkFrames, frames - first));
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return file.commit();
}
