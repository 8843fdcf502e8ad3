// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QtGlobal>

// How much memory this process can still take without the system swapping.
namespace Ddb {

// Kept free for the window, the toolkit and the pieces' page cache.
constexpr qint64 MemoryReserve = qint64(64) << 20;

// What the system can give now, less the reserve; -1 where the system does not tell.
// Swap is not counted: a recording held in swap would thrash until something kills the window.
qint64 availableMemory();

// The parts of availableMemory(), from the texts of /proc/meminfo and of a cgroup's
// memory.max and memory.current. Each is -1 when its text sets no limit.
qint64 memAvailableFrom(const QByteArray &meminfo);
qint64 cgroupHeadroomFrom(const QByteArray &max, const QByteArray &current);

} // namespace Ddb
