// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "pieceplan.h"
#include "piecewriter.h"

#include <QString>
#include <QStringList>

// What a split did, in short lines a user can read: for a completed split how many pieces
// were written and where; for a failed one why, a line for each run of pieces that failed
// alike, or for a refused plan or a folder that could not be flushed; and in both the earlier
// pieces left beside the new ones.
namespace SplitReport {

QString refusal(const Ddb::PiecePlan &plan);
QStringList problems(const Ddb::SplitOutcome &outcome);
// "3 pieces written: run_1.ddb to run_3.ddb", then the folder they are in.
QStringList summary(const Ddb::SplitOutcome &outcome, const QString &folder,
                    const QString &fileName);
// "Left from an earlier split: run_6.ddb to run_10.ddb, run_12.ddb"; empty when none are.
QString stalePieces(const Ddb::SplitOutcome &outcome, const QString &fileName);
// The first twenty lines, and how many more there are, as tooltip text that shows any name
// exactly as it is.
QString toolTip(const QStringList &lines);

} // namespace SplitReport
