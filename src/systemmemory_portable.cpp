// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory on systems that this program does not ask: no limit known, no hints given.
#include "systemmemory.h"

namespace System {

qint64 availableMemory()
{
    return -1;
}

void prefaultBuffer(char *data, qint64 size)
{
    Q_UNUSED(data);
    Q_UNUSED(size);
}

} // namespace System
