// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QtGlobal>

// The most that one read or write of piece bytes hands the system at a time. Measured: one
// write of hundreds of megabytes took several times longer than the same bytes in slices of a
// few megabytes, and the disk can take each slice while the next one is copied.
constexpr qint64 IoSliceSize = qint64(8) << 20;
