// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

// Measures how long the window takes to open and to split a large recording, to split it again
// over its own pieces, how much memory it takes above its idle state, and how long its event
// loop goes without answering while it splits, against programs
// that move the same bytes: split -b (with and without sync) and cat. Each measurement of the
// window runs in a fresh child process of this program, so that its peak memory is the
// window's alone.
#include "tranchel.h"

#include "dialogdriver.h"
#include "syntheticrecording.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr quint16 benchChannels = 16;
constexpr quint16 benchFrequency = 1000;
constexpr int benchMinutes = 60;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// A figure of /proc/self/status, such as "VmHWM:", in KiB.
qint64 statusKiB(const QByteArray &field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray status = file.readAll();
    const int start = status.indexOf(field) + field.size();
    return status.mid(start, status.indexOf('\n', start) - start)
            .trimmed()
            .split(' ')[0]
            .toLongLong();
}

// Clicks "Split file" and runs the event loop until the split has ended: its time, and the
// longest gap between two ticks of a 50 ms timer meanwhile, the window's answer to the desktop.
std::pair<double, double> timeSplit(QPushButton *splitButton)
{
    QElapsedTimer splitTimer;
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    QEventLoop loop;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longestGapNs = qMax(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    // The window restores the cursor the moment the split has ended.
    QTimer ended;
    QObject::connect(&ended, &QTimer::timeout, [&] {
        if (!QApplication::overrideCursor())
            loop.quit();
    });
    ticks.start(50);
    ended.start(5);
    splitTimer.start();
    sinceTick.start();
    splitButton->click();
    loop.exec();
    const double splitMs = splitTimer.nsecsElapsed() / 1e6;
    return { splitMs, qMax(longestGapNs, sinceTick.nsecsElapsed()) / 1e6 };
}

// The child: open `path` through the window's dialog, split it into 60-minute pieces and
// print "open-ms split-ms idle-kib peak-kib gap-ms status", the memory as the high-water mark
// of the resident set once the window is shown, and after the split.
int measureWindow(const QString &path)
{
    Tranchel window;
    window.show();
    QCoreApplication::processEvents();
    const qint64 idleKiB = statusKiB("VmHWM:");
    QElapsedTimer openTimer;
    openThroughDialog(window, path, [&openTimer] { openTimer.start(); });
    const double openMs = openTimer.nsecsElapsed() / 1e6;

    auto *splitButton = window.findChild<QPushButton *>(QStringLiteral("splitButton"));
    if (!splitButton->isEnabled()) {
        out() << "0 0 0 not-loaded\n";
        return 1;
    }
    window.findChild<QSpinBox *>(QStringLiteral("minutesSpin"))->setValue(benchMinutes);
    const auto [splitMs, longestGapMs] = timeSplit(splitButton);

    const QString status = window.findChild<QLabel *>(QStringLiteral("statusLabel"))->text();
    out() << openMs << ' ' << splitMs << ' ' << idleKiB << ' ' << statusKiB("VmHWM:") << ' '
          << longestGapMs << ' ' << QString(status).replace(QLatin1Char(' '), QLatin1Char('-'))
          << '\n';
    return status == QStringLiteral("Split completed") ? 0 : 1;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

class Bench
{
public:
    Bench(const QString &folder, qint64 sizeMiB, int runs)
        : m_folder(folder)
        , m_runs(runs)
        , m_source(QDir(folder).filePath(QStringLiteral("bench.ddb")))
    {
        m_recording.channels = benchChannels;
        m_recording.frequency = benchFrequency;
        m_recording.frames = ((sizeMiB << 20) - 512) / (benchChannels * 4);
        m_pieceBytes = qint64(benchMinutes) * 60 * benchFrequency * benchChannels * 4;
    }

    bool run()
    {
        // The recording, its pieces and split's pieces stand side by side for a moment.
        const qint64 needed = m_recording.fileSize() * 22 / 10;
        if (QStorageInfo(m_folder).bytesAvailable() < needed) {
            out() << "Skipped: " << m_folder << " has less than " << (needed >> 20)
                  << " MiB free, 2.2 times the recording\n";
            return true;
        }
        out() << "Writing " << m_recording.fileSize() << " bytes to " << m_source << '\n';
        out().flush();
        if (!m_recording.writeTo(m_source))
            return false;
        for (int round = 1; round <= m_runs; ++round) {
            out() << "Run " << round << " of " << m_runs << '\n';
            out().flush();
            if (!measureTool() || !timeShell(m_split, splitCommand())
                || !timeShell(m_splitSync, splitCommand() + QStringLiteral(" && sync"))
                || !timeShell(m_cat, QStringLiteral("cat bench.ddb > copy.ddb")))
                return false;
        }
        QFile::remove(m_source);
        printTable();
        return true;
    }

private:
    QString splitCommand() const
    {
        return QStringLiteral("split -b %1 bench.ddb split-part-").arg(m_pieceBytes);
    }

    bool warmCache() const
    {
        QFile file(m_source);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        while (!file.read(64 << 20).isEmpty()) { }
        return true;
    }

    // Everything but the source goes after each measurement, so that each one starts equal.
    void removeOutput() const
    {
        QDir dir(m_folder);
        const QStringList names = dir.entryList(QDir::Files);
        for (const QString &name : names) {
            if (name != QStringLiteral("bench.ddb"))
                dir.remove(name);
        }
        QProcess::execute(QStringLiteral("sync"), {});
    }

    // One fresh window's run: its figures, or none where it failed.
    QStringList runWindow() const
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--child"), m_source });
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            out() << "The window's run failed: " << child.readAllStandardOutput() << '\n';
            return {};
        }
        return QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    }

    // A first split, then the same again in a fresh window over its pieces.
    bool measureTool()
    {
        // Every program starts with the recording in the page cache.
        if (!warmCache())
            return false;
        const QStringList first = runWindow();
        const QStringList again = first.isEmpty() ? QStringList() : runWindow();
        if (again.isEmpty())
            return false;
        m_open << first.value(0).toDouble();
        m_splitTool << first.value(1).toDouble();
        m_aboveIdleKiB << first.value(3).toDouble() - first.value(2).toDouble();
        m_splitAgain << again.value(1).toDouble();
        m_longestGap << qMax(first.value(4).toDouble(), again.value(4).toDouble());
        removeOutput();
        return true;
    }

    bool timeShell(QVector<double> &times, const QString &command)
    {
        if (!warmCache())
            return false;
        QProcess shell;
        shell.setWorkingDirectory(m_folder);
        QElapsedTimer timer;
        timer.start();
        shell.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0) {
            out() << "Failed: " << command << '\n';
            return false;
        }
        times << timer.nsecsElapsed() / 1e6;
        removeOutput();
        return true;
    }

    void printTable() const
    {
        const double open = median(m_open);
        const double split = median(m_splitTool);
        const double splitB = median(m_split);
        const double splitBSync = median(m_splitSync);
        const double fileMiB = m_recording.fileSize() / 1048576.0;
        const double aboveIdleMiB = median(m_aboveIdleKiB) / 1024;
        out().setRealNumberNotation(QTextStream::FixedNotation);
        out().setRealNumberPrecision(2);
        out() << "\nRecording: " << m_recording.fileSize() << " bytes (" << fileMiB << " MiB), "
              << benchChannels << " channels at " << benchFrequency << " Hz, " << benchMinutes
              << "-minute pieces of " << m_pieceBytes << " bytes; medians of " << m_runs
              << " runs\n\n";
        out() << "| measurement                         | value      |\n"
              << "|-------------------------------------|-----------:|\n";
        const auto row = [](const char *name, double value, const char *unit) {
            out() << "| " << QString::fromLatin1(name).leftJustified(35) << " | "
                  << QString::number(value, 'f', 2).rightJustified(7) << ' '
                  << QString::fromLatin1(unit).leftJustified(2) << " |\n";
        };
        row("open (window)", open / 1000, "s");
        row("split (window, synced)", split / 1000, "s");
        row("split again (window, same minutes)", median(m_splitAgain) / 1000, "s");
        row("split -b", splitB / 1000, "s");
        row("split -b + sync", splitBSync / 1000, "s");
        row("cat source > copy", median(m_cat) / 1000, "s");
        row("open / split -b", open / splitB, "x");
        row("split / (split -b + sync)", split / splitBSync, "x");
        row("(open + split) / (split -b + sync)", (open + split) / splitBSync, "x");
        row("split again / split", median(m_splitAgain) / split, "x");
        row("peak memory above idle (VmHWM)", aboveIdleMiB, "MiB");
        row("longest gap between 50 ms ticks", median(m_longestGap), "ms");
        out().flush();
    }

    QString m_folder;
    int m_runs;
    SyntheticRecording m_recording;
    QString m_source;
    qint64 m_pieceBytes;
    QVector<double> m_open, m_splitTool, m_splitAgain, m_aboveIdleKiB, m_split, m_splitSync, m_cat,
            m_longestGap;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        QApplication app(argc, argv);
        return measureWindow(QString::fromLocal8Bit(argv[2]));
    }

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Times opening and splitting a synthetic recording in the window against "
            "split -b and cat."));
    parser.addHelpOption();
    const QCommandLineOption sizeOption(QStringLiteral("size-mib"),
                                        QStringLiteral("Size of the recording in MiB."),
                                        QStringLiteral("mib"), QStringLiteral("1024"));
    const QCommandLineOption runsOption(QStringLiteral("runs"),
                                        QStringLiteral("Runs of each measurement."),
                                        QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Folder to work in (a temporary one "
                                                      "inside it)."),
                                       QStringLiteral("folder"), QDir::tempPath());
    parser.addOptions({ sizeOption, runsOption, dirOption });
    parser.process(app);

    const qint64 sizeMiB = parser.value(sizeOption).toLongLong();
    const int runs = parser.value(runsOption).toInt();
    QTemporaryDir folder(
            QDir(parser.value(dirOption)).filePath(QStringLiteral("tranchel-bench-XXXXXX")));
    if (sizeMiB < 1 || runs < 1 || !folder.isValid()) {
        out() << parser.helpText();
        return 2;
    }
    return Bench(folder.path(), sizeMiB, runs).run() ? 0 : 1;
}
