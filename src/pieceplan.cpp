#include "pieceplan.h"

PiecePlan::PiecePlan(const DdbHeader &header, quint16 minutes)
    : m_minutes(minutes)
    , m_frequency(header.frequency)
    , m_frameSize(header.frameSize())
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
    const bool full = index < m_fullPieces;
    piece.frames = full ? m_pieceLength : m_remainder;
    piece.firstByte = Ddb::HeaderSize + piece.firstFrame * m_frameSize;
    piece.byteLength = piece.frames * m_frameSize;
    const qint64 fullSeconds = qint64(m_minutes) * 60;
    const qint64 elapsed = full ? (qint64(index) + 1) * fullSeconds
                                : qint64(m_fullPieces) * fullSeconds + m_remainder / m_frequency;
    piece.timeStamp = m_start.addSecs(elapsed);
    return piece;
}

namespace Ddb {

QString pieceFileName(const QString &sourcePath, quint32 number)
{
    const int nameStart = sourcePath.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = sourcePath.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char('_') + QString::number(number);
    if (dot < nameStart)
        return sourcePath + suffix;
    return QString(sourcePath).insert(dot, suffix);
}

} // namespace Ddb
