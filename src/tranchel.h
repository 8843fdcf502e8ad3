// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recording.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

QT_BEGIN_NAMESPACE
class QFileDialog;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
QT_END_NAMESPACE

namespace Ddb {
class PiecePlan;
class SplitThread;
} // namespace Ddb

class StatusLine;

// The one window: choose a recording, check its header, split it into pieces.
class Tranchel : public QWidget
{
    Q_OBJECT

public:
    explicit Tranchel(QWidget *parent = nullptr);
    ~Tranchel() override;

public slots:
    void onOpenFilesButtonClicked();
    void onReplaceButtonClicked();
    void onMinutesSpinValueChanged(int);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    int runFileDialog();
    void replace();
    void startSplit(const Ddb::PiecePlan &plan);
    void showProgress();
    void stopSplit();
    void endSplit();
    QString samplesToolTip() const;
    QSize fittingSize();
    QString fitted(QLabel *label, const char *name, const QString &value, Qt::TextElideMode mode);
    void setToolTipOf(QLabel *label, const QString &text);
    void showIdle(const QString &status, const QStringList &report = QStringList());
    void showRecording();
    void releaseRecording();

    quint16 minutes = 60;
    QString path;
    Ddb::Recording recording; // held open from opening until the split; never written
    // The split that runs, which the recording then belongs to.
    std::unique_ptr<Ddb::SplitThread> splitThread;
    bool closeWhenStopped = false;
    QElapsedTimer sinceAnnounced;

    QFileDialog *fileDialog;
    QPushButton *openButton;
    QPushButton *splitButton;
    QSpinBox *minutesSpin;
    QLabel *dateLabel;
    QLabel *nameLabel;
    QLabel *frequencyLabel;
    QLabel *channelsLabel;
    QLabel *samplesLabel;
    StatusLine *statusLabel;
    QTimer *progressTimer;
};
