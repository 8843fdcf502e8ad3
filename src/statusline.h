// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QLabel>
#include <QStringList>

// The window's status line: its text, and a report of what the last split did, which hover
// and keyboard focus show alike. While it holds a report it can be reached with Tab, draws a
// focus frame, and tells assistive technology the report as plain text.
class StatusLine : public QLabel
{
public:
    explicit StatusLine(QWidget *parent = nullptr);

    // A new status, with its report (none: not reachable); announced to assistive technology.
    void setStatus(const QString &status, const QStringList &report = QStringList());
    // A new text for the status that stands, which assistive technology hears of only when
    // announced.
    void showProgress(const QString &text);
    void announce();

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};
