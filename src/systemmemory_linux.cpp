// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory on Linux: what /proc and the memory cgroups tell.
#include "systemmemory.h"

#include "memorygroups.h"

namespace System {

qint64 availableMemory()
{
    return availableMemoryFrom(QString());
}

} // namespace System
