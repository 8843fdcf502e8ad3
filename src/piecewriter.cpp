#include "piecewriter.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

class PieceWriter
{
public:
    PieceWriter(const QByteArray &recording, const QString &sourcePath)
        : m_recording(recording)
        , m_template(Ddb::headerTemplate(recording))
        , m_sourceTarget(QFileInfo(sourcePath).canonicalFilePath())
    {
    }

    bool write(const Piece &piece, const QString &fileName) const
    {
        if (isSource(fileName))
            return false;
        QByteArray header = m_template;
        if (!Ddb::stampPieceHeader(header, piece.timeStamp, piece.frames))
            return false;
        // Only the frames that exist: a recording may hold fewer than its header claims.
        const qint64 begin = qMin<qint64>(piece.firstByte, m_recording.size());
        const qint64 length = qMin<qint64>(piece.byteLength, m_recording.size() - begin);

        QSaveFile file(fileName);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        if (file.write(header) != header.size()
            || file.write(m_recording.constData() + begin, length) != length) {
            file.cancelWriting();
            return false;
        }
        return file.commit();
    }

private:
    // A piece name may be a link to the source; writing it would destroy the recording.
    bool isSource(const QString &fileName) const
    {
        const QString target = QFileInfo(fileName).canonicalFilePath();
        return !target.isEmpty() && target == m_sourceTarget;
    }

    const QByteArray &m_recording;
    const QByteArray m_template;
    const QString m_sourceTarget;
};

} // namespace

namespace Ddb {

SplitOutcome writePieces(const QByteArray &recording, const QString &sourcePath,
                         const PiecePlan &plan)
{
    Q_ASSERT(plan.status() == PiecePlan::Status::Ready);
    const PieceWriter writer(recording, sourcePath);
    SplitOutcome outcome;
    for (quint32 index = 0; index < plan.pieceCount(); ++index) {
        const Piece piece = plan.piece(index);
        if (writer.write(piece, pieceFileName(sourcePath, piece.number)))
            ++outcome.written;
        else
            ++outcome.failed;
    }
    return outcome;
}

} // namespace Ddb
