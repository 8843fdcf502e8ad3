// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory on Windows: the physical memory available now.
#include "systemmemory.h"

#include <windows.h>

namespace System {

qint64 availableMemory()
{
    MEMORYSTATUSEX status {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return -1;
    return qMax<qint64>(0, qint64(status.ullAvailPhys) - MemoryReserve);
}

} // namespace System
