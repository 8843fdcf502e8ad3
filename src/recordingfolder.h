// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "systemerror.h"

#include <QString>
#include <QtGlobal>

#include <memory>

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

// The folder that held the recording's name when it was opened, where its pieces go: held
// open until it is closed, so that pieces go into that folder whatever happens to its path.
// Each system's own (recordingfolder_linux.cpp, recordingfolder_win.cpp,
// recordingfolder_portable.cpp).
class RecordingFolder
{
public:
    RecordingFolder();
    ~RecordingFolder();
    RecordingFolder(RecordingFolder &&other) noexcept;
    RecordingFolder &operator=(RecordingFolder &&other) noexcept;
    RecordingFolder(const RecordingFolder &) = delete;
    RecordingFolder &operator=(const RecordingFolder &) = delete;

    // Holds the folder at `path`; error() tells where it cannot be.
    void open(const QString &path);
    void close();

    const QString &path() const { return m_path; }
    // The system's handle of the folder; -1 where it could not be opened or where the system
    // has no such handle.
    qintptr handle() const;
    const Error &error() const { return m_error; }
    // What the folder's file system is, as seen when it was opened: whether it keeps times
    // fine enough to tell a change (FAT, exFAT and FUSE keep coarse ones, if any), and whether
    // what is written there takes memory (tmpfs, ramfs, an overlay over one).
    bool keepsFineTimes() const { return m_fineTimes; }
    bool isInMemory() const { return m_inMemory; }

    // One split into the folder at a time on this machine, across windows and processes,
    // whichever recording they split; held until unlocked or closed.
    enum class Lock { Held, HeldElsewhere, NotLockable };
    Lock lock();
    void unlock();
    // Makes the names given in the folder survive a power cut.
    Error sync() const;
    // Where the folder is now, whatever was renamed or swapped for a link meanwhile;
    // `removed` tells when it is gone.
    QString pathNow(bool *removed) const;

private:
    struct Private; // each system's handles
    std::unique_ptr<Private> d;
    QString m_path;
    Error m_error;
    bool m_fineTimes = false;
    bool m_inMemory = false;
};

} // namespace System
