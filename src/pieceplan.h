// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "ddbheader.h"

#include <QDateTime>
#include <QString>

namespace Ddb {

struct Piece
{
    quint32 number = 0; // counts from 1, as in the file name
    qint64 firstFrame = 0;
    quint32 plannedFrames = 0; // what the plan gives the piece
    // What it holds: the whole frames of its share that exist in the file. Its header
    // states this count.
    quint32 frames = 0;
    // Where those frames lie in the source file.
    qint64 firstByte = 0;
    qint64 byteLength = 0;
    // The time at which the frames it holds end: the recording's stamp plus
    // (firstFrame + frames) div frequency seconds.
    QDateTime timeStamp;

    // A piece without a frame of its share, or from a file without a whole header, would
    // be no sound DDB file and is not written.
    bool isWritable() const { return frames > 0; }
    bool isWhole() const { return frames == plannedFrames; }
};

// How a recording is cut: full pieces of `minutes` each, then the remaining frames; each
// piece holding what the file really has of its share.
class PiecePlan
{
public:
    enum class Status { Ready, NoFrequency, TooManyPieces };

    // Beyond this a header is taken for corrupt rather than creating millions of files.
    static constexpr quint32 MaxPieces = 100000;

    // `fileSize` is the size of the whole recording file, header included.
    PiecePlan(const Header &header, quint16 minutes, qint64 fileSize);

    Status status() const;
    quint32 pieceLength() const { return m_pieceLength; }
    quint32 remainder() const { return m_remainder; }
    quint32 pieceCount() const { return m_pieceCount; }
    // index counts from 0 and must be below pieceCount().
    Piece piece(quint32 index) const;
    // The stamp of a piece whose frames end before frame `endFrame`: the recording's stamp
    // plus endFrame div frequency seconds.
    QDateTime stampAt(qint64 endFrame) const;
    // The frames the header counts that the file holds whole.
    qint64 framesHeld() const;
    qint64 frameSize() const { return m_frameSize; }

private:
    quint16 m_frequency;
    quint32 m_samples;
    qint64 m_frameSize;
    qint64 m_framesInFile; // whole frames the data area holds
    QDateTime m_start;
    quint32 m_pieceLength = 0;
    quint32 m_remainder = 0;
    quint32 m_fullPieces = 0;
    quint32 m_pieceCount = 0;
};

// The whole frames a file of `fileSize` bytes holds after a whole header; every counted one
// when frames take no bytes.
qint64 wholeFramesIn(qint64 fileSize, qint64 frameSize);

// "_N" goes before the extension of the recording's file name (no folder), or at its end when
// it has none, so that a piece never takes its source's name.
QString pieceFileName(const QString &name, quint32 number);

} // namespace Ddb
