// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "pieceplan.h"

#include <limits>

namespace Ddb {

qint64 wholeFramesIn(qint64 fileSize, qint64 frameSize)
{
    // Every piece starts with a full header copy; a shorter file gives none.
    if (fileSize < HeaderSize)
        return 0;
    // Frames of no channels take no bytes: every counted one exists.
    if (frameSize == 0)
        return std::numeric_limits<qint64>::max();
    return (fileSize - HeaderSize) / frameSize;
}

PiecePlan::PiecePlan(const Header &header, quint16 minutes, qint64 fileSize)
    : m_frequency(header.frequency)
    , m_samples(header.samples)
    , m_frameSize(header.frameSize())
    , m_framesInFile(wholeFramesIn(fileSize, header.frameSize()))
    , m_start(header.timeStamp())
    , m_pieceLength(quint32(minutes) * header.frequency * 60)
{
    if (m_pieceLength == 0)
        return;
    m_fullPieces = header.samples / m_pieceLength;
    m_remainder = header.samples % m_pieceLength;
    m_pieceCount = m_fullPieces + (m_remainder != 0 ? 1 : 0);
}

PiecePlan::Status PiecePlan::status() const
{
    if (m_pieceLength == 0)
        return Status::NoFrequency;
    if (m_pieceCount > MaxPieces)
        return Status::TooManyPieces;
    return Status::Ready;
}

Piece PiecePlan::piece(quint32 index) const
{
    Q_ASSERT(index < m_pieceCount);
    Piece piece;
    piece.number = index + 1;
    piece.firstFrame = qint64(index) * m_pieceLength;
    piece.plannedFrames = index < m_fullPieces ? m_pieceLength : m_remainder;
    const qint64 framesLeft = qMax<qint64>(0, m_framesInFile - piece.firstFrame);
    piece.frames = quint32(qMin<qint64>(piece.plannedFrames, framesLeft));
    piece.firstByte = HeaderSize + piece.firstFrame * m_frameSize;
    piece.byteLength = piece.frames * m_frameSize;
    // For a whole piece this is the recording's stamp plus all full pieces so far, plus
    // the remainder's whole seconds for the last one.
    piece.timeStamp = stampAt(piece.firstFrame + piece.frames);
    return piece;
}

QDateTime PiecePlan::stampAt(qint64 endFrame) const
{
    return m_start.addSecs(endFrame / m_frequency);
}

qint64 PiecePlan::framesHeld() const
{
    return qMin<qint64>(m_samples, m_framesInFile);
}

QString pieceFileName(const QString &name, quint32 number)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char('_') + QString::number(number);
    return dot < 0 ? name + suffix : QString(name).insert(dot, suffix);
}

} // namespace Ddb
