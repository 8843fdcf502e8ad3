// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "mountinfo.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// mountinfo writes blanks, tabs, newlines, backslashes and, in options, commas as octal
// escapes.
QByteArray unescaped(const QByteArray &field)
{
    QByteArray text;
    for (int i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            text += char(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            text += field.at(i);
        }
    }
    return text;
}

bool isMemory(const QByteArray &type)
{
    return type == "tmpfs" || type == "ramfs";
}

// The mount that holds `path`: the one with the longest mount point above it, the last
// mounted where several share one.
const System::Mount *mountHolding(const QVector<System::Mount> &mounts, const QString &path)
{
    const System::Mount *holding = nullptr;
    for (const System::Mount &mount : mounts) {
        const QString &point = mount.mountPoint;
        const bool above = point == QLatin1String("/") || path == point
                || path.startsWith(point + QLatin1Char('/'));
        if (above && (!holding || point.size() >= holding->mountPoint.size()))
            holding = &mount;
    }
    return holding;
}

QString upperLayerOf(const System::Mount &overlay)
{
    const QByteArray key = "upperdir=";
    const auto upper
            = std::find_if(overlay.superOptions.cbegin(), overlay.superOptions.cend(),
                           [&](const QByteArray &option) { return option.startsWith(key); });
    return upper == overlay.superOptions.cend()
            ? QString()
            : QDir::cleanPath(QFile::decodeName(upper->mid(key.size())));
}

} // namespace

namespace System {

QVector<Mount> mountsFrom(const QString &root)
{
    QFile file(root + QStringLiteral("/proc/self/mountinfo"));
    // A pseudo file of unknown size: read as a stream.
    const QList<QByteArray> lines
            = file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    QVector<Mount> mounts;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        const int separator = fields.indexOf("-");
        if (separator < 5 || separator + 3 >= fields.size())
            continue;
        Mount mount { fields.at(2),
                      QFile::decodeName(unescaped(fields.at(3))),
                      QFile::decodeName(unescaped(fields.at(4))),
                      fields.at(separator + 1),
                      {} };
        const QList<QByteArray> options = fields.at(separator + 3).split(',');
        for (const QByteArray &option : options)
            mount.superOptions << unescaped(option);
        mounts << mount;
    }
    return mounts;
}

bool storesInMemory(const QString &root, const QByteArray &device)
{
    const QVector<Mount> mounts = mountsFrom(root);
    // The last mounted of those that show the file system.
    const auto last = std::find_if(mounts.crbegin(), mounts.crend(),
                                   [&](const Mount &mount) { return mount.device == device; });
    const Mount *mount = last == mounts.crend() ? nullptr : &*last;
    // An overlay's upper layer may itself be an overlay, as in a container on a live system.
    for (int depth = 0; mount && mount->type == "overlay" && depth < 8; ++depth) {
        const QString upper = upperLayerOf(*mount);
        mount = upper.isEmpty() ? nullptr : mountHolding(mounts, upper);
    }
    return mount && isMemory(mount->type);
}

} // namespace System
