// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What any Qt Widgets window costs on this machine for what Tavrin's window does while it
// records: a window of the same size whose 500 ms timer repaints a glyph-sized rectangle every
// other tick (--timer-only: the timer alone). The benchmark measures its UI thread beside
// Tavrin's, so a figure on a slow or busy machine can be read against the floor under it.
//   qtfloor [--timer-only]
#include <QApplication>
#include <QMainWindow>
#include <QPainter>
#include <QTimer>

namespace {
class Glyph : public QWidget {
public:
    using QWidget::QWidget;
    bool lit = false;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), lit ? Qt::white : Qt::black);
    }
};
} // namespace

int main(int argc, char **argv)
{
    // As Tavrin draws: without shared-memory images, whose completion events wake the program.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    const bool timerOnly = app.arguments().contains(QStringLiteral("--timer-only"));
    QMainWindow window;
    window.setFixedSize(245, 51);
    auto *glyph = new Glyph(&window);
    glyph->setAttribute(Qt::WA_OpaquePaintEvent);
    glyph->setGeometry(230, 36, 8, 13);
    window.show();
    QTimer timer;
    timer.setInterval(500);
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!timerOnly && ++ticks % 2 == 0) {
            glyph->lit = !glyph->lit;
            glyph->repaint();
        }
    });
    timer.start();
    return app.exec();
}
