// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The recording's folder on Windows, held by a handle without FILE_SHARE_DELETE, so that it
// cannot be renamed or replaced while pieces go there; one split at a time through a named
// mutex.
#include "recordingfolder.h"

#include "systemio.h"

#include <QDir>

#include <utility>

#include <windows.h>

namespace {

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

} // namespace

namespace System {

struct RecordingFolder::Private
{
    ~Private()
    {
        if (lock) {
            ReleaseMutex(lock);
            CloseHandle(lock);
        }
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle(folder);
    }

    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE lock = nullptr; // the mutex, while held
};

RecordingFolder::RecordingFolder()
    : d(std::make_unique<Private>())
{ }
RecordingFolder::~RecordingFolder() = default;
RecordingFolder::RecordingFolder(RecordingFolder &&other) noexcept = default;
RecordingFolder &RecordingFolder::operator=(RecordingFolder &&other) noexcept = default;

void RecordingFolder::open(const QString &path)
{
    close();
    m_path = path;
    d->folder = CreateFileW(native(QDir::toNativeSeparators(path)), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (d->folder == INVALID_HANDLE_VALUE) {
        m_error = lastError();
        return;
    }
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (GetVolumeInformationByHandleW(d->folder, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                      MAX_PATH + 1))
        m_fineTimes = !QString::fromWCharArray(fileSystem)
                               .contains(QLatin1String("FAT"), Qt::CaseInsensitive);
}

void RecordingFolder::close()
{
    *this = RecordingFolder();
}

qintptr RecordingFolder::handle() const
{
    return d->folder == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<qintptr>(d->folder);
}

// A named mutex for the folder, which every process on this machine reaches by the folder's
// identity: in the machine's namespace where this user may create one, else the session's.
RecordingFolder::Lock RecordingFolder::lock()
{
    BY_HANDLE_FILE_INFORMATION folder {};
    if (!GetFileInformationByHandle(d->folder, &folder))
        return Lock::NotLockable;
    const QString name = QStringLiteral("tranchel-folder-%1-%2-%3")
                                 .arg(folder.dwVolumeSerialNumber, 0, 16)
                                 .arg(folder.nFileIndexHigh, 0, 16)
                                 .arg(folder.nFileIndexLow, 0, 16);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, native(QStringLiteral("Global\\") + name));
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = CreateMutexW(nullptr, FALSE, native(QStringLiteral("Local\\") + name));
    if (!mutex)
        return Lock::NotLockable;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        d->lock = mutex;
        return Lock::Held;
    }
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT ? Lock::HeldElsewhere : Lock::NotLockable;
}

void RecordingFolder::unlock()
{
    if (!d->lock)
        return;
    ReleaseMutex(d->lock);
    CloseHandle(std::exchange(d->lock, nullptr));
}

// Each piece is moved into the folder with write-through, which stands in for this.
Error RecordingFolder::sync() const
{
    return {};
}

// The folder is held without delete sharing, so it is never removed meanwhile.
QString RecordingFolder::pathNow(bool *removed) const
{
    *removed = false;
    wchar_t finalPath[32768] = {};
    const DWORD length
            = GetFinalPathNameByHandleW(d->folder, finalPath, 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768)
        return m_path;
    QString now = QString::fromWCharArray(finalPath, int(length));
    if (now.startsWith(QLatin1String("\\\\?\\UNC\\")))
        now = QLatin1String("\\\\") + now.mid(8);
    else if (now.startsWith(QLatin1String("\\\\?\\")))
        now = now.mid(4);
    return QDir::fromNativeSeparators(now);
}

} // namespace System
