// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Memory on Linux: what /proc and the memory cgroups tell; buffers populated in one call.
#include "systemmemory.h"

#include "memorygroups.h"

#include <sys/mman.h>
#include <unistd.h>

namespace System {

qint64 availableMemory()
{
    return availableMemoryFrom(QString());
}

void prefaultBuffer(char *data, qint64 size)
{
#if defined(MADV_POPULATE_WRITE)
    const quintptr pageSize = quintptr(sysconf(_SC_PAGESIZE));
    const quintptr begin = (quintptr(data) + pageSize - 1) & ~(pageSize - 1);
    const quintptr end = (quintptr(data) + quintptr(size)) & ~(pageSize - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

} // namespace System
