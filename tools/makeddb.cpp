// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Writes a synthetic DDB recording, for a first try of the tool and for tests by hand.
#include "syntheticrecording.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a synthetic DDB recording."));
    parser.addHelpOption();
    const QCommandLineOption channelsOption(QStringLiteral("channels"),
                                            QStringLiteral("Number of channels."),
                                            QStringLiteral("n"), QStringLiteral("8"));
    const QCommandLineOption frequencyOption(QStringLiteral("frequency"),
                                             QStringLiteral("Frames per second."),
                                             QStringLiteral("hz"), QStringLiteral("1000"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Duration in seconds."),
                                           QStringLiteral("s"), QStringLiteral("300"));
    const QCommandLineOption startOption(
            QStringLiteral("start"), QStringLiteral("Time stamp, as yyyy-MM-ddThh:mm:ss."),
            QStringLiteral("time"), QStringLiteral("2024-01-01T10:00:00"));
    parser.addOptions({ channelsOption, frequencyOption, secondsOption, startOption });
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The DDB file to write."));
    parser.process(app);

    QTextStream err(stderr);
    SyntheticRecording recording;
    bool channelsOk = false;
    bool frequencyOk = false;
    bool secondsOk = false;
    recording.channels = parser.value(channelsOption).toUShort(&channelsOk);
    recording.frequency = parser.value(frequencyOption).toUShort(&frequencyOk);
    const qint64 seconds = parser.value(secondsOption).toLongLong(&secondsOk);
    recording.frames = seconds * recording.frequency;
    // The stamp carries no zone: read it as UTC so that no local clock change shifts it.
    const QString start = parser.value(startOption);
    recording.start = QDateTime(QDate::fromString(start.left(10), Qt::ISODate),
                                QTime::fromString(start.mid(11), Qt::ISODate), Qt::UTC);
    if (parser.positionalArguments().size() != 1 || !channelsOk || !frequencyOk || !secondsOk
        || seconds < 0 || !recording.start.isValid()) {
        err << parser.helpText();
        return 2;
    }
    const QString path = parser.positionalArguments().constFirst();
    if (!recording.writeTo(path)) {
        err << "Cannot write " << path << '\n';
        return 1;
    }
    return 0;
}
