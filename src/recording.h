// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "ddbheader.h"
#include "recordingfolder.h"

#include <QByteArray>
#include <QString>

#include <memory>

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

} // namespace System

namespace Ddb {

// The loaded recording: its file held open from opening until it is closed, so that what is
// read, and later written beside it, is that file whatever happens to its name; its header,
// read when it was opened; and the folder that held its name, where its pieces go. Its frames
// are read as they are needed. Each system opens and reads the file its own way
// (recording_linux.cpp, recording_win.cpp, recording_portable.cpp).
class Recording
{
public:
    Recording();
    ~Recording();
    Recording(Recording &&other) noexcept;
    Recording &operator=(Recording &&other) noexcept;
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;

    enum class Opened {
        Yes,
        NotARegularFile, // a folder, FIFO or device: reading it could hang or never end
        CannotOpen,
        TooShort, // lacks header fields
        ReadFailed, // the header could not be read
    };
    // Opens the file without waiting for a writer or a device and reads its header, holding
    // nothing unless the answer is Yes; whatever was open before is closed first.
    Opened open(const QString &path);
    void close();

    bool isOpen() const;
    const QString &fileName() const;
    qint64 size() const; // when it was opened
    System::FileIdentity identity() const;
    // The first 512 bytes, or the whole file when it is shorter, and the header read from them.
    const QByteArray &headerBytes() const;
    const Header &header() const;
    System::RecordingFolder &folder();
    const System::RecordingFolder &folder() const;

    // Reads `length` bytes at `offset`, without moving any file position; false when the file
    // ends sooner or a read fails.
    bool read(qint64 offset, char *data, qint64 length) const;
    // The file's size now, to tell a file cut short from one that could not be read; -1
    // where it cannot be told.
    qint64 sizeNow() const;
    // Whether the file is still what was opened: the same size and times, its first 512 bytes
    // read again the same (where they can be read), and on Linux no write seen since it was
    // opened.
    bool unchanged() const;

private:
    // What can be told of the file without reading it; times in the system's own units.
    struct State
    {
        qint64 size = -1;
        qint64 modified = 0;
        qint64 changed = 0;
        bool written = false; // a write to it was seen, whatever the times say
    };

    // Opens the file and its folder, and learns its identity and state: false, with the
    // reason, where it is no regular file or cannot be opened.
    bool openFile(const QString &path, Opened *refusal);
    void closeFile();
    State stateNow() const;

    struct Private; // each system's handle of the file
    std::unique_ptr<Private> d;
    QString m_fileName;
    System::RecordingFolder m_folder;
    qint64 m_size = -1;
    State m_opened;
    System::FileIdentity m_identity;
    QByteArray m_headerBytes;
    Header m_header;
};

} // namespace Ddb
