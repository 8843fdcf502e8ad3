// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// What every system's recording source shares: the path cut into folder and name, and the
// ownership of what it holds, given up when moved or destroyed; the opening, reading and
// closing are each system's (recordingsource_*.cpp).
#include "recordingsource.h"

#include <utility>

namespace System {

PathParts splitPath(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash);
    // The root, and a drive's root, keep their slash.
    if (folder.isEmpty() || folder.endsWith(QLatin1Char(':')))
        folder += QLatin1Char('/');
    return { folder, path.mid(slash + 1) };
}

RecordingSource::RecordingSource() = default;

RecordingSource::~RecordingSource()
{
    close();
}

RecordingSource::RecordingSource(RecordingSource &&other) noexcept
{
    *this = std::move(other);
}

RecordingSource &RecordingSource::operator=(RecordingSource &&other) noexcept
{
    if (this != &other) {
        close();
        m_fileName = std::exchange(other.m_fileName, QString());
        m_file = std::exchange(other.m_file, -1);
        m_folder = std::exchange(other.m_folder, RecordingFolder());
        m_size = std::exchange(other.m_size, -1);
        m_identity = std::exchange(other.m_identity, FileIdentity());
    }
    return *this;
}

// After the system's handle of the file is closed.
void RecordingSource::forget()
{
    m_fileName.clear();
    m_file = -1;
    m_folder.close();
    m_size = -1;
    m_identity = FileIdentity();
}

} // namespace System
