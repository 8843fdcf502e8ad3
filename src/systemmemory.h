// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QtGlobal>

// How much memory this process can still take without the system swapping or killing it.
namespace System {

// Kept free for the window, the toolkit and the pieces' page cache.
constexpr qint64 MemoryReserve = qint64(64) << 20;

// What the system can give now, less the reserve; -1 where the system does not tell.
// Swap is not counted: pieces on a folder of memory pushed to swap would thrash.
qint64 availableMemory();

} // namespace System
