// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "dialogdriver.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

QStringList openThroughDialog(QWidget &window, const QString &path,
                              const std::function<void()> &beforeAccept,
                              const std::function<void()> &open)
{
    // Held jointly, so that the answer stays sound even if it ran after this returned.
    const auto chosen = std::make_shared<QStringList>();
    QTimer::singleShot(0, &window, [&window, path, beforeAccept, chosen] {
        auto *dialog = window.findChild<QFileDialog *>();
        if (!dialog)
            return;
        if (!path.isEmpty()) {
            // selectFile() leaves a focused name box alone, and what was picked in the list
            // last time would stay picked; a user typing a name replaces both.
            const QList<QAbstractItemView *> views = dialog->findChildren<QAbstractItemView *>();
            for (auto *view : views)
                view->clearSelection();
            auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (nameEdit)
                nameEdit->setText(path);
            else
                dialog->selectFile(path);
            *chosen = dialog->selectedFiles();
            if (beforeAccept)
                beforeAccept();
            static_cast<QDialog *>(dialog)->accept();
        }
        // A folder is entered rather than accepted; never leave the test waiting on it.
        if (dialog->isVisible())
            dialog->reject();
    });
    if (open)
        open();
    else if (auto *openButton = window.findChild<QPushButton *>(QStringLiteral("openButton")))
        openButton->click();
    return *chosen;
}
