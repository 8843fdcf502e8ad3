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

// Every line of the report on a split of `fileName` in `folder`: the refusal of a plan that is
// not Ready, else what the split wrote, or why it failed, and the earlier pieces it left.
QStringList lines(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                  const QString &folder, const QString &fileName);
// The first twenty lines, and how many more there are, as tooltip text that shows any name
// exactly as it is.
QString toolTip(const QStringList &lines);

} // namespace SplitReport
