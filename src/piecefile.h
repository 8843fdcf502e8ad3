// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recordingfile.h"

#include <QByteArray>
#include <QString>

namespace Ddb {

// Measured: one write() of hundreds of megabytes took several times longer than the same
// bytes in slices of a few megabytes.
constexpr qint64 WriteSliceSize = qint64(8) << 20;

// Why one piece is not on disk as planned.
enum class PieceFailure {
    None,
    FolderInTheWay, // a folder, or something else that is no regular file, has the name
    LinkInTheWay, // a link has the name; it is never followed nor replaced
    IsTheRecording, // the name is the loaded recording's own file
    WriteProtected, // a file without any write permission bit has the name
    DiskRefused, // creating, writing, flushing or renaming failed; `error` tells how
    NoFrames, // the recording holds no frame of the piece's share, so it was not written
    FewerFrames, // written, but the recording ends inside its share
};

struct PieceOutcome
{
    PieceFailure failure = PieceFailure::None;
    int error = 0; // errno of a DiskRefused, when the system gave one
};

// Puts `header` followed by `length` bytes of `data` on disk under `fileName`, whole or not
// at all: an existing regular file there is replaced (keeping its permission bits), or
// stays as it was when the piece fails. `recording` is the file that must never be written.
PieceOutcome writePieceFile(const QString &fileName, const QByteArray &header, const char *data,
                            qint64 length, const FileIdentity &recording);

// Makes the names given in `folder` survive a power cut. Returns 0 or an errno.
int syncFolder(const QString &folder);

// Whether this build's writer keeps its promises against links and failed flushes, which
// the toolkit's portable file saving cannot.
bool writerGuardsLinksAndFlushes();

} // namespace Ddb
