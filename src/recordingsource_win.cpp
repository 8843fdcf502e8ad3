// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Windows, held by its handle with its folder: the folder is opened
// without FILE_SHARE_DELETE, so that it cannot be renamed or replaced while pieces go there.
#include "recordingsource.h"

#include <QDir>
#include <QFileInfo>

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
    m_path = path;
    const HANDLE folder = CreateFileW(native(QDir::toNativeSeparators(folderPath())), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const int folderOpenError = folder == INVALID_HANDLE_VALUE ? int(GetLastError()) : 0;
    const HANDLE file = CreateFileW(native(QDir::toNativeSeparators(path)), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION information {};
    Opened result = Opened::Yes;
    if (file == INVALID_HANDLE_VALUE) {
        // A folder opens only with backup semantics; it is no recording all the same.
        const DWORD attributes = GetFileAttributesW(native(QDir::toNativeSeparators(path)));
        result = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                ? Opened::NotARegularFile
                : Opened::Failed;
    } else if (!GetFileInformationByHandle(file, &information)) {
        result = Opened::Failed;
    }
    if (result == Opened::Yes
        && (GetFileType(file) != FILE_TYPE_DISK
            || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)))
        result = Opened::NotARegularFile;
    if (result != Opened::Yes) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle(folder);
        m_path.clear();
        return result;
    }
    m_file = valueOf(file);
    m_folder = valueOf(folder);
    m_folderError = folderOpenError;
    m_size = qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    m_identity = { information.dwVolumeSerialNumber,
                   quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow };
    return Opened::Yes;
}

bool RecordingSource::read(char *data, qint64 size)
{
    for (qint64 done = 0; done < size;) {
        OVERLAPPED at {};
        at.Offset = DWORD(done);
        at.OffsetHigh = DWORD(done >> 32);
        DWORD got = 0;
        const DWORD wanted = DWORD(qMin<qint64>(size - done, 64 << 20));
        // An end before the size seen at opening is an end, never a wait for more.
        if (!ReadFile(handleOf(m_file), data + done, wanted, &got, &at) || got == 0)
            return false;
        done += got;
    }
    return true;
}

void RecordingSource::releaseCachedPages()
{ }

bool RecordingSource::lockForSplit()
{
    OVERLAPPED whole {};
    // Only a lock held elsewhere refuses; a share that cannot lock does not.
    return LockFileEx(handleOf(m_file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                      MAXDWORD, MAXDWORD, &whole)
            || GetLastError() != ERROR_LOCK_VIOLATION;
}

void RecordingSource::unlock()
{
    OVERLAPPED whole {};
    UnlockFileEx(handleOf(m_file), 0, MAXDWORD, MAXDWORD, &whole);
}

void RecordingSource::close()
{
    if (m_file != -1)
        CloseHandle(handleOf(m_file));
    if (m_folder != -1)
        CloseHandle(handleOf(m_folder));
    m_file = -1;
    m_folder = -1;
    m_folderError = 0;
    m_size = -1;
    m_identity = FileIdentity();
    m_path.clear();
}

QString RecordingSource::folderPath() const
{
    return QFileInfo(m_path).absolutePath();
}

QString RecordingSource::fileName() const
{
    return QFileInfo(m_path).fileName();
}

} // namespace System
