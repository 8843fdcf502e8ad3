// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "systemerror.h"

#include <QtGlobal>

// Whole reads and writes through the system's own handles, and its error codes as causes
// (systemio_linux.cpp, systemio_win.cpp; the portable steps go through the toolkit instead).
namespace System {

// A native error code (errno, or a Win32 error) as a cause, with the system's words.
Error nativeError(int code);
// The error of the system call that just failed.
Error lastError();

// Reads exactly `length` bytes at `offset`; false when the file ends sooner or a read fails.
bool readFully(qintptr handle, qint64 offset, char *data, qint64 length);
// Writes all `length` bytes at the file's position, continuing where a write stopped short.
Error writeFully(qintptr handle, const char *data, qint64 length);

} // namespace System
