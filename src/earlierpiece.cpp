// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "earlierpiece.h"

#include "ioslice.h"

#include <QtEndian>

#include <cstring>

namespace Ddb {

EarlierPieces::EarlierPieces(const QByteArray &recording, const Ddb::PiecePlan &plan)
    : m_recording(recording)
    , m_plan(plan)
{ }

bool EarlierPieces::isPiece(quint32 number, qint64 fileSize, const ReadAt &read) const
{
    QByteArray header(HeaderSize, Qt::Uninitialized);
    if (number == 0 || fileSize < HeaderSize || !read(0, header.data(), HeaderSize))
        return false;
    const quint32 count = qFromLittleEndian<quint32>(header.constData() + SamplesOffset);
    const qint64 held = m_plan.framesHeld();
    if (count == 0 || fileSize != HeaderSize + count * m_plan.frameSize())
        return false;
    // A full piece of that length, or the last one (which a damaged recording may cut short).
    const qint64 asFull = qint64(number - 1) * count;
    const qint64 asLast = held - count;
    const auto isThatPiece = [&](qint64 first) {
        return first >= 0 && first + count <= held && holdsFrames(header, first, count, read);
    };
    return isThatPiece(asFull) || isThatPiece(asLast);
}

bool EarlierPieces::holdsFrames(const QByteArray &header, qint64 first, quint32 count,
                                const ReadAt &read) const
{
    QByteArray expected = headerTemplate(m_recording);
    if (!stampPieceHeader(expected, m_plan.stampAt(first + count), count) || expected != header)
        return false;
    const char *frames = m_recording.constData() + HeaderSize + first * m_plan.frameSize();
    const qint64 length = count * m_plan.frameSize();
    QByteArray slice;
    for (qint64 done = 0; done < length; done += IoSliceSize) {
        const qint64 size = qMin(IoSliceSize, length - done);
        slice.resize(int(size));
        if (!read(HeaderSize + done, slice.data(), size)
            || std::memcmp(slice.constData(), frames + done, size_t(size)) != 0)
            return false;
    }
    return true;
}

} // namespace Ddb
