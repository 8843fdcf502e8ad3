#pragma once

#include <QByteArray>
#include <QString>

namespace Ddb {

enum class ReadResult {
    Loaded,
    NotARegularFile, // a folder, FIFO or device: reading it could hang or never end
    CannotOpen,
    TooShort, // lacks header fields
    TooLarge, // more than one byte array can hold in this build
    ReadFailed, // the file ended early or a read failed
};

// The largest recording that fits one QByteArray in this build.
qint64 maxRecordingSize();

// Reads the whole file into `bytes`, which is left untouched unless the result is Loaded.
ReadResult readRecording(const QString &path, QByteArray &bytes);

} // namespace Ddb
