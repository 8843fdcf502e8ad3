#include "piecewriter.h"

#include <QFileInfo>
#include <QSaveFile>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

class PieceWriter
{
public:
    PieceWriter(const QByteArray &recording, const QString &sourcePath)
        : m_recording(recording)
        , m_template(Ddb::headerTemplate(recording))
        , m_sourceTarget(QFileInfo(sourcePath).canonicalFilePath())
    { }

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
            || !writeChunked(file, m_recording.constData() + begin, length)) {
            file.cancelWriting();
            return false;
        }
        releaseWrittenPages(file);
        return file.commit();
    }

private:
    // Measured: one write() of hundreds of megabytes took several times longer than the
    // same bytes in slices of a few megabytes.
    static bool writeChunked(QSaveFile &file, const char *data, qint64 length)
    {
        constexpr qint64 chunk = 8 * 1024 * 1024;
        for (qint64 done = 0; done < length; done += chunk) {
            const qint64 size = qMin(chunk, length - done);
            const qint64 offset = file.pos();
            if (file.write(data + done, size) != size)
                return false;
            startWriteBack(file, offset, size);
        }
        return true;
    }

    // Lets the disk take each slice while the next one is copied, instead of all at the end.
    static void startWriteBack(QSaveFile &file, qint64 offset, qint64 length)
    {
#if defined(Q_OS_LINUX)
        if (file.handle() >= 0)
            sync_file_range(file.handle(), offset, length, SYNC_FILE_RANGE_WRITE);
#else
        Q_UNUSED(file);
        Q_UNUSED(offset);
        Q_UNUSED(length);
#endif
    }

    // Nothing here reads a piece again. Writing it back now and dropping its pages from the
    // cache lets the next piece reuse that memory instead of claiming as much again, and
    // leaves the cache to what the user works with. This flushes no disk cache: commit()
    // still syncs the piece before it renames it.
    static void releaseWrittenPages(QSaveFile &file)
    {
#if defined(Q_OS_LINUX)
        const int descriptor = file.handle();
        constexpr unsigned int writeBack
                = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
        if (descriptor >= 0 && sync_file_range(descriptor, 0, 0, writeBack) == 0)
            posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED);
#else
        Q_UNUSED(file);
#endif
    }

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
