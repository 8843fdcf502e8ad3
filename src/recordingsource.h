// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "systemerror.h"

#include <QString>
#include <QtGlobal>

#include <memory>

QT_BEGIN_NAMESPACE
class QLockFile;
QT_END_NAMESPACE

namespace System {

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
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

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
// so that what is read, and later written beside it, is that file whatever happens to its name.
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
    // One split into the folder at a time on this machine, across windows and processes,
    // whichever recording they split; held until unlocked or closed.
    enum class FolderLock { Held, HeldElsewhere, NotLockable };
    FolderLock lockFolder();
    void unlockFolder();
    // Makes the names given in the folder survive a power cut.
    Error syncFolder() const;
    void close();

    bool isOpen() const { return m_size >= 0; }
    qint64 size() const { return m_size; } // when it was opened
    FileIdentity identity() const { return m_identity; }
    // The folder that held the chosen name when it was opened, where pieces go; -1 where it
    // could not be opened (folderError() tells why) or where the system has no such handle.
    qintptr folderHandle() const { return m_folderHandle; }
    const Error &folderError() const { return m_folderError; }
    // What the folder's file system is, as seen when it was opened: whether it keeps times
    // fine enough to tell a change (FAT, exFAT and FUSE keep coarse ones, if any), and whether
    // it is memory itself (tmpfs, ramfs).
    bool folderKeepsFineTimes() const { return m_fineTimes; }
    bool folderIsInMemory() const { return m_inMemory; }
    const QString &folderPath() const { return m_path.folder; }
    // Where the folder held since loading is now, whatever was renamed or swapped for a link
    // meanwhile; `removed` tells when it is gone.
    QString folderPathNow(bool *removed) const;
    const QString &fileName() const { return m_path.name; }

private:
    void forget();

    PathParts m_path;
    qintptr m_file = -1;
    qintptr m_folderHandle = -1;
    qintptr m_folderLock = -1; // where the lock is an object of its own (Windows)
    std::unique_ptr<QLockFile> m_lockFile; // where it is a file in the folder (portable)
    Error m_folderError;
    bool m_fineTimes = false;
    bool m_inMemory = false;
    qint64 m_size = -1;
    FileIdentity m_identity;
};

} // namespace System
