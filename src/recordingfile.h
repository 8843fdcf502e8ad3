// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recordingsource.h"

#include <QByteArray>
#include <QString>

namespace System {

enum class ReadResult {
    Loaded,
    NotARegularFile, // a folder, FIFO or device: reading it could hang or never end
    CannotOpen,
    TooShort, // lacks header fields
    TooLarge, // more than one byte array can hold in this build
    NotEnoughMemory, // more than the system can give without swapping, or the allocation failed
    ReadFailed, // the file ended before the size it had when opened, or a read failed
};

// The largest recording that fits one QByteArray in this build.
qint64 maxRecordingSize();

// Reads the whole file into `bytes` and keeps it open in `source`; both are left untouched
// unless the result is Loaded. A file larger than `memoryLimit` bytes is refused (-1: no
// limit known).
ReadResult readRecording(const QString &path, QByteArray &bytes, RecordingSource &source,
                         qint64 memoryLimit);

} // namespace System
