// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#pragma once

#include <QString>
#include <QStringList>

#include <functional>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

// Clicks the window's "Open file" button (or runs `open`, a key say) and answers its own file
// dialog from inside the modal loop, as a user would: types `path` into the name box and
// accepts, or cancels when `path` is empty. `beforeAccept` runs just before the dialog is
// accepted. Returns the files the dialog had selected when it was accepted (none when
// cancelled).
QStringList openThroughDialog(QWidget &window, const QString &path,
                              const std::function<void()> &beforeAccept = {},
                              const std::function<void()> &open = {});
