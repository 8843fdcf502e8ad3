// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "memorygroups.h"

#include "mountinfo.h"
#include "systemmemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <optional>

namespace {

// A v1 limit this large is the kernel's way of saying "no limit".
constexpr qint64 NoV1Limit = qint64(1) << 62;

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    // These are pseudo files of unknown size: read them as a stream.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 parseByteCount(const QByteArray &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok && value >= 0 ? value : -1;
}

// The value of `key` in a "key value" per line text such as memory.stat, -1 without it.
qint64 statValue(const QByteArray &stat, const QByteArray &key)
{
    const QList<QByteArray> lines = stat.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 2 && fields.at(0) == key)
            return parseByteCount(fields.at(1));
    }
    return -1;
}

struct CgroupMount
{
    // cppcheck-suppress unusedStructMember
    QString root; // the folder of the hierarchy that the mount shows
    // cppcheck-suppress unusedStructMember
    QString mountPoint;
};

// Where the v2 hierarchy (`version1` false) or the v1 memory controller is mounted.
std::optional<CgroupMount> cgroupMount(const QString &root, bool version1)
{
    const QVector<System::Mount> mounts = System::mountsFrom(root);
    for (const System::Mount &mount : mounts) {
        const bool wanted = version1
                ? mount.type == "cgroup" && mount.superOptions.contains("memory")
                : mount.type == "cgroup2";
        if (wanted)
            return CgroupMount { mount.root, mount.mountPoint };
    }
    return std::nullopt;
}

// The group path that /proc/self/cgroup gives for v2, or for the v1 memory controller.
std::optional<QString> cgroupPath(const QString &root, bool version1)
{
    const QList<QByteArray> lines
            = contentOf(root + QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray &line : lines) {
        const int first = line.indexOf(':');
        const int second = line.indexOf(':', first + 1);
        if (first < 0 || second < 0)
            continue;
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        const bool wanted = version1 ? controllers.split(',').contains("memory")
                                     : line.left(first) == "0" && controllers.isEmpty();
        if (wanted)
            return QFile::decodeName(line.mid(second + 1));
    }
    return std::nullopt;
}

// The group's folder and those above it up to the mount point, innermost first.
void appendGroups(const QString &root, bool version1, QVector<System::MemoryGroup> &groups)
{
    const std::optional<QString> path = cgroupPath(root, version1);
    const std::optional<CgroupMount> mount = cgroupMount(root, version1);
    if (!path || !mount)
        return;
    const QString mountRoot = mount->root == QLatin1String("/") ? QString() : mount->root;
    QString folder = mount->mountPoint;
    // A container can see its host's path of its group while the mount shows the group itself.
    if (*path == mountRoot || path->startsWith(mountRoot + QLatin1Char('/')))
        folder += QStringView(*path).mid(mountRoot.size());
    folder = QDir::cleanPath(folder);
    if (!QFileInfo(root + folder).isDir())
        folder = mount->mountPoint;
    for (;;) {
        groups.append({ folder, version1 });
        if (folder == mount->mountPoint || folder.size() <= mount->mountPoint.size())
            break;
        folder.truncate(folder.lastIndexOf(QLatin1Char('/')));
    }
}

} // namespace

namespace System {

qint64 memAvailableFrom(const QByteArray &meminfo)
{
    const QList<QByteArray> lines = meminfo.split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QByteArray value = line.mid(13).trimmed();
        if (!value.endsWith(" kB"))
            return -1;
        const qint64 kib = parseByteCount(value.chopped(3));
        return kib < 0 ? -1 : kib * 1024;
    }
    return -1;
}

QVector<MemoryGroup> memoryGroups(const QString &root)
{
    QVector<MemoryGroup> groups;
    appendGroups(root, false, groups);
    appendGroups(root, true, groups);
    return groups;
}

qint64 groupHeadroom(const QString &root, const MemoryGroup &group)
{
    const QString folder = root + group.folder + QLatin1Char('/');
    const QByteArray limitText
            = contentOf(folder
                        + (group.version1 ? QStringLiteral("memory.limit_in_bytes")
                                          : QStringLiteral("memory.max")));
    const qint64 limit = parseByteCount(limitText);
    if (limit < 0 || (group.version1 && limit >= NoV1Limit))
        return -1; // "max", none, or unreadable
    // Without a usage figure the limit itself is the most the group can give.
    const qint64 usage = qMax<qint64>(
            0,
            parseByteCount(contentOf(folder
                                     + (group.version1 ? QStringLiteral("memory.usage_in_bytes")
                                                       : QStringLiteral("memory.current")))));
    // The inactive page cache is reclaimed at once when the group needs memory.
    const qint64 inactive
            = qMax<qint64>(0,
                           statValue(contentOf(folder + QStringLiteral("memory.stat")),
                                     group.version1 ? "total_inactive_file" : "inactive_file"));
    const qint64 workingSet = qMax<qint64>(0, usage - inactive);
    return qMax<qint64>(0, limit - workingSet);
}

qint64 availableMemoryFrom(const QString &root)
{
    qint64 available = memAvailableFrom(contentOf(root + QStringLiteral("/proc/meminfo")));
    if (available < 0)
        return -1;
    const QVector<MemoryGroup> groups = memoryGroups(root);
    for (const MemoryGroup &group : groups) {
        const qint64 headroom = groupHeadroom(root, group);
        if (headroom >= 0)
            available = qMin(available, headroom);
    }
    return qMax<qint64>(0, available - MemoryReserve);
}

} // namespace System
