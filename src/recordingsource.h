// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recordingfolder.h"

#include <QString>
#include <QtGlobal>

namespace System {

// A chosen path as the folder that holds it and its name. The folder is the one the path
// names, not resolved further: a name reached through a link gets its pieces beside the link,
// where the user looks for them.
struct PathParts
{
    QString folder;
    QString name;
};
PathParts splitPath(const QString &path);

// The file a recording is read from, held open from loading until the recording is released,
// so that what is read, and later written beside it, is that file whatever happens to its name;
// with the folder that held its name, where pieces go.
class RecordingSource
{
public:
    RecordingSource();
    ~RecordingSource();
    RecordingSource(RecordingSource &&other) noexcept;
    RecordingSource &operator=(RecordingSource &&other) noexcept;
    RecordingSource(const RecordingSource &) = delete;
    RecordingSource &operator=(const RecordingSource &) = delete;

    enum class Opened { Yes, NotARegularFile, Failed };
    // Opens the file without waiting for a writer or a device: Yes when it is a regular
    // file, else NotARegularFile (a folder, FIFO or device) or Failed, holding nothing.
    Opened open(const QString &path);
    // Reads the first `size` bytes; false when the file ends sooner or a read fails.
    bool read(char *data, qint64 size);
    // The system's cached copy of the file, which would only double the memory taken.
    void releaseCachedPages();
    void close();

    bool isOpen() const { return m_size >= 0; }
    qint64 size() const { return m_size; } // when it was opened
    FileIdentity identity() const { return m_identity; }
    const QString &fileName() const { return m_fileName; }
    RecordingFolder &folder() { return m_folder; }
    const RecordingFolder &folder() const { return m_folder; }

private:
    void forget();

    QString m_fileName;
    qintptr m_file = -1;
    RecordingFolder m_folder;
    qint64 m_size = -1;
    FileIdentity m_identity;
};

} // namespace System
