// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>

namespace System {

// Why a step on the disk failed, in the program's terms: each system turns its own error
// numbers into these, so that the rules and the report never see a native code.
enum class Cause {
    None,
    DiskFull,
    ReadOnlyFileSystem,
    Permission,
    FileSizeLimit,
    TooManyOpenFiles,
    NameTooLong,
    FolderGone, // the folder was removed or moved away
    MovedAway, // the file under a name was moved away, in a folder that is still there
    InputOutput,
    ChangedMeanwhile, // a name was taken, or a file changed, while the split ran
    InUse, // another program holds the file open without sharing it (Windows)
    NotSupported, // the file system cannot do this; the rules then take another way
    Other,
};

struct Error
{
    Cause cause = Cause::None;
    QString text; // the system's own words, where it gave any

    bool isError() const { return cause != Cause::None; }
    explicit operator bool() const { return isError(); }
};

inline Error errorOf(Cause cause)
{
    return { cause, QString() };
}

} // namespace System
