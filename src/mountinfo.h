// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

// The mounts Linux's /proc/self/mountinfo shows this process, read under a root folder, so
// that the memory figures and the file system that stores the pieces can be tested with a
// fake one (mountinfo_linux.cpp).
namespace System {

struct Mount
{
    QByteArray device; // "major:minor"
    QString root; // the folder of its file system that the mount shows
    QString mountPoint;
    QByteArray type;
    QList<QByteArray> superOptions; // each as the kernel wrote it, escapes undone
};

// The mounts under `root` (an empty root: the real /proc), in the order the kernel lists them.
QVector<Mount> mountsFrom(const QString &root);

// Whether what is written on the file system of `device` ("major:minor") takes memory: tmpfs
// or ramfs itself, or an overlay whose upper layer, where writes go, is one. False where it
// cannot be told.
bool storesInMemory(const QString &root, const QByteArray &device);

} // namespace System
