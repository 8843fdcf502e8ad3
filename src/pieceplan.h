#pragma once

#include "ddbheader.h"

#include <QDateTime>
#include <QString>

struct Piece
{
    quint32 number = 0; // counts from 1, as in the file name
    qint64 firstFrame = 0;
    quint32 frames = 0;
    // Where the piece's frames lie in the source file, as far as the header claims them.
    qint64 firstByte = 0;
    qint64 byteLength = 0;
    // The time at which the piece ends: the recording's stamp plus the length of
    // this piece and of every piece before it.
    QDateTime timeStamp;
};

// How a recording is cut: full pieces of `minutes` each, then the remaining frames.
class PiecePlan
{
public:
    enum class Status { Ready, NoFrequency, TooManyPieces };

    // Beyond this a header is taken for corrupt rather than creating millions of files.
    static constexpr quint32 MaxPieces = 100000;

    PiecePlan(const DdbHeader &header, quint16 minutes);

    Status status() const;
    quint32 pieceLength() const { return m_pieceLength; }
    quint32 remainder() const { return m_remainder; }
    quint32 pieceCount() const { return m_pieceCount; }
    // index counts from 0 and must be below pieceCount().
    Piece piece(quint32 index) const;

private:
    quint32 m_minutes;
    quint16 m_frequency;
    qint64 m_frameSize;
    QDateTime m_start;
    quint32 m_pieceLength = 0;
    quint32 m_remainder = 0;
    quint32 m_fullPieces = 0;
    quint32 m_pieceCount = 0;
};

namespace Ddb {

// "_N" goes before the extension of the file name, or at its end when it has none,
// so that a piece never takes its source's name.
QString pieceFileName(const QString &sourcePath, quint32 number);

} // namespace Ddb
