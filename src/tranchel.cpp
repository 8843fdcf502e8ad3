// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "tranchel.h"

#include "pieceplan.h"
#include "splitreport.h"
#include "splitthread.h"
#include "statusline.h"
#include "systemmemory.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QDebug>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int ProgressInterval = 250; // milliseconds
// A screen reader hears the piece a split is at this seldom, not at every piece.
constexpr qint64 AnnouncementInterval = 30000; // milliseconds

// Opening blocks the window for as long as the disk takes to give the header.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// Its text is set by showIdle() and showRecording().
QLabel *newLabel(const QString &objectName)
{
    auto *label = new QLabel;
    label->setObjectName(objectName);
    return label;
}

QString field(const char *name, const QString &value)
{
    return QStringLiteral("<b>%1:</b> %2").arg(QLatin1String(name), value);
}

QString emptyField(const char *name)
{
    return field(name, QStringLiteral("-"));
}

QString progressText(quint32 piece, quint32 pieceCount)
{
    return QStringLiteral("Splitting: piece %1 of %2").arg(piece).arg(pieceCount);
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : { 16, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/tranchel-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

Tranchel::Tranchel(QWidget *parent)
    : QWidget(parent)
{
    Q_INIT_RESOURCE(tranchel);

    fileDialog = new QFileDialog(this);
    fileDialog->setNameFilter(tr("DDB file (*.ddb)"));
    fileDialog->setViewMode(QFileDialog::Detail);
    if (auto *model = fileDialog->findChild<QFileSystemModel *>())
        model->setOption(QFileSystemModel::DontWatchForChanges, true);

    openButton = new QPushButton(tr("Open file"));
    openButton->setObjectName(QStringLiteral("openButton"));
    connect(openButton, &QPushButton::clicked, this, &Tranchel::onOpenFilesButtonClicked);

    minutesSpin = new QSpinBox;
    minutesSpin->setObjectName(QStringLiteral("minutesSpin"));
    minutesSpin->setRange(1, 120);
    minutesSpin->setValue(minutes);
    minutesSpin->setEnabled(false);
    minutesSpin->setAccessibleName(QStringLiteral("Minutes per piece"));
    minutesSpin->setToolTip(QStringLiteral("Minutes per piece"));
    connect(minutesSpin, qOverload<int>(&QSpinBox::valueChanged), this,
            &Tranchel::onMinutesSpinValueChanged);

    splitButton = new QPushButton(tr("Split file"));
    splitButton->setObjectName(QStringLiteral("splitButton"));
    splitButton->setEnabled(false);
    connect(splitButton, &QPushButton::clicked, this, &Tranchel::onReplaceButtonClicked);

    // The platform's keys: Open as "Open file", Quit and Close close the window. No key splits.
    auto *openAction = new QAction(this);
    openAction->setShortcuts(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this, &Tranchel::onOpenFilesButtonClicked);
    auto *closeAction = new QAction(this);
    closeAction->setShortcuts(QKeySequence::keyBindings(QKeySequence::Quit)
                              + QKeySequence::keyBindings(QKeySequence::Close));
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    auto *stopAction = new QAction(this);
    stopAction->setShortcut(Qt::Key_Escape);
    connect(stopAction, &QAction::triggered, this, [this] { stopSplit(); });
    addActions({ openAction, closeAction, stopAction });
#if QT_CONFIG(sessionmanager)
    // A logout closes the window, which stops a split first; Qt 6 leaves that to the program.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { close(); });
#endif

    progressTimer = new QTimer(this);
    progressTimer->setInterval(ProgressInterval);
    connect(progressTimer, &QTimer::timeout, this, [this] { showProgress(); });

    nameLabel = newLabel(QStringLiteral("nameLabel"));
    dateLabel = newLabel(QStringLiteral("dateLabel"));
    frequencyLabel = newLabel(QStringLiteral("frequencyLabel"));
    channelsLabel = newLabel(QStringLiteral("channelsLabel"));
    samplesLabel = newLabel(QStringLiteral("samplesLabel"));
    statusLabel = new StatusLine;

    auto *infoLayout = new QVBoxLayout;
    infoLayout->addWidget(nameLabel);
    infoLayout->addWidget(dateLabel);
    infoLayout->addWidget(frequencyLabel);
    infoLayout->addWidget(channelsLabel);
    infoLayout->addWidget(samplesLabel);

    auto *mainLayout = new QVBoxLayout;
    mainLayout->addWidget(openButton);
    mainLayout->addLayout(infoLayout);
    mainLayout->addWidget(minutesSpin);
    mainLayout->addWidget(splitButton);
    mainLayout->addWidget(statusLabel);
    mainLayout->addStretch(0);

    setLayout(mainLayout);
    // Once a split has a report, the status line follows "Split file" for keyboard users.
    setTabOrder(splitButton, statusLabel);
    setFixedSize(fittingSize());
    openButton->setFocus(Qt::OtherFocusReason);
    setWindowTitle(QStringLiteral("DDB file splitter"));
    setWindowIcon(programIcon());
}

// Stops a split that still runs and waits for it, as closing would.
Tranchel::~Tranchel() = default;

void Tranchel::onOpenFilesButtonClicked()
{
    // The recording and its folder belong to the split while it runs.
    if (splitThread)
        return;
    path.clear();
    statusLabel->setStatus(QString());
    // Never hold two recordings at once, and never keep one under another file's name.
    releaseRecording();
    if (runFileDialog() != QDialog::Accepted) {
        showIdle(QString());
        return;
    }
    path = fileDialog->selectedFiles().value(0);

    const WaitCursor waitCursor;
    if (recording.open(path) != Ddb::Recording::Opened::Yes) {
        showIdle(QString());
        return;
    }
    showRecording();
}

// The one dialog, watching its folder only while it is shown: hidden, it would still follow
// every name that appears there. However it closes, this window is active again, and no name
// list of the dialog's stays on screen: Qt 6 can leave the name completer's list open after
// Return, and this window inactive.
int Tranchel::runFileDialog()
{
    auto *model = fileDialog->findChild<QFileSystemModel *>();
    if (model)
        model->setOption(QFileSystemModel::DontWatchForChanges, false);
    const int answer = fileDialog->exec();
    if (model)
        model->setOption(QFileSystemModel::DontWatchForChanges, true);
    const QList<QCompleter *> completers = fileDialog->findChildren<QCompleter *>();
    for (QCompleter *completer : completers)
        completer->popup()->hide();
    activateWindow();
    return answer;
}

void Tranchel::onReplaceButtonClicked()
{
    replace();
}

void Tranchel::onMinutesSpinValueChanged(int value)
{
    minutes = quint16(value);
}

void Tranchel::replace()
{
    if (splitThread)
        return;
    if (!recording.isOpen()) {
        showIdle(QStringLiteral("Split completed"));
        return;
    }
    const Ddb::Header &header = recording.header();
    const Ddb::PiecePlan plan(header, minutes, recording.size());
    if (plan.status() != Ddb::PiecePlan::Status::NoFrequency) {
        qDebug() << plan.pieceCount();
        qDebug() << header.frequency;
        qDebug() << header.channels;
        qDebug() << header.samples;
    }
    if (plan.status() == Ddb::PiecePlan::Status::Ready) {
        startSplit(plan);
        return;
    }
    bool removed = false;
    const QString folder = recording.folder().pathNow(&removed);
    const QStringList report
            = SplitReport::lines(plan, Ddb::SplitOutcome(), folder, recording.fileName(), removed);
    // The idle window holds no recording: its memory goes back to the system.
    releaseRecording();
    showIdle(QStringLiteral("Split failed"), report);
}

// The pieces are written on a thread of their own; the window shows how far it is, and
// nothing in it can open or split meanwhile.
void Tranchel::startSplit(const Ddb::PiecePlan &plan)
{
    splitThread = std::make_unique<Ddb::SplitThread>(std::move(recording), plan,
                                                     System::availableMemory());
    connect(splitThread.get(), &QThread::finished, this, [this] { endSplit(); });
    openButton->setEnabled(false);
    minutesSpin->setEnabled(false);
    splitButton->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    statusLabel->setStatus(progressText(1, plan.pieceCount()));
    sinceAnnounced.start();
    progressTimer->start();
    splitThread->start();
    // No thread to be had (a limit on threads or on address space): split here, the window
    // frozen meanwhile rather than waiting for a thread that never runs.
    if (!splitThread->isRunning() && !splitThread->isFinished()) {
        splitThread->split();
        endSplit();
    }
}

void Tranchel::showProgress()
{
    const quint32 piece = qMax<quint32>(1, splitThread->progress().piece());
    statusLabel->showProgress(progressText(piece, splitThread->plan().pieceCount()));
    if (sinceAnnounced.hasExpired(AnnouncementInterval)) {
        statusLabel->announce();
        sinceAnnounced.start();
    }
}

// Taken at the next boundary between two slices of a piece, or between two pieces.
void Tranchel::stopSplit()
{
    if (splitThread)
        splitThread->askToStop();
}

void Tranchel::endSplit()
{
    progressTimer->stop();
    splitThread->wait();
    const Ddb::SplitOutcome &outcome = splitThread->outcome();
    const QStringList report
            = SplitReport::lines(splitThread->plan(), outcome, splitThread->folderNow(),
                                 splitThread->fileName(), splitThread->folderRemoved());
    const QString status = outcome.stopped() ? QStringLiteral("Split stopped")
            : outcome.succeeded()            ? QStringLiteral("Split completed")
                                             : QStringLiteral("Split failed");
    splitThread.reset();
    QApplication::restoreOverrideCursor();
    openButton->setEnabled(true);
    showIdle(status, report);
    if (!focusWidget())
        openButton->setFocus(Qt::OtherFocusReason);
    if (closeWhenStopped)
        close();
}

// A split that runs is asked to stop, and the window closes once it has: never with a piece
// half written.
void Tranchel::closeEvent(QCloseEvent *event)
{
    if (!splitThread) {
        QWidget::closeEvent(event);
        return;
    }
    closeWhenStopped = true;
    splitThread->askToStop();
    event->ignore();
}

// 250 x 250 where every line fits, larger where a large font needs more: measured once, with
// the widest text each line can show. The name line is left out: it is shortened to fit.
QSize Tranchel::fittingSize()
{
    ensurePolished();
    dateLabel->setText(field("Date", QStringLiteral("67535.12.31 23:59:59")));
    frequencyLabel->setText(field("Frequency", QStringLiteral("65535")));
    channelsLabel->setText(field("Channels", QStringLiteral("65535")));
    samplesLabel->setText(field("Samples", QStringLiteral("4294967295")));
    QSize needed(250, 250);
    for (const QString &status :
         { QStringLiteral("Split completed"), QStringLiteral("Split failed"),
           QStringLiteral("Split stopped"),
           progressText(Ddb::PiecePlan::MaxPieces, Ddb::PiecePlan::MaxPieces) }) {
        statusLabel->setText(status);
        // Measured here, before the window is shown, Qt 6 can come out a pixel short of what
        // the shown window's layout needs (seen with a 20 pt font): one more keeps every
        // line whole.
        needed = needed.expandedTo(layout()->sizeHint() + QSize(0, 1));
    }
    showIdle(QString());
    return needed;
}

// `value` shortened to what the line of `label` has room for after the field's name.
QString Tranchel::fitted(QLabel *label, const char *name, const QString &value,
                         Qt::TextElideMode mode)
{
    const QMargins margins = layout()->contentsMargins();
    const int lineWidth = width() - margins.left() - margins.right();
    const QFontMetrics metrics = label->fontMetrics();
    const QChar probe = QLatin1Char('M');
    label->setText(field(name, probe));
    const int room = lineWidth - label->sizeHint().width() + metrics.horizontalAdvance(probe);
    return metrics.elidedText(value, mode, room);
}

void Tranchel::releaseRecording()
{
    recording.close();
}

void Tranchel::showIdle(const QString &status, const QStringList &report)
{
    splitButton->setEnabled(false);
    minutesSpin->setEnabled(false);
    nameLabel->setText(emptyField("Name"));
    dateLabel->setText(emptyField("Date"));
    frequencyLabel->setText(emptyField("Frequency"));
    channelsLabel->setText(emptyField("Channels"));
    samplesLabel->setText(emptyField("Samples"));
    for (QLabel *label : { nameLabel, dateLabel, samplesLabel })
        setToolTipOf(label, QString());
    statusLabel->setStatus(status, report);
}

void Tranchel::showRecording()
{
    // Shortened in the middle, so that the start of the name and its extension stay.
    nameLabel->setText(field(
            "Name",
            fitted(nameLabel, "Name", recording.fileName(), Qt::ElideMiddle).toHtmlEscaped()));
    setToolTipOf(nameLabel, path);
    const Ddb::Header &header = recording.header();
    const QDateTime stamp = header.timeStamp();
    if (stamp.isValid()) {
        dateLabel->setText(field("Date", stamp.toString(QStringLiteral("yyyy.MM.dd hh:mm:ss"))));
    } else {
        // The stamp as it stands, which the pieces keep.
        const QString stored = QStringLiteral("%1.%2.%3 %4:%5:%6 (invalid)")
                                       .arg(header.year, 4, 10, QLatin1Char('0'))
                                       .arg(header.month, 2, 10, QLatin1Char('0'))
                                       .arg(header.day, 2, 10, QLatin1Char('0'))
                                       .arg(header.hour, 2, 10, QLatin1Char('0'))
                                       .arg(header.minute, 2, 10, QLatin1Char('0'))
                                       .arg(header.second, 2, 10, QLatin1Char('0'));
        dateLabel->setText(field("Date", fitted(dateLabel, "Date", stored, Qt::ElideRight)));
        setToolTipOf(dateLabel,
                     QStringLiteral("Not a valid date and time; the pieces keep it as it stands"));
    }
    frequencyLabel->setText(field("Frequency", QString::number(header.frequency)));
    channelsLabel->setText(field("Channels", QString::number(header.channels)));
    samplesLabel->setText(field("Samples", QString::number(header.samples)));
    setToolTipOf(samplesLabel, samplesToolTip());
    splitButton->setEnabled(true);
    minutesSpin->setEnabled(true);
}

// A tooltip that shows any text exactly as it is, and tells assistive technology the same
// as plain text.
void Tranchel::setToolTipOf(QLabel *label, const QString &text)
{
    label->setToolTip(text.isEmpty() ? QString()
                                     : Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap));
    label->setAccessibleDescription(text);
}

// Where the file does not hold the frames its header counts: none for frames of no bytes.
QString Tranchel::samplesToolTip() const
{
    const Ddb::Header &header = recording.header();
    if (header.frameSize() == 0)
        return QString();
    const qint64 held = Ddb::wholeFramesIn(recording.size(), header.frameSize());
    if (held < header.samples)
        return QStringLiteral("The file holds only %1 whole frames: the split will fail").arg(held);
    if (held > header.samples)
        return QStringLiteral("%1 more whole frames follow the counted ones: they will be in "
                              "no piece")
                .arg(held - header.samples);
    return QString();
}
