// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Whole reads and writes on Windows handles, in parts that one call can take.
#include "systemio.h"

#include <windows.h>

namespace {

// ReadFile and WriteFile count in 32 bits.
constexpr qint64 MostPerCall = qint64(64) << 20;

HANDLE handleOf(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

namespace System {

Error nativeError(int code)
{
    Cause cause = Cause::Other;
    switch (DWORD(code)) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        cause = Cause::DiskFull;
        break;
    case ERROR_WRITE_PROTECT:
        cause = Cause::ReadOnlyFileSystem;
        break;
    case ERROR_ACCESS_DENIED:
        cause = Cause::Permission;
        break;
    case ERROR_FILE_TOO_LARGE:
        cause = Cause::FileSizeLimit;
        break;
    case ERROR_TOO_MANY_OPEN_FILES:
        cause = Cause::TooManyOpenFiles;
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        cause = Cause::NameTooLong;
        break;
    case ERROR_PATH_NOT_FOUND:
        cause = Cause::FolderGone;
        break;
    // The folder is held open and cannot go: a missing file was moved away.
    case ERROR_FILE_NOT_FOUND:
        cause = Cause::MovedAway;
        break;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
        cause = Cause::InputOutput;
        break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        cause = Cause::ChangedMeanwhile;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        cause = Cause::InUse;
        break;
    default:
        break;
    }
    return { cause, qt_error_string(code) };
}

Error lastError()
{
    return nativeError(int(GetLastError()));
}

bool readFully(qintptr handle, qint64 offset, char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        OVERLAPPED at {};
        at.Offset = DWORD(offset + done);
        at.OffsetHigh = DWORD((offset + done) >> 32);
        DWORD got = 0;
        // An end before the size seen at opening is an end, never a wait for more.
        if (!ReadFile(handleOf(handle), data + done, DWORD(qMin(length - done, MostPerCall)), &got,
                      &at)
            || got == 0)
            return false;
        done += got;
    }
    return true;
}

Error writeFully(qintptr handle, const char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        DWORD written = 0;
        if (!WriteFile(handleOf(handle), data + done, DWORD(qMin(length - done, MostPerCall)),
                       &written, nullptr))
            return lastError();
        if (written == 0)
            return nativeError(int(ERROR_WRITE_FAULT));
        done += written;
    }
    return {};
}

} // namespace System
