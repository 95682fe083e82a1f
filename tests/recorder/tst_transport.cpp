// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Record, stop, play, pause, save, the one-key command, skip and rewind, and the 500 ms tick.
#include "recorderrig.h"

#include <QDir>

#include "wavtestutil.h"

namespace {
// What the user sees and the recorder's flags, in one line:
// "Rec Pause Stop Play Save(+MMSave) | Label1 | Sosa1 | Playing FileSaved Timer1".
QString snapshot(const RecorderRig &rig) {
    const auto on = [&](const char *name) { return rig.button(name)->isEnabled() ? '1' : '0'; };
    QString buttons;
    for (const char *name : {"SBRec", "SBPause", "SBStop", "SBPlay", "SBSave"})
        buttons += QLatin1Char(on(name));
    if (rig.action("MMSave")->isEnabled() != rig.button("SBSave")->isEnabled())
        buttons += QStringLiteral("!MMSave differs");
    return QStringLiteral("%1|%2|%3|%4%5%6")
        .arg(buttons, rig.label(), rig.action("Sosa1")->text())
        .arg(int(rig.form->playing()))
        .arg(int(rig.form->fileSaved()))
        .arg(int(rig.timerOn()));
}

// What a saved file holds, as libsndfile reads it.
wavtest::Sound readWav(const QString &path) {
    return wavtest::readSound(path);
}
}  // namespace

class TestTransport : public QObject {
    Q_OBJECT
private slots:
    void stateTableOverATypicalSession() {
        RecorderRig rig;
        rig.start();
        const QString fmt = QStringLiteral("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ");
        struct Step {
            std::function<void()> run;
            QString expected;
            QString panel;  // empty: not checked
        };
        const QList<Step> steps = {
            {[] {}, "10000|" + fmt + "|録音(&C)|010", "00:00:00/00:00:00"},
            {[&] { rig.click("SBRec"); }, "01100|録音中...|停止(&C)|001", ""},
            {[&] { rig.advanceAndTick(1000); }, "01100|録音中...|停止(&C)|001", "00:00:01/00:00:01"},
            {[&] { rig.click("SBPause"); }, "10000|一時停止|停止(&C)|000", ""},
            {[&] { rig.click("SBRec"); }, "01100|録音中...|停止(&C)|001", ""},
            {[&] { rig.advanceAndTick(1200); }, "01100|録音中...|停止(&C)|001", "00:00:02/00:00:02"},
            {[&] { rig.click("SBStop"); }, "00011|停止|再生(&C)|000", "00:00:00/00:00:02"},
            {[&] { rig.click("SBPlay"); }, "01101|再生中...|停止(&C)|101", ""},
            {[&] { rig.advanceAndTick(1000); }, "01101|再生中...|停止(&C)|101", "00:00:01/00:00:02"},
            {[&] { rig.click("SBPause"); }, "00011|一時停止|停止(&C)|100", ""},
            {[&] { rig.click("SBPlay"); }, "01101|再生中...|停止(&C)|101", ""},
            // The end of playback is noticed by the next tick, which stops and rewinds.
            {[&] { rig.advanceAndTick(1200); }, "00011|停止|再生(&C)|000", "00:00:00/00:00:02"},
            {[&] {
                 rig.platform.saveAnswers.enqueue(rig.dir.path() + "/a.wav");
                 rig.click("SBSave");
             },
             "00011|停止|再生(&C)|010", ""},
            {[&] { rig.click("SBNew"); }, "10000|" + fmt + "|録音(&C)|010", "00:00:00/00:00:00"},
        };
        int i = 0;
        for (const Step &step : steps) {
            step.run();
            QVERIFY2(snapshot(rig) == step.expected,
                     qPrintable(QStringLiteral("step %1: %2 != %3").arg(i).arg(snapshot(rig), step.expected)));
            if (!step.panel.isEmpty())
                QCOMPARE(rig.panel(), step.panel);
            ++i;
        }
        QCOMPARE(readWav(rig.dir.path() + "/a.wav").frames, int64_t(2200 * 441 / 10));
    }

    void newDuringPlaybackLeavesTheTimerRunning() {
        RecorderRig rig;
        rig.start();
        rig.click("SBRec");
        rig.advanceAndTick(3000);
        rig.click("SBStop");
        rig.click("SBPlay");
        rig.platform.answers.enqueue(MsgResult::No);
        rig.click("SBNew");
        QCOMPARE(snapshot(rig), QString("10000|44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ|録音(&C)|011"));
        rig.advanceAndTick(500);
        QCOMPARE(rig.panel(), QString("00:00:00/00:00:00"));
    }

    void oneKeyCycleFromNew() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("録音中..."));
        rig.advanceAndTick(1000);
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("停止"));
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("再生中..."));
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("停止"));
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("再生中..."));
        QCOMPARE(rig.device().Mode(), ModePlaying);
    }

    void ctrlSpacePausesAndResumesARecordingWithoutAGap() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SS12");  // 44100 Hz 16-bit mono
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(rig.label(), QString("一時停止"));
        QVERIFY(rig.button("SBRec")->isEnabled());
        rig.fake->advance(5000);  // time passes while paused
        QCOMPARE(rig.device().Length(), 1000);
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(rig.label(), QString("録音中..."));
        rig.advanceAndTick(1000);
        QCOMPARE(rig.device().Length(), 2000);
        rig.key(Qt::Key_Space);
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/paused.wav");
        rig.key(Qt::Key_S, Qt::ControlModifier);
        const wavtest::Sound saved = readWav(rig.dir.path() + "/paused.wav");
        QCOMPARE(saved.frames, int64_t(88200));
        // The ramp runs on across the pause: the second part follows the first directly.
        for (int n = 1; n < saved.frames; ++n) {
            const int sample = saved.samples[size_t(n * saved.channels)];
            if (sample != FakeAudioBackend::rampSample(n, 0, 16))
                QFAIL(qPrintable(QString("frame %1 is %2").arg(n).arg(sample)));
        }
    }

    void skipAndRewindBoundaries_data() {
        QTest::addColumn<int>("playedMs");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<int>("expectedMs");
        QTest::newRow("skip at 10 s") << 10000 << true << 20000;
        QTest::newRow("skip with exactly 10 s left") << 20000 << true << 20000;
        QTest::newRow("skip with less left") << 25000 << true << 25000;
        QTest::newRow("rewind at 9.999 s") << 9999 << false << 0;
        QTest::newRow("rewind at 10 s") << 10000 << false << 0;
        QTest::newRow("rewind at 25 s") << 25000 << false << 15000;
    }
    void skipAndRewindBoundaries() {
        QFETCH(int, playedMs);
        QFETCH(bool, forward);
        QFETCH(int, expectedMs);
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(30000);
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Space);
        rig.fake->advance(playedMs);
        QCOMPARE(rig.device().Position(), playedMs);
        rig.key(forward ? Qt::Key_Right : Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(rig.device().Position(), expectedMs);
        QCOMPARE(rig.device().Mode(), ModePlaying);
        QCOMPARE(rig.label(), QString("再生中..."));
        QVERIFY(rig.timerOn());
    }

    void skipAndRewindDoNothingOutsidePlayback() {
        RecorderRig rig;
        rig.start();
        const auto tryBoth = [&] {
            const qint32 position = rig.device().Position();
            const QString before = snapshot(rig);
            const TMPModes mode = rig.device().Mode();
            rig.key(Qt::Key_Right, Qt::ControlModifier);
            rig.key(Qt::Key_Left, Qt::ControlModifier);
            QCOMPARE(rig.device().Position(), position);
            QCOMPARE(rig.device().Mode(), mode);
            QCOMPARE(snapshot(rig), before);
        };
        tryBoth();  // after New
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(15000);
        QCOMPARE(rig.device().Mode(), ModeRecording);
        const qint32 length = rig.device().Length();
        rig.key(Qt::Key_Right, Qt::ControlModifier);
        rig.key(Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(rig.device().Length(), length);
        QCOMPARE(rig.device().Mode(), ModeRecording);
        rig.key(Qt::Key_Space, Qt::ControlModifier);  // paused
        tryBoth();
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Space);  // stopped
        tryBoth();
    }

    void doubleClicksSkipAndRewind() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(40000);
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Space);
        rig.fake->advance(12000);
        QTest::mouseDClick(rig.find<TStatusPanel>("Panel2"), Qt::LeftButton, {}, QPoint(200, 8));
        QCOMPARE(rig.device().Position(), 22000);
        QTest::mouseDClick(rig.find<TStatusLabel>("Label1"), Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(rig.device().Position(), 12000);
    }

    void playAfterStopStartsAtZeroAndAfterPauseGoesOn() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(5000);
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.device().Position(), 0);
        rig.key(Qt::Key_Space);
        rig.fake->advance(2000);
        rig.click("SBPause");
        QCOMPARE(rig.device().Position(), 2000);
        rig.click("SBPlay");
        rig.fake->advance(1000);
        QCOMPARE(rig.device().Position(), 3000);
    }

    void ctrlSRightAfterNewSavesTheEmptyRecording() {
        RecorderRig rig;
        rig.start();
        QVERIFY(!rig.action("MMSave")->isEnabled());
        const QString target = rig.dir.path() + "/empty.wav";
        rig.platform.saveAnswers.enqueue(target);
        rig.key(Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(rig.readFile(target).size(), 44);
        QVERIFY(rig.form->fileSaved());
        QCOMPARE(rig.platform.saveDialogs.size(), 1);
        const SaveDialogState &shown = rig.platform.saveDialogs.first();
        QCOMPARE(shown.title, QString("ファイルの保存"));
        QCOMPARE(shown.defaultExt, QString("wav"));
        QCOMPARE(shown.initialDir, rig.dir.path());
    }

    // A save during a take covers what was recorded until then: what follows is unsaved, and
    // New, the abrupt end and recovery treat it so. The buttons stay as the take left them.
    void ctrlSDuringRecordingSavesWhatIsThereAndGoesOn() {
        const auto spoolNames = [](RecorderRig &rig) {
            return QDir(rig.stateDir()).entryList({"spool-*.wav", "saved-*.wav"}, QDir::Files);
        };
        const auto enabled = [](RecorderRig &rig) {
            QString on;
            for (const char *name : {"SBRec", "SBPause", "SBStop", "SBPlay", "SBSave"})
                on += rig.button(name)->isEnabled() ? "1" : "0";
            return on;
        };
        for (const bool recordMore : {true, false}) {
            RecorderRig rig;
            rig.start();
            rig.key(Qt::Key_Space);
            rig.advanceAndTick(1500);
            const QString target = rig.dir.path() + "/sofar.wav";
            rig.platform.saveAnswers.enqueue(target);
            rig.key(Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(readWav(target).frames, int64_t(1500 * 441 / 10));
            QVERIFY(!rig.form->fileSaved());
            QCOMPARE(rig.device().Mode(), ModeRecording);
            QCOMPARE(rig.label(), QString("録音中..."));
            QCOMPARE(enabled(rig), QString("01100"));
            if (recordMore)
                rig.advanceAndTick(3000);
            rig.key(Qt::Key_Space);  // Stop
            QCOMPARE(enabled(rig), QString("00011"));
            QCOMPARE(rig.form->fileSaved(), !recordMore);
            // Saved whole, the take is marked so: a crash now gives no second copy.
            QCOMPARE(spoolNames(rig).first().startsWith("saved-"), !recordMore);
            rig.platform.answers.enqueue(MsgResult::Cancel);
            rig.key(Qt::Key_N, Qt::ControlModifier);
            QCOMPARE(rig.platform.messages.size(), recordMore ? 1 : 0);
            // The abrupt end keeps what is unsaved for the next start.
            rig.form->EndAtOnce();
            const QStringList left = spoolNames(rig);
            QCOMPARE(left.size(), recordMore ? 1 : 0);
            QVERIFY(!recordMore || left.first().startsWith("spool-"));
        }
    }

    void saveDuringPlaybackStopsItFirst() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(3000);
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Space);
        rig.fake->advance(1000);
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/p.wav");
        rig.click("SBSave");
        QCOMPARE(rig.label(), QString("停止"));
        QCOMPARE(rig.device().Mode(), ModeStopped);
        QCOMPARE(rig.device().Position(), 0);
        QCOMPARE(readWav(rig.dir.path() + "/p.wav").frames, int64_t(3000 * 441 / 10));
    }

    void cancelledSaveChangesNothing() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(3000);
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Space);
        const QString before = snapshot(rig);
        rig.click("SBSave");
        QCOMPARE(snapshot(rig), before);
        QCOMPARE(rig.device().Mode(), ModePlaying);
    }

    void aFailedSaveIsReportedAndLeavesTheRecordingUnsaved() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.key(Qt::Key_Space);
        const QString target = rig.dir.path() + "/missing/take.wav";
        rig.platform.saveAnswers.enqueue(target);
        rig.click("SBSave");
        QVERIFY(!rig.form->fileSaved());
        QCOMPARE(rig.platform.errors().size(), 1);
        QCOMPARE(rig.platform.errors().first(),
                 "ファイル " + target + " を保存できません。\n保存先のフォルダーが存在しません。");
        QVERIFY(!QFile::exists(target));
        // The dialog keeps its folder and name, so the user can try again.
        QCOMPARE(rig.form->saveDialog().initialDir, rig.dir.path());
    }

    void endOfPlaybackDuringTheSaveDialog() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(2000);
        rig.key(Qt::Key_Space);
        rig.key(Qt::Key_Space);
        // The tick runs while the dialog is open and sees the end of playback.
        rig.platform.whileModal = [&] { rig.advanceAndTick(2500); };
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/d.wav");
        rig.click("SBSave");
        QCOMPARE(rig.label(), QString("停止"));
        QVERIFY(rig.form->fileSaved());
        QCOMPARE(readWav(rig.dir.path() + "/d.wav").frames, int64_t(2000 * 441 / 10));
    }

    void recArgument() {
        RecorderRig rig;
        rig.start({"-rec"});
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.device().Mode(), ModeRecording);
        QVERIFY(!rig.form->fileSaved());
        RecorderRig capitals;
        capitals.start({"-REC"});
        QCOMPARE(capitals.device().Mode(), ModeStopped);
        RecorderRig second;
        second.start({"x", "-rec"});
        QCOMPARE(second.device().Mode(), ModeStopped);
    }

    // A format change whose work file cannot be written leaves the device closed under the
    // running take; the tick then says so once and stops, rather than after every OK.
    void aDeviceClosedUnderATakeIsReportedOnce() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        QVERIFY(QFile::remove(rig.workFile()));
        QVERIFY(QDir().mkdir(rig.workFile()));  // not writable as a file, even for root
        rig.platform.answers.enqueue(MsgResult::No);
        rig.trigger("SS0");
        QCOMPARE(rig.platform.errors().size(), 1);
        QVERIFY(rig.timerOn());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.timerOn(), 10000);
        const QString gone = QStringLiteral("MCI デバイスがありません.");
        QCOMPARE(rig.platform.errors().count(gone), 1);
        QVERIFY(!rig.platform.sleepInhibited);
    }
};

QTEST_MAIN(TestTransport)
#include "tst_transport.moc"
