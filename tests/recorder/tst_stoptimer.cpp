// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The stop timer: its switch, the stop-time entry, the automatic stop and the automatic save.
#include "recorderrig.h"

#include "qtplatform.h"
#include "../install/unwritable.h"

#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>

class TestStopTimer : public QObject {
    Q_OBJECT

    static void arm(RecorderRig &rig, const QString &stopTime) {
        rig.platform.inputAnswers.enqueue(stopTime);
        rig.trigger("MMTimerSet");
        if (!rig.button("SBTimer")->isChecked())
            rig.click("SBTimer");
    }

private slots:
    void switchAndMenuStayInStep() {
        RecorderRig rig;
        rig.start();
        QVERIFY(!rig.button("SBTimer")->isChecked());
        rig.click("SBTimer");
        QVERIFY(rig.button("SBTimer")->isChecked());
        QVERIFY(rig.action("MMTimer")->isChecked());
        rig.trigger("MMTimer");
        QVERIFY(!rig.button("SBTimer")->isChecked());
        QVERIFY(!rig.action("MMTimer")->isChecked());
        rig.trigger("MMTimer");
        QVERIFY(rig.button("SBTimer")->isChecked());
        QVERIFY(rig.action("MMTimer")->isChecked());
        rig.trigger("MMTimerAutoSave");
        QVERIFY(rig.action("MMTimerAutoSave")->isChecked());
        rig.trigger("MMTimerAutoSave");
        QVERIFY(!rig.action("MMTimerAutoSave")->isChecked());
    }

    void entryDialogAndNormalisation() {
        RecorderRig rig;
        rig.start();
        rig.platform.inputAnswers.enqueue(QString("130"));
        rig.trigger("MMTimerSet");
        QCOMPARE(rig.platform.queries.size(), 1);
        QCOMPARE(rig.platform.queries.first().caption, QString("タイマー設定"));
        QCOMPARE(rig.platform.queries.first().prompt, QString("停止する時間を設定して下さい。(hh:nn:ss)"));
        QCOMPARE(rig.platform.queries.first().value, QString("00:00:00"));
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:01:30"));
        // Cancel keeps an 8-character stop time.
        rig.trigger("MMTimerSet");
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:01:30"));
        rig.platform.inputAnswers.enqueue(QString("1234567"));
        rig.trigger("MMTimerSet");
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:00:00"));
        QVERIFY(!rig.button("SBTimer")->isChecked());
    }

    void zeroStopTimeFiresOnTheFirstTick() {
        RecorderRig rig;
        rig.start();
        rig.click("SBTimer");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(500);
        QCOMPARE(rig.label(), QString("停止"));
        QVERIFY(!rig.timerOn());
        QCOMPARE(rig.device().Mode(), ModeStopped);
        QCOMPARE(rig.device().Length(), 500);
        QCOMPARE(rig.panel(), QString("00:00:00/00:00:00"));
        // The automatic stop leaves Sosa1, SBRec and Playing as they were.
        QCOMPARE(rig.action("Sosa1")->text(), QString("停止(&C)"));
        QVERIFY(!rig.button("SBRec")->isEnabled());
        QVERIFY(rig.button("SBPlay")->isEnabled());
        QVERIFY(rig.button("SBSave")->isEnabled());
        QVERIFY(rig.action("MMSave")->isEnabled());
        QVERIFY(!rig.button("SBPause")->isEnabled());
        QVERIFY(!rig.button("SBStop")->isEnabled());
        // Without auto-save the take is unsaved, and the timer stays armed.
        QVERIFY(!rig.form->fileSaved());
        QVERIFY(rig.button("SBTimer")->isChecked());
    }

    void tenSecondsFiresWithinItsSecond() {
        RecorderRig rig;
        rig.start();
        arm(rig, "10");
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:00:10"));
        rig.key(Qt::Key_Space);
        for (int i = 0; i < 19; ++i)
            rig.advanceAndTick(500);
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.device().Length(), 9500);
        rig.advanceAndTick(500);
        QCOMPARE(rig.label(), QString("停止"));
        QCOMPARE(rig.device().Length(), 10000);
        QCOMPARE(rig.panel(), QString("00:00:00/00:00:10"));
    }

    void aTickThatSkipsTheSecondNeverFires() {
        RecorderRig rig;
        rig.start();
        arm(rig, "10");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(9900);
        rig.advanceAndTick(1200);  // 11.1 s: the 10th second passed without a tick
        rig.advanceAndTick(5000);
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.device().Mode(), ModeRecording);
    }

    void resumedRecordingCountsItsWholeLength() {
        RecorderRig rig;
        rig.start();
        arm(rig, "3");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(2000);
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        rig.advanceAndTick(1000);
        QCOMPARE(rig.label(), QString("停止"));
        QCOMPARE(rig.device().Length(), 3000);
    }

    void autoSaveWritesATimeStampedFile() {
        RecorderRig rig;
        rig.start();
        arm(rig, "2");
        rig.trigger("MMTimerAutoSave");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.advanceAndTick(1000);
        const QString expected = rig.dir.path() + "/1207140509.wav";
        QCOMPARE(rig.label(), QString("停止"));
        QVERIFY(rig.form->fileSaved());
        QCOMPARE(rig.readFile(expected).size(), 44 + 2000 * 441 / 10 * 4);
        QCOMPARE(rig.device().FileName, expected);

        // A second automatic stop in the same second finds the name taken: the first take
        // stays, the second gets the next free name.
        QVERIFY(rig.platform.messages.isEmpty());
        QFile::resize(expected, 100);
        rig.trigger("MMNew");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.advanceAndTick(1000);
        QCOMPARE(rig.readFile(expected).size(), 100);
        const QString second = rig.dir.path() + "/1207140509-2.wav";
        QCOMPARE(rig.readFile(second).size(), 44 + 2000 * 441 / 10 * 4);
        QCOMPARE(rig.device().FileName, second);
        QCOMPARE(QFileInfo(second).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(rig.platform.errors().isEmpty());
    }

    void aFailedAutoSaveIsReportedAndLeavesTheTakeUnsaved() {
        RecorderRig rig;
        rig.start();
        arm(rig, "1");
        rig.trigger("MMTimerAutoSave");
        rig.key(Qt::Key_Space);
        {
            // The folder refuses new files; the message says so, after the status bar shows
            // the stop (a later device call must not turn the reason into "no error").
            Unwritable guard(rig.dir.path());
            if (!guard.ok())
                QSKIP(qPrintable(guard.why()));
            QString panelAtMessage;
            rig.platform.whileModal = [&] { panelAtMessage = rig.panel(); };
            rig.advanceAndTick(1000);
            QCOMPARE(panelAtMessage, QString("00:00:00/00:00:01"));
        }
        QCOMPARE(rig.label(), QString("停止"));
        QVERIFY(!rig.timerOn());
        QVERIFY(!rig.form->fileSaved());
        QCOMPARE(rig.platform.errors().size(), 1);
        const QString text = rig.platform.errors().first();
        QVERIFY(text.contains("1207140509.wav"));
        QVERIFY2(text.contains("許可されていません") || text.contains("権限がありません"), qPrintable(text));
        QVERIFY(!text.endsWith("。."));
    }

    void timerFiresWhileTheGuardIsOpen() {
        RecorderRig rig;
        rig.start();
        arm(rig, "1");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(500);
        rig.platform.whileModal = [&] { rig.advanceAndTick(500); };
        rig.platform.answers.enqueue(MsgResult::Cancel);
        rig.trigger("MMNew");
        QCOMPARE(rig.label(), QString("停止"));
        QCOMPARE(rig.device().Length(), 1000);
        QVERIFY(!rig.form->fileSaved());
    }

    void stopTimeChangesOnlyWhenTheEntryCloses() {
        RecorderRig rig;
        rig.start();
        arm(rig, "2");
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        // While the entry is open, ticks compare with the old stop time (2 s).
        rig.platform.whileModal = [&] { rig.advanceAndTick(1000); };
        rig.platform.inputAnswers.enqueue(QString("30"));
        rig.trigger("MMTimerSet");
        QCOMPARE(rig.label(), QString("停止"));
        QCOMPARE(rig.device().Length(), 2000);
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:00:30"));
    }

    // With the desktop's own message box: the window's timer goes on ticking while the
    // unsaved-recording question waits for an answer, and the stop timer fires meanwhile.
    void realTimerTicksWhileARealQuestionIsOpen() {
        QTemporaryDir dir;
        QtPlatform platform([] { return 1; });
        auto backend = std::make_unique<FakeAudioBackend>();
        FakeAudioBackend *fake = backend.get();
        TForm1 form(platform, std::move(backend), AppPaths(dir.path() + "/tavr", dir.path() + "/state"), {});
        form.show();
        form.findChild<TSpeedButton *>("SBTimer")->setText("00:00:01");
        form.findChild<TSpeedButton *>("SBTimer")->click();
        form.SBRecClick();
        QTimer::singleShot(100, [fake] { fake->advance(1200); });
        QString labelWhileOpen;
        QTimer::singleShot(1300, [&] {
            labelWhileOpen = form.findChild<TStatusLabel *>("Label1")->caption();
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box)
                box->reject();
        });
        form.SBNewClick();  // asks; Esc-like reject answers Cancel
        QCOMPARE(labelWhileOpen, QString("停止"));
        QCOMPARE(form.mediaPlayer().Length(), 1200);
        QCOMPARE(form.mediaPlayer().Mode(), ModeStopped);
        QVERIFY(!form.fileSaved());
    }

    void rightClickOpensTheEntryWithoutToggling() {
        RecorderRig rig;
        rig.start();
        rig.form->show();
        TSpeedButton *timer = rig.button("SBTimer");
        rig.platform.underCursor = timer;
        rig.platform.inputAnswers.enqueue(QString("45"));
        QTest::mousePress(timer, Qt::RightButton);
        QCOMPARE(QWidget::mouseGrabber(), timer);
        QTest::mouseRelease(timer, Qt::RightButton);
        QCOMPARE(rig.platform.queries.size(), 1);
        QCOMPARE(timer->text(), QString("00:00:45"));
        QVERIFY(!timer->isChecked());
        QVERIFY(QWidget::mouseGrabber() == nullptr);

        // Released elsewhere: nothing opens, and the capture is still released.
        rig.platform.underCursor = rig.button("SBRec");
        QTest::mousePress(timer, Qt::RightButton);
        QTest::mouseRelease(timer, Qt::RightButton);
        QCOMPARE(rig.platform.queries.size(), 1);
        QVERIFY(QWidget::mouseGrabber() == nullptr);
        QVERIFY(!timer->isChecked());
    }
};

QTEST_MAIN(TestStopTimer)
#include "tst_stoptimer.moc"
