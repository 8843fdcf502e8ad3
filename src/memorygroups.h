// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// How much memory Linux's memory control groups (cgroups, v1 and v2) and /proc/meminfo leave
// this process, read from the files the kernel shows (memorygroups_linux.cpp).
namespace System {

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

} // namespace System
