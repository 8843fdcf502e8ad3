// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Piece files on Windows, in the recording's folder, which is held open since loading so that
// it cannot be renamed or replaced: written to a temporary file under an unguessable name,
// flushed with a checked FlushFileBuffers, then moved onto a free name with write-through and
// without replacing, or put in place of an earlier piece with ReplaceFileW, which keeps its
// attributes and access rights. Links and junctions are never followed nor replaced.
#include "piecesteps.h"

#include <QDir>
#include <QRandomGenerator>

#include <windows.h>

namespace {

using Ddb::NameHolds;
using Ddb::PieceFailure;
using Ddb::PieceOutcome;

PieceOutcome refused(DWORD error)
{
    return { PieceFailure::DiskRefused, int(error), QString() };
}

PieceOutcome failed(PieceFailure failure)
{
    return { failure, 0, QString() };
}

const wchar_t *native(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
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

bool readAt(HANDLE file, qint64 offset, char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        OVERLAPPED at {};
        at.Offset = DWORD(offset + done);
        at.OffsetHigh = DWORD((offset + done) >> 32);
        DWORD got = 0;
        const DWORD wanted = DWORD(qMin<qint64>(length - done, 64 << 20));
        if (!ReadFile(file, data + done, wanted, &got, &at) || got == 0)
            return false;
        done += got;
    }
    return true;
}

qint64 sizeOf(const BY_HANDLE_FILE_INFORMATION &information)
{
    return qint64(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
            && a.nFileIndexLow == b.nFileIndexLow;
}

bool unchanged(const BY_HANDLE_FILE_INFORMATION &first, const BY_HANDLE_FILE_INFORMATION &now)
{
    return sameFile(first, now) && sizeOf(first) == sizeOf(now)
            && CompareFileTime(&first.ftLastWriteTime, &now.ftLastWriteTime) == 0
            && first.dwFileAttributes == now.dwFileAttributes;
}

} // namespace

namespace Ddb {

struct PieceSteps::Private
{
    Private(const System::RecordingSource &recording, const QString &name)
        : source(recording)
        , folder(QDir::toNativeSeparators(recording.folderPath()))
        , target(folder + QLatin1Char('\\') + name)
    { }

    // What stands under the name: NameHolds::Nothing, or its kind and whether the piece may
    // take its place, with `found` filled.
    PieceOutcome checkKind(bool &exists)
    {
        exists = false;
        Handle file(openAsItIs(target, FILE_READ_ATTRIBUTES));
        if (!file.isValid()) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND ? PieceOutcome() : refused(error);
        }
        exists = true;
        if (!GetFileInformationByHandle(file.get(), &found))
            return refused(GetLastError());
        if (isLink(file.get(), found.dwFileAttributes))
            return failed(PieceFailure::LinkInTheWay);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            || GetFileType(file.get()) != FILE_TYPE_DISK)
            return failed(PieceFailure::NotARegularFile);
        const System::FileIdentity identity {
            found.dwVolumeSerialNumber, quint64(found.nFileIndexHigh) << 32 | found.nFileIndexLow
        };
        if (identity == source.identity())
            return failed(PieceFailure::IsTheRecording);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            return failed(PieceFailure::WriteProtected);
        Handle writable(openAsItIs(target, GENERIC_WRITE));
        if (!writable.isValid()) {
            const DWORD error = GetLastError();
            return error == ERROR_ACCESS_DENIED ? failed(PieceFailure::WriteProtected)
                                                : refused(error);
        }
        return {};
    }

    bool isEarlierPiece(quint32 number, const EarlierPieces &earlier)
    {
        Handle file(openAsItIs(target, GENERIC_READ));
        BY_HANDLE_FILE_INFORMATION opened {};
        if (!file.isValid() || !GetFileInformationByHandle(file.get(), &opened)
            || !sameFile(opened, found))
            return false;
        return earlier.isPiece(number, sizeOf(opened),
                               [&file](qint64 offset, char *data, qint64 length) {
                                   return readAt(file.get(), offset, data, length);
                               });
    }

    const System::RecordingSource &source;
    const QString folder;
    const QString target;
    BY_HANDLE_FILE_INFORMATION found {};
    bool exists = false;
    Handle temporary;
    QString temporaryPath; // empty once it is gone or has its final name
};

PieceSteps::PieceSteps(const System::RecordingSource &source, const QString &name)
    : d(std::make_unique<Private>(source, name))
{ }

PieceSteps::~PieceSteps()
{
    discard();
}

PieceOutcome PieceSteps::check(quint32 number, const EarlierPieces &earlier)
{
    const PieceOutcome outcome = d->checkKind(d->exists);
    if (outcome.failure != PieceFailure::None || !d->exists)
        return outcome;
    return d->isEarlierPiece(number, earlier) ? PieceOutcome()
                                              : failed(PieceFailure::DifferentFile);
}

bool PieceSteps::replaces() const
{
    return d->exists;
}

int PieceSteps::create()
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Never a name someone could guess and plant a link at beforehand.
        const QString path = d->folder
                + QStringLiteral("\\.tranchel-%1.tmp")
                          .arg(QRandomGenerator::system()->generate64(), 0, 16);
        const HANDLE file = CreateFileW(native(path), GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            d->temporary.reset(file);
            d->temporaryPath = path;
            return 0;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return int(GetLastError());
    }
    return int(ERROR_FILE_EXISTS);
}

int PieceSteps::write(const char *data, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        DWORD written = 0;
        const DWORD size = DWORD(qMin<qint64>(length - done, 64 << 20));
        if (!WriteFile(d->temporary.get(), data + done, size, &written, nullptr))
            return int(GetLastError());
        if (written == 0)
            return int(ERROR_WRITE_FAULT);
        done += written;
    }
    return 0;
}

// ReplaceFileW keeps the replaced file's attributes and access rights itself.
int PieceSteps::takeAttributes()
{
    return 0;
}

int PieceSteps::flush()
{
    return FlushFileBuffers(d->temporary.get()) ? 0 : int(GetLastError());
}

PieceOutcome PieceSteps::commit()
{
    if (!d->temporary.close())
        return refused(GetLastError());
    if (!d->exists) {
        // Without MOVEFILE_REPLACE_EXISTING: a name taken meanwhile fails the piece.
        if (!MoveFileExW(native(d->temporaryPath), native(d->target), MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = GetLastError();
            return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
                    ? failed(PieceFailure::ChangedMeanwhile)
                    : refused(error);
        }
        d->temporaryPath.clear();
        return {};
    }
    // Right before the replacement: the same checks, and the same file unchanged since.
    const BY_HANDLE_FILE_INFORMATION first = d->found;
    bool stillThere = false;
    const PieceOutcome again = d->checkKind(stillThere);
    if (again.failure != PieceFailure::None)
        return again;
    if (!stillThere || !unchanged(first, d->found))
        return failed(PieceFailure::ChangedMeanwhile);
    if (!ReplaceFileW(native(d->target), native(d->temporaryPath), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return refused(GetLastError());
    d->temporaryPath.clear();
    return {};
}

QString PieceSteps::discard()
{
    d->temporary.close();
    if (d->temporaryPath.isEmpty())
        return QString();
    const QString path = std::exchange(d->temporaryPath, QString());
    if (DeleteFileW(native(path)) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return QString();
    return QDir::fromNativeSeparators(path).section(QLatin1Char('/'), -1);
}

NameHolds PieceSteps::holds(quint32 number, const EarlierPieces &earlier)
{
    Handle file(openAsItIs(d->target, FILE_READ_ATTRIBUTES));
    if (!file.isValid())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? NameHolds::Nothing
                                                      : NameHolds::SomethingElse;
    if (!GetFileInformationByHandle(file.get(), &d->found)
        || isLink(file.get(), d->found.dwFileAttributes)
        || (d->found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return NameHolds::SomethingElse;
    return d->isEarlierPiece(number, earlier) ? NameHolds::EarlierPiece : NameHolds::SomethingElse;
}

int folderError(const System::RecordingSource &source)
{
    if (source.folderHandle() != -1)
        return 0;
    return source.folderError() != 0 ? source.folderError() : int(ERROR_INVALID_HANDLE);
}

// Each move is written through, which stands in for flushing the folder.
int syncFolder(const System::RecordingSource &source)
{
    Q_UNUSED(source);
    return 0;
}

PieceWritingScope::PieceWritingScope() = default;
PieceWritingScope::~PieceWritingScope() = default;

bool writerGuardsLinksAndFlushes()
{
    return true;
}

} // namespace Ddb
