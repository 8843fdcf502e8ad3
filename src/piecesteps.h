// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "piecefile.h"

#include <memory>

namespace Ddb {

// A step that failed where the system gave no error number.
constexpr int UnknownError = -1;

// The steps of putting one piece on disk, each system's own (piecefile_linux.cpp,
// piecefile_win.cpp, piecefile_portable.cpp); writePieceFile() calls them in order. Integers are 0
// or the system's error number.
class PieceSteps
{
public:
    PieceSteps(const System::RecordingSource &source, const QString &name);
    ~PieceSteps();
    PieceSteps(const PieceSteps &) = delete;
    PieceSteps &operator=(const PieceSteps &) = delete;

    // What stands under the name, and whether the piece may take its place.
    PieceOutcome check(quint32 number, const EarlierPieces &earlier);
    // Whether an earlier piece stands there, which the piece replaces.
    bool replaces() const;
    // The temporary file, in the recording's folder.
    int create();
    int write(const char *data, qint64 length);
    // The replaced piece's permissions, and owner where the user may set it.
    int takeAttributes();
    int flush();
    // Under the name at last: never replacing what appeared there meanwhile, and an earlier
    // piece only when it is still as checked.
    PieceOutcome commit();
    // Closes and removes what is left; the name of a file that could not be removed.
    QString discard();

    NameHolds holds(quint32 number, const EarlierPieces &earlier);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Ddb
