// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// The steps of writing a piece on Windows, in the recording's folder, which is held open since
// loading so that it cannot be renamed or replaced: a temporary file under an unguessable name,
// flushed with a checked FlushFileBuffers, then moved onto a free name with write-through and
// without replacing, or put in place of an earlier piece with ReplaceFileW, which keeps its
// attributes and access rights. Links and junctions are never followed nor replaced.
#include "piecesteps.h"

#include "systemio.h"

#include <QDir>
#include <QRandomGenerator>

#include <windows.h>

namespace {

using System::Error;

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

QString pathIn(const System::RecordingFolder &folder, const QString &name)
{
    return QDir::toNativeSeparators(folder.path() + QLatin1Char('/') + name);
}

// Opens what stands under a name itself, never what a link or junction there points to.
HANDLE openAsItIs(const QString &path, DWORD access)
{
    return CreateFileW(native(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

class Handle
{
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE)
        : m_handle(handle)
    { }
    ~Handle() { close(); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return m_handle; }
    bool isValid() const { return m_handle != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle)
    {
        close();
        m_handle = handle;
    }
    bool close()
    {
        const bool closed = !isValid() || CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE m_handle;
};

// Symbolic links and junctions name something else; other reparse points (cloud
// placeholders, deduplicated files) are the file itself.
bool isLink(HANDLE file, DWORD attributes)
{
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    FILE_ATTRIBUTE_TAG_INFO tag {};
    return !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)
            || IsReparseTagNameSurrogate(tag.ReparseTag);
}

qint64 sizeOf(const BY_HANDLE_FILE_INFORMATION &information)
{
    return qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
}

qint64 timeOf(const FILETIME &time)
{
    return qint64(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

System::FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION &information)
{
    return { information.dwVolumeSerialNumber,
             quint64(information.nFileIndexHigh) << 32 | information.nFileIndexLow };
}

} // namespace

namespace System {

NameEntry lookUp(const RecordingFolder &folder, const QString &name, Error *error)
{
    using Kind = NameEntry::Kind;
    Handle file(openAsItIs(pathIn(folder, name), FILE_READ_ATTRIBUTES));
    BY_HANDLE_FILE_INFORMATION information {};
    if (!file.isValid() || !GetFileInformationByHandle(file.get(), &information)) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            *error = lastError();
        return {};
    }
    NameEntry entry;
    entry.kind = isLink(file.get(), information.dwFileAttributes) ? Kind::Link
            : (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    || GetFileType(file.get()) != FILE_TYPE_DISK
            ? Kind::NotARegularFile
            : Kind::RegularFile;
    entry.identity = identityOf(information);
    entry.size = sizeOf(information);
    entry.modified = timeOf(information.ftLastWriteTime);
    FILE_BASIC_INFO basic {};
    if (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic))
        entry.changed = basic.ChangeTime.QuadPart;
    // In 100-nanosecond ticks since 1601, which began on a whole second.
    entry.fineChangeTime = entry.changed % 10000000 != 0;
    entry.writeBits = !(information.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    entry.links = information.nNumberOfLinks;
    return entry;
}

Error mayWrite(const RecordingFolder &folder, const QString &name)
{
    const Handle writable(openAsItIs(pathIn(folder, name), GENERIC_WRITE));
    return writable.isValid() ? Error() : lastError();
}

QStringList namesIn(const RecordingFolder &folder)
{
    QStringList names;
    WIN32_FIND_DATAW found {};
    const HANDLE search = FindFirstFileW(native(pathIn(folder, QStringLiteral("*"))), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names << name;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

struct FileReader::Private
{
    Handle file;
    QString path;
};

FileReader::FileReader(const RecordingFolder &folder, const QString &name)
    : d(std::make_unique<Private>())
{
    d->path = pathIn(folder, name);
    d->file.reset(openAsItIs(d->path, GENERIC_READ));
    BY_HANDLE_FILE_INFORMATION information {};
    if (!d->file.isValid() || !GetFileInformationByHandle(d->file.get(), &information)) {
        m_error = lastError();
        return;
    }
    m_identity = identityOf(information);
    m_size = sizeOf(information);
}

FileReader::~FileReader() = default;

bool FileReader::read(qint64 offset, char *data, qint64 length) const
{
    return readFully(reinterpret_cast<qintptr>(d->file.get()), offset, data, length);
}

// Only a handle that may write can flush.
Error FileReader::flush() const
{
    const Handle writable(openAsItIs(d->path, GENERIC_WRITE));
    return writable.isValid() && FlushFileBuffers(writable.get()) ? Error() : lastError();
}

struct PieceFile::Private
{
    QString folder;
    QString name;
    QString target;
    Handle temporary;
    QString temporaryPath; // empty once it is gone or has its final name
    FileIdentity identity;
};

PieceFile::PieceFile(const RecordingFolder &folder, const QString &name)
    : d(std::make_unique<Private>())
{
    d->folder = QDir::toNativeSeparators(folder.path());
    d->name = name;
    d->target = pathIn(folder, name);
}

PieceFile::~PieceFile()
{
    remove();
}

Error PieceFile::create()
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Never a name someone could guess and plant a link at beforehand.
        const QString path = d->folder + QLatin1Char('\\')
                + temporaryName(QRandomGenerator::system()->generate64());
        const HANDLE file = CreateFileW(native(path), GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            d->temporary.reset(file);
            d->temporaryPath = path;
            BY_HANDLE_FILE_INFORMATION information {};
            if (GetFileInformationByHandle(file, &information))
                d->identity = identityOf(information);
            return {};
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return lastError();
    }
    return nativeError(int(ERROR_FILE_EXISTS));
}

FileIdentity PieceFile::identity() const
{
    return d->identity;
}

Error PieceFile::write(const char *data, qint64 length)
{
    return writeFully(reinterpret_cast<qintptr>(d->temporary.get()), data, length);
}

Error PieceFile::flush()
{
    return FlushFileBuffers(d->temporary.get()) ? Error() : lastError();
}

// Without MOVEFILE_REPLACE_EXISTING: a name taken meanwhile fails the piece.
Error PieceFile::nameWithoutReplacing()
{
    if (!d->temporary.close()
        || !MoveFileExW(native(d->temporaryPath), native(d->target), MOVEFILE_WRITE_THROUGH))
        return lastError();
    d->temporaryPath.clear();
    return {};
}

// ReplaceFileW keeps the replaced file's attributes and access rights itself.
Error PieceFile::replace(const NameEntry &replaced,
                         const std::function<Error(const QString &name)> &stillAsChecked)
{
    Q_UNUSED(replaced);
    if (!d->temporary.close())
        return lastError();
    if (const Error changed = stillAsChecked(d->name))
        return changed;
    if (!ReplaceFileW(native(d->target), native(d->temporaryPath), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return lastError();
    d->temporaryPath.clear();
    // ReplaceFileW may give the piece the replaced file's identity: what the name leads to
    // now is what this split put there.
    const Handle placed(openAsItIs(d->target, FILE_READ_ATTRIBUTES));
    BY_HANDLE_FILE_INFORMATION information {};
    if (placed.isValid() && GetFileInformationByHandle(placed.get(), &information))
        d->identity = identityOf(information);
    return {};
}

LeftFile PieceFile::remove()
{
    d->temporary.close();
    if (d->temporaryPath.isEmpty())
        return {};
    const QString path = std::exchange(d->temporaryPath, QString());
    if (DeleteFileW(native(path)) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return {};
    return { QDir::fromNativeSeparators(path).section(QLatin1Char('/'), -1),
             LeftFile::Holds::Removable };
}

// No signal ends a Windows program while leaving it a chance to clean up, and no file size
// limit is set per process.
PieceWritingScope::PieceWritingScope() = default;
PieceWritingScope::~PieceWritingScope() = default;

bool goesByPath()
{
    return false;
}

} // namespace System
