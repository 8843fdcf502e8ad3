#pragma once

#include "pieceplan.h"

#include <QByteArray>
#include <QString>

struct SplitOutcome
{
    quint32 written = 0;
    quint32 failed = 0; // pieces skipped because they could not be written whole
};

namespace Ddb {

// Writes every piece of the plan beside the source, each as a complete DDB file.
// A piece is written whole or not at all; one that fails is skipped, its number used
// up, and the next piece is still written. The plan must be Ready.
SplitOutcome writePieces(const QByteArray &recording, const QString &sourcePath,
                         const PiecePlan &plan);

} // namespace Ddb
