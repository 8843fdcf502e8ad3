// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "syntheticrecording.h"

#include "ddbheader.h"

#include <QSaveFile>
#include <QtEndian>

#include <array>
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
    // Filled in a plain array: GCC's overflow check misreads writes through a Qt 5
    // QByteArray's data() at -O2.
    std::array<uchar, Ddb::HeaderSize> header;
    for (std::size_t i = 0; i < header.size(); ++i)
        header[i] = uchar(i * 31 + 7);
    // Written field by field here, not by the code that stamps pieces, so that a fault there
    // cannot hide in the recordings it is tested with. The six stamp fields lie side by side.
    const QDate date = start.date();
    const QTime time = start.time();
    const int stamp[] = { date.year() - Ddb::YearBase,
                          date.month(),
                          date.day(),
                          time.hour(),
                          time.minute(),
                          time.second() };
    for (int i = 0; i < 6; ++i)
        qToLittleEndian<quint16>(quint16(stamp[i]), header.data() + Ddb::YearOffset + 2 * i);
    qToLittleEndian<quint16>(frequency, header.data() + Ddb::FrequencyOffset);
    qToLittleEndian<quint16>(channels, header.data() + Ddb::ChannelsOffset);
    const qint64 claimed = qMin<qint64>(frames, std::numeric_limits<quint32>::max());
    qToLittleEndian<quint32>(quint32(claimed), header.data() + Ddb::SamplesOffset);
    return QByteArray(reinterpret_cast<const char *>(header.data()), int(header.size()));
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
