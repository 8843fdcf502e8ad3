// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "pieceplan.h"
#include "piecewriter.h"
#include "recording.h"
#include "splitprogress.h"

#include <QString>
#include <QThread>

namespace Ddb {

// One split on a thread of its own, so that the window answers while the disk works (a flush
// can block for seconds): the recording belongs to the split from its construction on.
class SplitThread : public QThread
{
    Q_OBJECT

public:
    SplitThread(Recording &&recording, const PiecePlan &plan, qint64 memoryLimit,
                QObject *parent = nullptr);
    // Asks a split that still runs to stop, and waits until it has: the program never ends
    // with a piece half written.
    ~SplitThread() override;

    // The split itself, which run() does on the thread; where no thread can be had, the
    // window does it in its own.
    void split();

    const PiecePlan &plan() const { return m_plan; }
    const SplitProgress &progress() const { return m_progress; }
    void askToStop() { m_progress.askToStop(); }

    // Once finished: what the split did, where the folder is now, and the recording's name.
    // The recording itself is closed by then.
    const SplitOutcome &outcome() const { return m_outcome; }
    const QString &folderNow() const { return m_folderNow; }
    bool folderRemoved() const { return m_folderRemoved; }
    const QString &fileName() const { return m_fileName; }

protected:
    void run() override;

private:
    Recording m_recording;
    const PiecePlan m_plan;
    const qint64 m_memoryLimit;
    SplitProgress m_progress;
    SplitOutcome m_outcome;
    QString m_folderNow;
    bool m_folderRemoved = false;
    const QString m_fileName;
};

} // namespace Ddb
