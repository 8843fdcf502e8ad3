// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// What every system's recording shares: the path cut into folder and name, and the header
// read at opening; the file itself is each system's (recording_*.cpp).
#include "recording.h"

namespace System {

PathParts splitPath(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash);
    // The root, and a drive's root, keep their slash.
    if (folder.isEmpty() || folder.endsWith(QLatin1Char(':')))
        folder += QLatin1Char('/');
    return { folder, path.mid(slash + 1) };
}

} // namespace System

namespace Ddb {

Recording::Opened Recording::open(const QString &path)
{
    close();
    Opened refusal = Opened::CannotOpen;
    if (path.isEmpty() || !openFile(path, &refusal))
        return refusal;
    if (m_size < FieldsEnd) {
        close();
        return Opened::TooShort;
    }
    QByteArray header(int(qMin<qint64>(m_size, HeaderSize)), Qt::Uninitialized);
    const std::optional<Header> fields
            = read(0, header.data(), header.size()) ? readHeader(header) : std::nullopt;
    if (!fields) {
        close();
        return Opened::ReadFailed;
    }
    m_headerBytes = header;
    m_header = *fields;
    return Opened::Yes;
}

void Recording::close()
{
    closeFile();
    m_fileName.clear();
    m_folder.close();
    m_size = -1;
    m_opened = State();
    m_identity = System::FileIdentity();
    m_headerBytes.clear();
    m_header = Header();
}

bool Recording::unchanged() const
{
    const State now = stateNow();
    if (now.written || now.size != m_opened.size || now.modified != m_opened.modified
        || now.changed != m_opened.changed)
        return false;
    // A read that fails tells nothing of a change; the reading of the frames reports it.
    QByteArray again(m_headerBytes.size(), Qt::Uninitialized);
    return !read(0, again.data(), again.size()) || again == m_headerBytes;
}

bool Recording::isOpen() const
{
    return m_size >= 0;
}

const QString &Recording::fileName() const
{
    return m_fileName;
}

qint64 Recording::size() const
{
    return m_size;
}

System::FileIdentity Recording::identity() const
{
    return m_identity;
}

const QByteArray &Recording::headerBytes() const
{
    return m_headerBytes;
}

const Header &Recording::header() const
{
    return m_header;
}

System::RecordingFolder &Recording::folder()
{
    return m_folder;
}

const System::RecordingFolder &Recording::folder() const
{
    return m_folder;
}

} // namespace Ddb
