// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Windows, held by its handle, with its folder.
#include "recordingsource.h"

#include "systemio.h"

#include <QDir>

#include <windows.h>

namespace {

HANDLE handleOf(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

qintptr valueOf(HANDLE handle)
{
    return reinterpret_cast<qintptr>(handle);
}

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

} // namespace

namespace System {

RecordingSource::Opened RecordingSource::open(const QString &path)
{
    close();
    const PathParts parts = splitPath(path);
    RecordingFolder held;
    held.open(parts.folder);
    const QString nativePath = QDir::toNativeSeparators(path);
    const HANDLE file = CreateFileW(native(nativePath), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION information {};
    Opened result = Opened::Yes;
    if (file == INVALID_HANDLE_VALUE) {
        // A folder opens only with backup semantics; it is no recording all the same.
        const DWORD attributes = GetFileAttributesW(native(nativePath));
        result = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                ? Opened::NotARegularFile
                : Opened::Failed;
    } else if (!GetFileInformationByHandle(file, &information)) {
        result = Opened::Failed;
    } else if (GetFileType(file) != FILE_TYPE_DISK
               || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result = Opened::NotARegularFile;
    }
    if (result != Opened::Yes) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return result;
    }
    m_fileName = parts.name;
    m_file = valueOf(file);
    m_folder = std::move(held);
    m_size = qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    m_identity = { information.dwVolumeSerialNumber,
                   quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow };
    return Opened::Yes;
}

bool RecordingSource::read(char *data, qint64 size)
{
    return readFully(m_file, 0, data, size);
}

// Windows keeps no second copy worth dropping: its cache is given back under pressure.
void RecordingSource::releaseCachedPages()
{ }

void RecordingSource::close()
{
    if (m_file != -1)
        CloseHandle(handleOf(m_file));
    forget();
}

} // namespace System
