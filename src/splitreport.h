// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "pieceplan.h"
#include "piecewriter.h"

#include <QString>
#include <QStringList>

// What a split did, in short lines a user can read: what it wrote and where, first, then for
// a failed split why, a line for each run of pieces that failed alike, named by their files;
// the refusal of a split that could not begin; and the files it left beside the new pieces.
namespace SplitReport {

// Every line of the report on a split of `fileName` in `folder` (which `folderRemoved` says
// is gone): the refusal of a plan that is not Ready, else what the split did. Each line shows
// names on one line, none longer than 120 characters, and holds at most 300.
QStringList lines(const Ddb::PiecePlan &plan, const Ddb::SplitOutcome &outcome,
                  const QString &folder, const QString &fileName, bool folderRemoved = false);
// The first twenty lines, and how many more there are, as plain text for assistive
// technology, and as tooltip text that shows any name exactly as it is.
QString plainText(const QStringList &lines);
QString toolTip(const QStringList &lines);

} // namespace SplitReport
