// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recordingfolder.h"
#include "systemerror.h"

#include <QString>
#include <QStringList>

#include <algorithm>
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
    // Its change time has a part below the second. Where it has none, the file system may keep
    // whole seconds, in which two changes within a second look alike.
    bool fineChangeTime = false;
    bool writeBits = true; // some write permission bit, or no read-only attribute
    quint64 links = 1; // names that lead to the file
    // Kept where the replacing file must carry them itself (Linux).
    uint owner = 0;
    uint group = 0;
    uint mode = 0;
};

// What stands under `name` in the recording's folder; Nothing when it is free.
NameEntry lookUp(const RecordingFolder &folder, const QString &name, Error *error);

// Whether this user may write the file under `name`: Permission when not.
Error mayWrite(const RecordingFolder &folder, const QString &name);

// Every name in the recording's folder, from one listing.
QStringList namesIn(const RecordingFolder &folder);

// This program's temporary names: ".tranchel-", 16 lowercase hex digits, ".tmp". Earlier
// versions wrote fewer digits; a name of any other form is never taken for one of its own.
inline QString temporaryName(quint64 random)
{
    return QStringLiteral(".tranchel-%1.tmp").arg(random, 16, 16, QLatin1Char('0'));
}

// Read character by character rather than through a regular expression, whose per-thread
// state, taken on the split's thread, kept the Windows build from exiting under Wine.
inline bool isTemporaryName(const QString &name)
{
    const QLatin1String prefix(".tranchel-");
    const QLatin1String suffix(".tmp");
    const int digits = int(name.size() - prefix.size() - suffix.size());
    if (digits < 1 || digits > 16 || !name.startsWith(prefix) || !name.endsWith(suffix))
        return false;
    const QStringView number = QStringView(name).mid(prefix.size(), digits);
    return std::all_of(number.begin(), number.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

// A temporary file a split could not remove, and what it holds.
struct LeftFile
{
    enum class Holds {
        Removable, // this piece, or the earlier piece it replaced, which could not be removed
        ReplacedFileChanged, // the file the piece replaced, changed meanwhile: never removed
        AnotherFile, // a file put under the piece's name by someone else meanwhile
    };
    QString name;
    Holds holds = Holds::Removable;
    bool isEmpty() const { return name.isEmpty(); }
};

// A file in the recording's folder opened for reading, never through a link.
class FileReader
{
public:
    FileReader(const RecordingFolder &folder, const QString &name);
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    const Error &error() const { return m_error; } // why it could not be opened
    FileIdentity identity() const { return m_identity; }
    qint64 size() const { return m_size; }
    bool read(qint64 offset, char *data, qint64 length) const;
    // Makes what the file holds last, as a piece written now would; costs nothing where it
    // is already on the disk. Nothing where the system goes by path.
    Error flush() const;

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
    PieceFile(const RecordingFolder &folder, const QString &name);
    ~PieceFile();
    PieceFile(const PieceFile &) = delete;
    PieceFile &operator=(const PieceFile &) = delete;

    Error create();
    // Which file the piece is, once created, whichever name it stands under; unknown where
    // the system goes by path.
    FileIdentity identity() const;
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
    // Removes what is left under the temporary name where it is this piece or the earlier
    // piece it replaced; names a file that is kept.
    LeftFile remove();

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
