#include "tranchel.h"

#include "pieceplan.h"
#include "piecewriter.h"
#include "recordingfile.h"

#include <QApplication>
#include <QDebug>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Opening and splitting block the window for as long as the disk takes.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

QLabel *newLabel(const QString &objectName, const QString &text)
{
    auto *label = new QLabel(text);
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

} // namespace

Tranchel::Tranchel(QWidget *parent)
    : QWidget(parent)
{
    fileDialog = new QFileDialog(this);
    fileDialog->setNameFilter(tr("DDB file (*.ddb)"));
    fileDialog->setViewMode(QFileDialog::Detail);

    openButton = new QPushButton(tr("Open file"));
    openButton->setObjectName(QStringLiteral("openButton"));
    connect(openButton, &QPushButton::clicked, this, &Tranchel::onOpenFilesButtonClicked);

    minutesSpin = new QSpinBox;
    minutesSpin->setObjectName(QStringLiteral("minutesSpin"));
    minutesSpin->setRange(1, 120);
    minutesSpin->setValue(minutes);
    minutesSpin->setEnabled(false);
    connect(minutesSpin, qOverload<int>(&QSpinBox::valueChanged), this,
            &Tranchel::onMinutesSpinValueChanged);

    splitButton = new QPushButton(tr("Split file"));
    splitButton->setObjectName(QStringLiteral("splitButton"));
    splitButton->setEnabled(false);
    connect(splitButton, &QPushButton::clicked, this, &Tranchel::onReplaceButtonClicked);

    nameLabel = newLabel(QStringLiteral("nameLabel"), emptyField("Name"));
    dateLabel = newLabel(QStringLiteral("dateLabel"), emptyField("Date"));
    frequencyLabel = newLabel(QStringLiteral("frequencyLabel"), emptyField("Frequency"));
    channelsLabel = newLabel(QStringLiteral("channelsLabel"), emptyField("Channels"));
    samplesLabel = newLabel(QStringLiteral("samplesLabel"), emptyField("Samples"));
    statusLabel = newLabel(QStringLiteral("statusLabel"), QString());

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
    setFixedSize(250, 250);
    openButton->setFocus(Qt::OtherFocusReason);
    setWindowTitle(QStringLiteral("DDB file splitter"));
}

void Tranchel::onOpenFilesButtonClicked()
{
    path.clear();
    statusLabel->clear();
    // Never hold two recordings at once, and never keep one under another file's name.
    releaseRecording();
    if (fileDialog->exec() != QDialog::Accepted) {
        showIdle(QString());
        return;
    }
    path = fileDialog->selectedFiles().value(0);

    const WaitCursor waitCursor;
    std::optional<DdbHeader> loadedHeader;
    if (!path.isEmpty()
        && Ddb::readRecording(path, recordingBytes, recordingIdentity) == Ddb::ReadResult::Loaded)
        loadedHeader = Ddb::readHeader(recordingBytes);
    if (!loadedHeader) {
        releaseRecording();
        showIdle(QString());
        return;
    }
    header = *loadedHeader;
    showRecording();
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
    const bool succeeded = splitRecording();
    // The idle window holds no recording: its memory goes back to the system.
    releaseRecording();
    showIdle(succeeded ? QStringLiteral("Split completed") : QStringLiteral("Split failed"));
}

bool Tranchel::splitRecording()
{
    if (recordingBytes.isEmpty())
        return true;
    const PiecePlan plan(header, minutes, recordingBytes.size());
    if (plan.status() == PiecePlan::Status::NoFrequency)
        return false;
    qDebug() << plan.pieceCount();
    qDebug() << header.frequency;
    qDebug() << header.channels;
    qDebug() << header.samples;
    if (plan.status() != PiecePlan::Status::Ready)
        return false;

    const WaitCursor waitCursor;
    const SplitOutcome outcome = Ddb::writePieces(recordingBytes, recordingIdentity, path, plan);
    header.samples = 0; // every frame is in a piece or in a skipped one
    return outcome.succeeded();
}

void Tranchel::releaseRecording()
{
    recordingBytes = QByteArray();
    recordingIdentity = Ddb::FileIdentity();
}

void Tranchel::showIdle(const QString &status)
{
    splitButton->setEnabled(false);
    minutesSpin->setEnabled(false);
    nameLabel->setText(emptyField("Name"));
    dateLabel->setText(emptyField("Date"));
    frequencyLabel->setText(emptyField("Frequency"));
    channelsLabel->setText(emptyField("Channels"));
    samplesLabel->setText(emptyField("Samples"));
    statusLabel->setText(status);
}

void Tranchel::showRecording()
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    nameLabel->setText(field("Name", name.toHtmlEscaped()));
    dateLabel->setText(
            field("Date", header.timeStamp().toString(QStringLiteral("yyyy.MM.dd hh:mm:ss"))));
    frequencyLabel->setText(field("Frequency", QString::number(header.frequency)));
    channelsLabel->setText(field("Channels", QString::number(header.channels)));
    samplesLabel->setText(field("Samples", QString::number(header.samples)));
    splitButton->setEnabled(true);
    minutesSpin->setEnabled(true);
}
