// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "pieceplan.h"
#include "recording.h"

#include <QByteArray>

#include <functional>

namespace Ddb {

// Reads `length` bytes at `offset` of a file into `data`; false when it cannot.
using ReadAt = std::function<bool(qint64 offset, char *data, qint64 length)>;

// The slices a split reads the recording and earlier pieces through, taken once at its start,
// so that its memory stays the same whatever the recording's size.
struct SplitBuffers
{
    // False where they cannot be had (an address-space limit, say).
    bool allocate();

    QByteArray recording;
    QByteArray compared;
};

// Recognises, under the name of piece K, the file this program writes as piece K of the same
// recording for some piece length (an earlier split with other minutes, say): the only file
// a piece may replace. Anything else there may be another recording of the same name.
class EarlierPieces
{
public:
    // All three must outlive this object.
    EarlierPieces(const Recording &recording, const PiecePlan &plan, SplitBuffers &buffers);

    bool isPiece(quint32 number, qint64 fileSize, const ReadAt &read) const;
    // Whether reading the recording itself failed during a comparison: its answer then
    // says nothing.
    bool recordingFailed() const { return m_recordingFailed; }

private:
    bool holdsFrames(const QByteArray &header, qint64 first, quint32 count,
                     const ReadAt &read) const;

    const Recording &m_recording;
    const PiecePlan &m_plan;
    SplitBuffers &m_buffers;
    mutable bool m_recordingFailed = false;
};

} // namespace Ddb
