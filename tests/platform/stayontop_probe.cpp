// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Shows one window and switches its always-on-top state on commands from stdin ("on", "off",
// "quit"), for the X11 check script. Prints the X window id and "ready" once the window is on
// screen (however long the window manager takes to map it), then again after each command
// once the X server has carried it out.
#include "qtplatform.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unistd.h>

namespace {

class ExposeWatch : public QObject {
public:
    explicit ExposeWatch(std::function<void()> onExposed) : m_onExposed(std::move(onExposed)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed() && m_onExposed) {
            auto done = std::move(m_onExposed);
            m_onExposed = nullptr;
            done();
        }
        return false;
    }

private:
    std::function<void()> m_onExposed;
};

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    auto *x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) {
        std::fprintf(stderr, "not on X11\n");
        return 1;
    }
    QtPlatform platform;
    QWidget w;
    w.setWindowTitle(QStringLiteral("Tavrin probe"));
    w.setGeometry(300, 200, 245, 51);

    auto ready = [&] {
        // A round trip on Qt's own connection: every request sent before it has been handled.
        xcb_connection_t *c = x11->connection();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        std::printf("0x%llx ready\n", static_cast<unsigned long long>(w.winId()));
        std::fflush(stdout);
    };

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    input.setEnabled(false);
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
        ready();
    });
    ExposeWatch watch([&] {
        ready();
        input.setEnabled(true);
    });
    w.winId();
    w.windowHandle()->installEventFilter(&watch);
    w.show();
    return app.exec();
}
