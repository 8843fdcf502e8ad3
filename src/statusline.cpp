// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "statusline.h"

#include "splitreport.h"

#include <QFocusEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>
#include <QToolTip>

namespace {

constexpr int ToolTipPause = 500; // milliseconds

} // namespace

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("statusLabel"));
    setFocusPolicy(Qt::NoFocus);
}

// The toolkit announces the new name and description to assistive technology itself. The
// name is set before the text, so that the text does not announce itself as well.
void StatusLine::setStatus(const QString &status, const QStringList &report)
{
    setAccessibleName(status);
    setText(status);
    setToolTip(SplitReport::toolTip(report));
    setAccessibleDescription(SplitReport::plainText(report));
    setFocusPolicy(report.isEmpty() ? Qt::NoFocus : Qt::TabFocus);
}

// The name set last stands for it, so that a change of the text alone is not announced.
void StatusLine::showProgress(const QString &text)
{
    setText(text);
}

void StatusLine::announce()
{
    setAccessibleName(text());
}

// Keyboard users see the report as a mouse user sees it on hover, after a like pause: a tooltip
// goes at the next key, which the release of the Tab that brought the focus would be.
void StatusLine::focusInEvent(QFocusEvent *event)
{
    QLabel::focusInEvent(event);
    QTimer::singleShot(ToolTipPause, this, [this] {
        if (hasFocus() && !toolTip().isEmpty())
            QToolTip::showText(mapToGlobal(QPoint(0, height())), toolTip(), this);
    });
}

void StatusLine::focusOutEvent(QFocusEvent *event)
{
    QLabel::focusOutEvent(event);
    QToolTip::hideText();
}

void StatusLine::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(backgroundRole());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
}
