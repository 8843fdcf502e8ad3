// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Whole reads and writes on Linux descriptors, retried where a signal interrupted them.
#include "systemio.h"

#include <cerrno>

#include <unistd.h>

namespace System {

Error nativeError(int code)
{
    Cause cause = Cause::Other;
    switch (code) {
    case ENOSPC:
    case EDQUOT:
        cause = Cause::DiskFull;
        break;
    case EROFS:
        cause = Cause::ReadOnlyFileSystem;
        break;
    case EACCES:
    case EPERM:
        cause = Cause::Permission;
        break;
    case EFBIG:
        cause = Cause::FileSizeLimit;
        break;
    case EMFILE:
    case ENFILE:
        cause = Cause::TooManyOpenFiles;
        break;
    case ENAMETOOLONG:
        cause = Cause::NameTooLong;
        break;
    // Every step goes through the folder held since loading: a missing entry is a name
    // someone moved away, unless the folder itself is gone, which only its link count tells.
    case ENOENT:
        cause = Cause::MovedAway;
        break;
    case ESTALE:
        cause = Cause::FolderGone;
        break;
    case EIO:
        cause = Cause::InputOutput;
        break;
    case EEXIST:
        cause = Cause::ChangedMeanwhile;
        break;
    default:
        break;
    }
    return { cause, qt_error_string(code) };
}

Error lastError()
{
    return nativeError(errno);
}

bool readFully(qintptr handle, qint64 offset, char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const ssize_t got
                = pread(int(handle), data + done, size_t(length - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        // An end before the size seen at opening is an end, never a wait for more.
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

Error writeFully(qintptr handle, const char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const ssize_t written = ::write(int(handle), data + done, size_t(length - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return lastError();
        if (written == 0)
            return nativeError(EIO);
        done += written;
    }
    return {};
}

} // namespace System
