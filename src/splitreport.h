// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "pieceplan.h"
#include "piecewriter.h"

#include <QString>
#include <QStringList>

// Why a split failed, in short lines a user can read: one for each failed piece, one for
// a refused plan or for a folder that could not be flushed.
namespace SplitReport {

QString refusal(const PiecePlan &plan);
QStringList problems(const SplitOutcome &outcome);
// The first twenty lines, and how many more there are.
QString toolTip(const QStringList &problems);

} // namespace SplitReport
