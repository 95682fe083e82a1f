// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Shows one window and switches its always-on-top state on commands from stdin ("on", "off",
// "quit"), printing the X window id and "ready" after each, for the X11 check script.
#include "qtplatform.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QtPlatform platform;
    QWidget w;
    w.setWindowTitle(QStringLiteral("Tavrin probe"));
    w.setGeometry(300, 200, 245, 51);
    w.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64] = {};
        if (!std::fgets(line, sizeof line, stdin)) {
            app.quit();
            return;
        }
        const QByteArray cmd = QByteArray(line).trimmed();
        if (cmd == "on" || cmd == "off")
            platform.setStayOnTop(&w, cmd == "on");
        else if (cmd == "quit")
            app.quit();
        QApplication::processEvents();
        std::printf("0x%llx ready\n", static_cast<unsigned long long>(w.winId()));
        std::fflush(stdout);
    });
    std::printf("0x%llx ready\n", static_cast<unsigned long long>(w.winId()));
    std::fflush(stdout);
    return app.exec();
}
