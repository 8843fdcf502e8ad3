// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "splitthread.h"

namespace Ddb {

SplitThread::SplitThread(Recording &&recording, const PiecePlan &plan, qint64 memoryLimit,
                         QObject *parent)
    : QThread(parent)
    , m_recording(std::move(recording))
    , m_plan(plan)
    , m_memoryLimit(memoryLimit)
    , m_fileName(m_recording.fileName())
{ }

SplitThread::~SplitThread()
{
    askToStop();
    wait();
}

void SplitThread::run()
{
    split();
}

void SplitThread::split()
{
    m_outcome = writePieces(m_recording, m_plan, m_memoryLimit, m_progress);
    // Where the pieces are now, whatever became of the folder's path meanwhile.
    m_folderNow = m_recording.folder().pathNow(&m_folderRemoved);
    // The window that split it holds no recording: its memory goes back to the system.
    m_recording.close();
}

} // namespace Ddb
