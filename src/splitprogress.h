// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QAtomicInteger>

namespace Ddb {

// How far a split is, and whether it has been asked to stop: written by the split's thread,
// read and asked by the window's.
class SplitProgress
{
public:
    // The piece being written, counted from 1; 0 before the first.
    quint32 piece() const { return m_piece.loadAcquire(); }
    void setPiece(quint32 number) { m_piece.storeRelease(number); }

    // Taken at the next boundary between two slices of a piece, or between two pieces.
    void askToStop() { m_stopAsked.storeRelease(true); }
    bool isStopAsked() const { return m_stopAsked.loadAcquire(); }

private:
    QAtomicInteger<quint32> m_piece { 0 };
    QAtomicInteger<bool> m_stopAsked { false };
};

} // namespace Ddb
