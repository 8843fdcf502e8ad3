// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "systemmemory.h"

#include <QFile>
#include <QList>

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    // These are pseudo files of unknown size: read them as a stream.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 toBytes(const QByteArray &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok && value >= 0 ? value : -1;
}

// The tightest headroom of the cgroup (v2) this process is in and of every cgroup above it.
qint64 cgroupHeadroom()
{
    const QList<QByteArray> lines = contentOf(QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("0::/"))
            continue;
        QByteArray group = line.mid(3);
        qint64 tightest = -1;
        for (const char *root : { "/sys/fs/cgroup", "/sys/fs/cgroup/unified" }) {
            for (QByteArray path = root + group; path.size() > int(qstrlen(root));
                 path.truncate(path.lastIndexOf('/'))) {
                const QString folder = QString::fromLocal8Bit(path);
                const qint64 headroom = Ddb::cgroupHeadroomFrom(
                        contentOf(folder + QStringLiteral("/memory.max")),
                        contentOf(folder + QStringLiteral("/memory.current")));
                if (headroom >= 0 && (tightest < 0 || headroom < tightest))
                    tightest = headroom;
            }
        }
        return tightest;
    }
    return -1;
}

} // namespace

namespace Ddb {

qint64 memAvailableFrom(const QByteArray &meminfo)
{
    const QList<QByteArray> lines = meminfo.split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QByteArray value = line.mid(13).trimmed();
        if (!value.endsWith(" kB"))
            return -1;
        const qint64 kib = toBytes(value.chopped(3));
        return kib < 0 ? -1 : kib * 1024;
    }
    return -1;
}

qint64 cgroupHeadroomFrom(const QByteArray &max, const QByteArray &current)
{
    const qint64 limit = toBytes(max);
    const qint64 used = toBytes(current);
    if (limit < 0 || used < 0)
        return -1;
    return qMax<qint64>(0, limit - used);
}

qint64 availableMemory()
{
#if defined(Q_OS_LINUX)
    qint64 available = memAvailableFrom(contentOf(QStringLiteral("/proc/meminfo")));
    if (available < 0)
        return -1;
    const qint64 headroom = cgroupHeadroom();
    if (headroom >= 0)
        available = qMin(available, headroom);
    return qMax<qint64>(0, available - MemoryReserve);
#else
    return -1;
#endif
}

} // namespace Ddb
