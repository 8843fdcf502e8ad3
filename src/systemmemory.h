// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QtGlobal>

// How much memory this process can still take without the system swapping or killing it.
namespace System {

// Kept free for the window, the toolkit and the pieces' page cache.
constexpr qint64 MemoryReserve = qint64(64) << 20;

// What the system can give now, less the reserve; -1 where the system does not tell.
// Swap is not counted: a recording held in swap would thrash until something kills the window.
qint64 availableMemory();

// Populates a fresh buffer's pages in one call, far cheaper than faulting them in one by one
// while reading into it. Only a hint: where the system lacks it, nothing happens.
void prefaultBuffer(char *data, qint64 size);

} // namespace System
