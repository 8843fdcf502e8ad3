// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// What every system's recording source shares: it owns what it holds, and gives it up when
// moved or destroyed; the opening, reading and closing are each system's (recordingsource_*.cpp).
#include "recordingsource.h"

#include <utility>

namespace System {

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
        m_path = std::move(other.m_path);
        m_file = std::exchange(other.m_file, -1);
        m_folder = std::exchange(other.m_folder, -1);
        m_folderError = std::exchange(other.m_folderError, 0);
        m_size = std::exchange(other.m_size, -1);
        m_identity = std::exchange(other.m_identity, FileIdentity());
    }
    return *this;
}

} // namespace System
