// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "systemmemory.h"

#include <QByteArray>
#include <QString>

namespace Ddb {

enum class ReadResult {
    Loaded,
    NotARegularFile, // a folder, FIFO or device: reading it could hang or never end
    CannotOpen,
    TooShort, // lacks header fields
    TooLarge, // more than one byte array can hold in this build
    NotEnoughMemory, // more than the system can give without swapping, or the allocation failed
    ReadFailed, // the file ended early or a read failed
};

// Which file a recording was read from, whatever names lead to it now.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    bool isKnown() const { return device != 0 || inode != 0; }
    bool operator==(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// The largest recording that fits one QByteArray in this build.
qint64 maxRecordingSize();

// Reads the whole file into `bytes` and tells which file it was in `identity`; both are
// left untouched unless the result is Loaded. A file larger than `memoryLimit` bytes is
// refused (-1: no limit known).
ReadResult readRecording(const QString &path, QByteArray &bytes, FileIdentity &identity,
                         qint64 memoryLimit = availableMemory());

} // namespace Ddb
