// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Windows, held by its handle and read at given offsets. It is opened
// without write sharing: no program can write it while it is held, and one that still has it
// open for writing keeps it from being opened.
#include "recording.h"

#include "systemio.h"

#include <QDir>

#include <windows.h>

namespace {

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

} // namespace

namespace Ddb {

struct Recording::Private
{
    ~Private()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }

    HANDLE file = INVALID_HANDLE_VALUE;
};

Recording::Recording()
    : d(std::make_unique<Private>())
{ }
Recording::~Recording() = default;
Recording::Recording(Recording &&other) noexcept = default;
Recording &Recording::operator=(Recording &&other) noexcept = default;

bool Recording::openFile(const QString &path, Opened *refusal)
{
    const System::PathParts parts = System::splitPath(path);
    System::RecordingFolder held;
    held.open(parts.folder);
    const QString nativePath = QDir::toNativeSeparators(path);
    const HANDLE file
            = CreateFileW(native(nativePath), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION information {};
    *refusal = Opened::Yes;
    if (file == INVALID_HANDLE_VALUE) {
        // A folder opens only with backup semantics; it is no recording all the same.
        const DWORD attributes = GetFileAttributesW(native(nativePath));
        *refusal = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                ? Opened::NotARegularFile
                : Opened::CannotOpen;
    } else if (!GetFileInformationByHandle(file, &information)) {
        *refusal = Opened::CannotOpen;
    } else if (GetFileType(file) != FILE_TYPE_DISK
               || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *refusal = Opened::NotARegularFile;
    }
    if (*refusal != Opened::Yes) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return false;
    }
    d->file = file;
    m_fileName = parts.name;
    m_folder = std::move(held);
    m_size = qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    m_opened = stateNow();
    m_identity = { information.dwVolumeSerialNumber,
                   quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow };
    return true;
}

void Recording::closeFile()
{
    d = std::make_unique<Private>();
}

bool Recording::read(qint64 offset, char *data, qint64 length) const
{
    return System::readFully(reinterpret_cast<qintptr>(d->file), offset, data, length);
}

Recording::State Recording::stateNow() const
{
    BY_HANDLE_FILE_INFORMATION information {};
    FILE_BASIC_INFO basic {};
    if (!GetFileInformationByHandle(d->file, &information)
        || !GetFileInformationByHandleEx(d->file, FileBasicInfo, &basic, sizeof basic))
        return {};
    return { qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow,
             basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart, false };
}

qint64 Recording::sizeNow() const
{
    LARGE_INTEGER now {};
    return GetFileSizeEx(d->file, &now) ? qint64(now.QuadPart) : -1;
}

} // namespace Ddb
