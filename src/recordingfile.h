// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recordingsource.h"
#include "systemmemory.h"

#include <QByteArray>
#include <QString>

namespace Ddb {

// The largest recording that fits one QByteArray in this build.
qint64 maxRecordingSize();

// Reads the whole file into `bytes` and keeps it open in `source`; both are left untouched
// unless the result is Loaded. A file larger than `memoryLimit` bytes is refused (-1: no
// limit known).
ReadResult readRecording(const QString &path, QByteArray &bytes, RecordingSource &source,
                         qint64 memoryLimit = availableMemory());

} // namespace Ddb
