// SPDX-FileCopyrightText: 2026 The tranchel authors
// SPDX-License-Identifier: MIT

#include "tranchel.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(TRANCHEL_VERSION));
    // Lets desktops, Wayland's too, match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tranchel"));
    Tranchel window;
    window.show();
    return app.exec();
}
