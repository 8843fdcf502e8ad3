// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "recordingfile.h"

#include "ddbheader.h"
#include "systemmemory.h"

#include <limits>
#include <new>

namespace {

// The one place that catches an exception: Qt's containers throw std::bad_alloc when
// memory runs out (an address-space limit, say), and a refused recording is better than
// a vanished window.
bool allocate(QByteArray &buffer, qint64 size)
{
    try {
        buffer = QByteArray(size, Qt::Uninitialized);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace

namespace System {

qint64 maxRecordingSize()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 allocates the array's bookkeeping and terminator inside the same int-sized block.
    return std::numeric_limits<int>::max() - 64;
#else
    return std::numeric_limits<qsizetype>::max() - 64;
#endif
}

ReadResult readRecording(const QString &path, QByteArray &bytes, RecordingSource &source,
                         qint64 memoryLimit)
{
    RecordingSource file;
    const auto opened = path.isEmpty() ? RecordingSource::Opened::Failed : file.open(path);
    if (opened == RecordingSource::Opened::NotARegularFile)
        return ReadResult::NotARegularFile;
    if (opened != RecordingSource::Opened::Yes)
        return ReadResult::CannotOpen;
    const qint64 size = file.size();
    if (size < Ddb::FieldsEnd)
        return ReadResult::TooShort;
    if (size > maxRecordingSize())
        return ReadResult::TooLarge;
    if (memoryLimit >= 0 && size > memoryLimit)
        return ReadResult::NotEnoughMemory;

    QByteArray content;
    if (!allocate(content, size))
        return ReadResult::NotEnoughMemory;
    // Only memory the check above has granted is touched before the read.
    if (memoryLimit >= 0)
        prefaultBuffer(content.data(), size);
    if (!file.read(content.data(), size))
        return ReadResult::ReadFailed;
    file.releaseCachedPages();
    bytes = std::move(content);
    source = std::move(file);
    return ReadResult::Loaded;
}

} // namespace System
