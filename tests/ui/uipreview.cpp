// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Shows the bare main window (no recorder behind it) for screenshots and for looking at the
// artwork. --compact shows the status-bar-only view, --about opens the About box,
// --grab FILE saves the window to FILE and quits.
#include "about.h"
#include "mainwindowui.h"
#include "widgets.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    QMainWindow window;
    MainWindowUi ui;
    ui.setupUi(&window);
    const int width = ui.SBTimer->x() + ui.SBTimer->width() + 2;
    const bool compact = args.contains(QStringLiteral("--compact"));
    ui.Sosa1->setVisible(compact);
    MainWindowUi::setClientSize(&window, width, compact ? ui.Panel2->height()
                                                        : ui.Panel1->height() + ui.Panel2->height() + 1);
    ui.Label1->setCaption(QStringLiteral("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ"));
    if (args.contains(QStringLiteral("--enabled"))) {
        for (TSpeedButton *b : {ui.SBSave, ui.SBPlay, ui.SBPause, ui.SBStop, ui.SBRec})
            b->setEnabled(true);
        ui.SBTimer->setChecked(true);
    }
    window.move(40, 40);
    window.show();

    const int grab = args.indexOf(QStringLiteral("--grab"));
    TAboutBox about(&window);
    if (args.contains(QStringLiteral("--about"))) {
        if (grab > 0) {
            about.show();
            QTimer::singleShot(300, [&] {
                about.grab().save(args.value(grab + 1));
                app.quit();
            });
        } else {
            QTimer::singleShot(0, [&] { about.showModalBox(); });
        }
    } else if (grab > 0) {
        QTimer::singleShot(300, [&] {
            window.grab().save(args.value(grab + 1));
            app.quit();
        });
    }
    QObject::connect(ui.About1, &QAction::triggered, &about, &TAboutBox::showModalBox);
    QObject::connect(ui.MMExit, &QAction::triggered, &window, &QWidget::close);
    return app.exec();
}
