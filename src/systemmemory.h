// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// How much memory this process can still take without the system swapping or killing it.
namespace System {

// Kept free for the window, the toolkit and the pieces' page cache.
constexpr qint64 MemoryReserve = qint64(64) << 20;

// What the system can give now, less the reserve; -1 where the system does not tell.
// Swap is not counted: a recording held in swap would thrash until something kills the window.
qint64 availableMemory();

// A memory control group (cgroup) of this process, or one above it, that may limit it.
struct MemoryGroup
{
    QString folder; // as seen from the root given to memoryGroups()
    bool version1 = false; // the v1 memory controller's files, else v2's
};

// What Linux's /proc and /sys under `root` tell (an empty root: the real ones): the least of
// MemAvailable and of each memory group's limit less its working set, less the reserve.
// -1 when /proc/meminfo tells nothing.
qint64 availableMemoryFrom(const QString &root);

// The memory groups of this process and their ancestors, innermost first: the v2 group and
// the v1 memory group, where mounted.
QVector<MemoryGroup> memoryGroups(const QString &root);

// A group's limit less its working set (usage less the page cache it can drop at once);
// -1 when it has no limit.
qint64 groupHeadroom(const QString &root, const MemoryGroup &group);

// MemAvailable of a /proc/meminfo text in bytes, -1 when it has none.
qint64 memAvailableFrom(const QByteArray &meminfo);

// Populates a fresh buffer's pages in one call, far cheaper than faulting them in one by one
// while reading into it. Only a hint: where the system lacks it, nothing happens.
void prefaultBuffer(char *data, qint64 size);

} // namespace System
