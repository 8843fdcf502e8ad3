// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recordingsource.h"
#include "systemerror.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The primitive questions and actions on the recording's folder that writing a piece takes,
// each system's own (piecesteps_linux.cpp, piecesteps_win.cpp, piecesteps_portable.cpp). They
// decide nothing: the rules of when a piece may take a name are piecefile.cpp's.
namespace System {

// What stands under a name, seen without following a link.
struct NameEntry
{
    enum class Kind { Nothing, Link, NotARegularFile, RegularFile };
    Kind kind = Kind::Nothing;
    FileIdentity identity;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    qint64 changed = 0; // when its status last changed; 0 where the system keeps no such time
    bool writeBits = true; // some write permission bit, or no read-only attribute
    // Kept where the replacing file must carry them itself (Linux).
    uint owner = 0;
    uint group = 0;
    uint mode = 0;
};

// What stands under `name` in the recording's folder; Nothing when it is free.
NameEntry lookUp(const RecordingSource &source, const QString &name, Error *error);

// Whether this user may write the file under `name`: Permission when not.
Error mayWrite(const RecordingSource &source, const QString &name);

// The names of this program's temporary files in the recording's folder.
QStringList temporaryFiles(const RecordingSource &source);

// A file in the recording's folder opened for reading, never through a link.
class FileReader
{
public:
    FileReader(const RecordingSource &source, const QString &name);
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    const Error &error() const { return m_error; } // why it could not be opened
    FileIdentity identity() const { return m_identity; }
    qint64 size() const { return m_size; }
    bool read(qint64 offset, char *data, qint64 length) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
    Error m_error;
    FileIdentity m_identity;
    qint64 m_size = 0;
};

// A new file for the piece under `name`, not under that name until it is put there, and
// removed when it is dropped before.
class PieceFile
{
public:
    PieceFile(const RecordingSource &source, const QString &name);
    ~PieceFile();
    PieceFile(const PieceFile &) = delete;
    PieceFile &operator=(const PieceFile &) = delete;

    Error create();
    Error write(const char *data, qint64 length);
    // On the disk, or an error: never a failure unseen.
    Error flush();
    // Under the name, where nothing may stand: ChangedMeanwhile when something appeared there.
    Error nameWithoutReplacing();
    // In place of the file under the name, which it takes the owner, group and permission bits
    // of where this user may set them. `stillAsChecked` runs as late before the file is gone
    // as the system allows, given the name the replaced file then stands under; an error from
    // it leaves the replaced file where it was.
    Error replace(const NameEntry &replaced,
                  const std::function<Error(const QString &name)> &stillAsChecked);
    // Removes what is left under the temporary name; the name of a file that could not be
    // removed.
    QString remove();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Held while a split writes: a file size limit fails a piece instead of ending the program,
// and a signal that ends it removes the temporary file being written. Whatever the program
// had set before comes back when it ends.
class PieceWritingScope
{
public:
    PieceWritingScope();
    ~PieceWritingScope();
    PieceWritingScope(const PieceWritingScope &) = delete;
    PieceWritingScope &operator=(const PieceWritingScope &) = delete;
};

// Whether this build reaches files by their paths through the toolkit, as the portable steps
// do: holding no folder or file open, resolving links as the toolkit does, locking nothing and
// leaving failed flushes unreported.
bool goesByPath();

} // namespace System
