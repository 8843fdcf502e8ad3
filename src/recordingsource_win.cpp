// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's file on Windows, held by its handle with its folder: the folder is opened
// without FILE_SHARE_DELETE, so that it cannot be renamed or replaced while pieces go there.
#include "recordingsource.h"

#include "systemio.h"

#include <QDir>

#include <utility>

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
    const HANDLE folder = CreateFileW(native(QDir::toNativeSeparators(parts.folder)), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const Error folderOpenError = folder == INVALID_HANDLE_VALUE ? lastError() : Error();
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
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle(folder);
        return result;
    }
    m_path = parts;
    m_file = valueOf(file);
    m_folderHandle = valueOf(folder);
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (folder != INVALID_HANDLE_VALUE
        && GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                         MAX_PATH + 1))
        m_fineTimes = !QString::fromWCharArray(fileSystem)
                               .contains(QLatin1String("FAT"), Qt::CaseInsensitive);
    m_folderError = folderOpenError;
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

// A named mutex for the folder, which every process on this machine reaches by the folder's
// identity: in the machine's namespace where this user may create one, else the session's.
RecordingSource::FolderLock RecordingSource::lockFolder()
{
    BY_HANDLE_FILE_INFORMATION folder {};
    if (!GetFileInformationByHandle(handleOf(m_folderHandle), &folder))
        return FolderLock::NotLockable;
    const QString name = QStringLiteral("tranchel-folder-%1-%2-%3")
                                 .arg(folder.dwVolumeSerialNumber, 0, 16)
                                 .arg(folder.nFileIndexHigh, 0, 16)
                                 .arg(folder.nFileIndexLow, 0, 16);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, native(QStringLiteral("Global\\") + name));
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = CreateMutexW(nullptr, FALSE, native(QStringLiteral("Local\\") + name));
    if (!mutex)
        return FolderLock::NotLockable;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        m_folderLock = valueOf(mutex);
        return FolderLock::Held;
    }
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? FolderLock::HeldElsewhere : FolderLock::NotLockable;
}

void RecordingSource::unlockFolder()
{
    if (m_folderLock == -1)
        return;
    ReleaseMutex(handleOf(m_folderLock));
    CloseHandle(handleOf(std::exchange(m_folderLock, -1)));
}

// Each piece is moved into the folder with write-through, which stands in for this.
Error RecordingSource::syncFolder() const
{
    return {};
}

// The folder is held without delete sharing, so it is never removed meanwhile.
QString RecordingSource::folderPathNow(bool *removed) const
{
    *removed = false;
    wchar_t path[32768] = {};
    const DWORD length = GetFinalPathNameByHandleW(handleOf(m_folderHandle), path, 32768,
                                                   FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768)
        return m_path.folder;
    QString now = QString::fromWCharArray(path, int(length));
    if (now.startsWith(QLatin1String("\\\\?\\UNC\\")))
        now = QLatin1String("\\\\") + now.mid(8);
    else if (now.startsWith(QLatin1String("\\\\?\\")))
        now = now.mid(4);
    return QDir::fromNativeSeparators(now);
}

void RecordingSource::close()
{
    unlockFolder();
    if (m_file != -1)
        CloseHandle(handleOf(m_file));
    if (m_folderHandle != -1)
        CloseHandle(handleOf(m_folderHandle));
    forget();
}

} // namespace System
