// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Compact mode, always-on-top, the mixer, help and the About box, as the window's commands.
#include "recorderrig.h"

#include "about.h"

#include <QApplication>

class TestWindowOptions : public QObject {
    Q_OBJECT
private slots:
    void compactModeTwiceReturnsTheWindowAsItWas() {
        RecorderRig rig;
        rig.start();
        rig.form->move(200, 150);
        rig.form->show();
        const QPoint at = rig.form->pos();
        rig.trigger("MMCompactMode");
        QVERIFY(rig.action("MMCompactMode")->isChecked());
        QVERIFY(rig.action("Sosa1")->isVisible());
        QCOMPARE(MainWindowUi::clientHeight(rig.form.get()), 17);
        QCOMPARE(MainWindowUi::clientWidth(rig.form.get()), 245);
        QCOMPARE(rig.form->pos(), at);
        // The status bar alone is in view, and the menu bar's command runs the transport.
        QCOMPARE(rig.find<TStatusPanel>("Panel2")->geometry().top(), 0);
        rig.trigger("Sosa1");
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.action("Sosa1")->text(), QString("停止(&C)"));
        rig.advanceAndTick(1000);
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("停止"));
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Right, Qt::ControlModifier);
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(rig.label(), QString("一時停止"));

        rig.trigger("MMCompactMode");
        QVERIFY(!rig.action("MMCompactMode")->isChecked());
        QVERIFY(!rig.action("Sosa1")->isVisible());
        QCOMPARE(MainWindowUi::clientHeight(rig.form.get()), 51);
        QCOMPARE(MainWindowUi::clientWidth(rig.form.get()), 245);
        QCOMPARE(rig.form->pos(), at);
    }

    void stayOnTopTwiceOnlyChangesTheStacking() {
        RecorderRig rig;
        rig.start();
        rig.form->show();
        const QRect before = rig.form->geometry();
        rig.trigger("MMStayOnTop");
        QVERIFY(rig.action("MMStayOnTop")->isChecked());
        rig.trigger("MMStayOnTop");
        QVERIFY(!rig.action("MMStayOnTop")->isChecked());
        QCOMPARE(rig.platform.stayOnTopCalls, (QList<bool>{true, false}));
        QCOMPARE(rig.form->geometry(), before);
        QVERIFY(rig.form->isVisible());
    }

    void mixerAndHelp() {
        RecorderRig rig;
        rig.start();
        rig.trigger("MMVolume");
        QCOMPARE(rig.platform.volumeCalls, 1);
        rig.trigger("Contents1");
        QCOMPARE(rig.platform.helpCalls, QStringList{rig.dir.path() + "/tavr.hlp"});
    }

    void aboutIsModalAndClosesWithEnter() {
        RecorderRig rig;
        rig.start();
        rig.form->show();
        TAboutBox box(rig.form.get());
        rig.form->setAboutBox(&box);
        bool wasModal = false;
        QTimer::singleShot(50, [&] {
            wasModal = QApplication::activeModalWidget() == &box;
            QTest::keyClick(&box, Qt::Key_Return);
        });
        rig.trigger("About1");
        QVERIFY(wasModal);
        QVERIFY(!box.isVisible());
    }
};

QTEST_MAIN(TestWindowOptions)
#include "tst_windowoptions.moc"
