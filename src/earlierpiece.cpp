// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "earlierpiece.h"

#include "ioslice.h"

#include <QtEndian>

#include <cstring>
#include <new>

namespace Ddb {

// The one place that catches an exception: Qt's containers throw std::bad_alloc where memory
// runs out, and a split refused before it writes is better than a vanished window.
bool SplitBuffers::allocate()
{
    try {
        recording = QByteArray(int(IoSliceSize), Qt::Uninitialized);
        compared = QByteArray(int(IoSliceSize), Qt::Uninitialized);
        return true;
    } catch (const std::bad_alloc &) {
        recording = compared = QByteArray();
        return false;
    }
}

EarlierPieces::EarlierPieces(const Recording &recording, const PiecePlan &plan,
                             SplitBuffers &buffers)
    : m_recording(recording)
    , m_plan(plan)
    , m_buffers(buffers)
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
    QByteArray expected = headerTemplate(m_recording.headerBytes());
    if (!stampPieceHeader(expected, m_plan.stampAt(first + count), count) || expected != header)
        return false;
    const qint64 frames = HeaderSize + first * m_plan.frameSize();
    const qint64 length = count * m_plan.frameSize();
    char *ours = m_buffers.recording.data();
    char *theirs = m_buffers.compared.data();
    for (qint64 done = 0; done < length; done += IoSliceSize) {
        const qint64 size = qMin(IoSliceSize, length - done);
        if (!read(HeaderSize + done, theirs, size))
            return false;
        if (!m_recording.read(frames + done, ours, size)) {
            m_recordingFailed = true;
            return false;
        }
        if (std::memcmp(ours, theirs, size_t(size)) != 0)
            return false;
    }
    return true;
}

} // namespace Ddb
