// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory on systems that this program does not ask: no limit known.
#include "systemmemory.h"

namespace System {

qint64 availableMemory()
{
    return -1;
}

} // namespace System
