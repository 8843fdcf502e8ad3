// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "pieceplan.h"

#include <QByteArray>

#include <functional>

namespace Ddb {

// Reads `length` bytes at `offset` of a file into `data`; false when it cannot.
using ReadAt = std::function<bool(qint64 offset, char *data, qint64 length)>;

// Recognises, under the name of piece K, the file this program writes as piece K of the same
// recording for some piece length (an earlier split with other minutes, say): the only file
// a piece may replace. Anything else there may be another recording of the same name.
class EarlierPieces
{
public:
    // Both must outlive this object.
    EarlierPieces(const QByteArray &recording, const PiecePlan &plan);

    bool isPiece(quint32 number, qint64 fileSize, const ReadAt &read) const;

private:
    bool holdsFrames(const QByteArray &header, qint64 first, quint32 count,
                     const ReadAt &read) const;

    const QByteArray &m_recording;
    const PiecePlan &m_plan;
};

} // namespace Ddb
