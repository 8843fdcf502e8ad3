// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include "recording.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>

QT_BEGIN_NAMESPACE
class QFileDialog;
class QLabel;
class QPushButton;
class QSpinBox;
QT_END_NAMESPACE

class StatusLine;

// The one window: choose a recording, check its header, split it into pieces.
class Tranchel : public QWidget
{
    Q_OBJECT

public:
    explicit Tranchel(QWidget *parent = nullptr);

public slots:
    void onOpenFilesButtonClicked();
    void onReplaceButtonClicked();
    void onMinutesSpinValueChanged(int);

private:
    void replace();
    bool splitRecording(QStringList &report);
    QString samplesToolTip() const;
    QSize fittingSize();
    QString fitted(QLabel *label, const char *name, const QString &value, Qt::TextElideMode mode);
    void setToolTipOf(QLabel *label, const QString &text);
    void showIdle(const QString &status);
    void showRecording();
    void releaseRecording();

    quint16 minutes = 60;
    QString path;
    Ddb::Recording recording; // held open from opening until the split; never written

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
};
