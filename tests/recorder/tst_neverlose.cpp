// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Never losing a take: recovery of spools left by an earlier run, the abrupt end, faults the
// device meets by itself, a full disk, and the sleep inhibitor while recording.
#include "recorderrig.h"

#include "spoolrecovery.h"
#include "wavtestutil.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/resource.h>

#include <csignal>

namespace {
QStringList spools(const RecorderRig &rig) {
    return QDir(rig.stateDir()).entryList({"spool-*.wav"}, QDir::Files);
}
}  // namespace

class TestNeverLose : public QObject {
    Q_OBJECT
private slots:
    void anAbruptEndKeepsTheTakeAndTheNextStartSavesIt() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(2500);
        rig.form->EndAtOnce();
        QCOMPARE(spools(rig).size(), 1);
        QVERIFY(QFile::exists(rig.iniFile()));  // the settings were written on the way out
        rig.form.reset();

        RecorderRig next;
        QVERIFY(QDir().mkpath(next.stateDir()));
        // Named with this very process's id, as every start in a sandbox may have the same one:
        // only the lock tells a live spool.
        QVERIFY(QFile::rename(rig.stateDir() + "/" + spools(rig).first(),
                              next.stateDir() + QString("/spool-%1-0.wav").arg(QCoreApplication::applicationPid())));
        next.start();
        next.form->RecoverEarlierTakes();
        QTRY_VERIFY(!next.form->recovering());
        QTRY_COMPARE(next.platform.messages.size(), 1);
        const QStringList saved = QDir(next.dir.path()).entryList({"??????????.wav"});
        QCOMPARE(saved.size(), 1);
        QVERIFY(QRegularExpression("^\\d{10}\\.wav$").match(saved.first()).hasMatch());
        QCOMPARE(next.readFile(next.dir.path() + "/" + saved.first()).size(), 44 + 2500 * 441 / 10 * 4);
        QCOMPARE(next.platform.messages.size(), 1);
        QVERIFY(next.platform.messages.first().text.contains(saved.first()));
        QCOMPARE(next.platform.messages.first().icon, MsgIcon::Information);
        QVERIFY(spools(next).isEmpty());
    }

    void aSavedTakeLeavesNoSpoolBehind() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/kept.wav");
        rig.key(Qt::Key_S, Qt::ControlModifier);
        rig.key(Qt::Key_Space);
        rig.form->EndAtOnce();
        QVERIFY(spools(rig).isEmpty());
    }

    void aRunningCopysSpoolIsNeverTouched() {
        RecorderRig running;
        running.start();
        running.key(Qt::Key_Space);
        running.advanceAndTick(1000);
        QCOMPARE(spools(running).size(), 1);
        const QList<RecoveredTake> taken = recoverOrphanedSpools(running.stateDir(), running.dir.path());
        QVERIFY(taken.isEmpty());
        QCOMPARE(spools(running).size(), 1);
        running.advanceAndTick(1000);
        QCOMPARE(running.device().Length(), 2000);
    }

    void recoveredNamesNeverReplaceAFile() {
        QTemporaryDir dir;
        const QString state = dir.path() + "/state";
        for (int i = 0; i < 2; ++i) {
            RecorderRig rig;
            rig.start();
            rig.key(Qt::Key_Space);
            rig.advanceAndTick(500);
            rig.form->EndAtOnce();
            QDir().mkpath(state);
            const QString spool = rig.stateDir() + "/" + spools(rig).first();
            QVERIFY(QFile::rename(spool, state + QString("/spool-9-%1.wav").arg(i)));
        }
        // Both spools carry the same minute and second.
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        for (const QString &name : QDir(state).entryList({"spool-*"})) {
            QFile f(state + "/" + name);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
        }
        const QList<RecoveredTake> taken = recoverOrphanedSpools(state, dir.path());
        QCOMPARE(taken.size(), 2);
        QStringList names;
        for (const RecoveredTake &t : taken)
            names.append(QFileInfo(t.savedAs).fileName());
        names.sort();
        QCOMPARE(names, (QStringList{"0304050607-2.wav", "0304050607.wav"}));
    }

    // Many orphaned takes: the window answers while they are saved, and the message names a
    // handful and counts the rest.
    void manyRecoveredTakesAreCountedNotListed() {
        RecorderRig rig;
        QVERIFY(QDir().mkpath(rig.stateDir()));
        const QByteArray wav = wavtest::templateBytes(8000, 8, 1, 1, QByteArray(16, '\x80'));
        for (int i = 0; i < 8; ++i) {
            QFile f(rig.stateDir() + QString("/spool-1-%1.wav").arg(i));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(wav) == wav.size());
        }
        rig.start();
        rig.form->RecoverEarlierTakes();
        QTRY_COMPARE(rig.platform.messages.size(), 1);
        const QString text = rig.platform.messages.first().text;
        QCOMPARE(text.count(QRegularExpression("\\d{10}(-\\d+)?\\.wav")), 5);
        QVERIFY2(text.endsWith("ほか 3 件"), qPrintable(text));
        QVERIFY(spools(rig).isEmpty());
    }

    void aSpoolThatCannotBeSavedStaysForNextTime() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(500);
        rig.form->EndAtOnce();
        // Under another copy's name: this process's own spools are never orphans.
        QVERIFY(QFile::rename(rig.stateDir() + "/" + spools(rig).first(), rig.stateDir() + "/spool-1-0.wav"));
        const QString blocked = rig.dir.path() + "/blocked";
        QFile file(blocked);  // a file where the target folder should be
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QList<RecoveredTake> taken = recoverOrphanedSpools(rig.stateDir(), blocked);
        QCOMPARE(taken.size(), 1);
        QVERIFY(taken.first().savedAs.isEmpty());
        QCOMPARE(spools(rig).size(), 1);
    }

    void theServerGoingAwayStopsTheWindowAndSaysSo() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1500);
        rig.fake->failStream(MCIERR_CANNOT_LOAD_DRIVER);
        rig.advanceAndTick(500);
        QCOMPARE(rig.label(), QString("停止"));
        QVERIFY(!rig.timerOn());
        QCOMPARE(rig.platform.messages.size(), 1);
        QString expected;
        QVERIFY(mciGetErrorString(MCIERR_CANNOT_LOAD_DRIVER, &expected));
        QCOMPARE(rig.platform.messages.first().text, expected);
        QCOMPARE(rig.platform.messages.first().icon, MsgIcon::Stop);
        // What was recorded is kept and still saves.
        QVERIFY(rig.device().Length() >= 1500);
        QVERIFY(!rig.form->fileSaved());
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/after.wav");
        rig.click("SBSave");
        QVERIFY(rig.form->fileSaved());
        QVERIFY(rig.readFile(rig.dir.path() + "/after.wav").size() >= 44 + 1500 * 441 / 10 * 4);
    }

    void aFullDiskStopsTheRecordingCleanly() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        // The process may write no file beyond 300 kB: the spool runs into that like a full disk.
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 300 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        for (int i = 0; i < 8; ++i)
            rig.advanceAndTick(500);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);
        QCOMPARE(rig.label(), QString("停止"));
        QCOMPARE(rig.platform.messages.size(), 1);
        const qint32 kept = rig.device().Length();
        QVERIFY2(kept > 1000 && kept < 1800, qPrintable(QString::number(kept)));
        // The captured part plays, and saves once there is room again.
        rig.key(Qt::Key_Space);
        QCOMPARE(rig.label(), QString("再生中..."));
        rig.advanceAndTick(2000);
        QCOMPARE(rig.label(), QString("停止"));
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/rescued.wav");
        rig.click("SBSave");
        QVERIFY(rig.form->fileSaved());
        const qint64 frames = (rig.readFile(rig.dir.path() + "/rescued.wav").size() - 44) / 4;
        QVERIFY2(qAbs(frames * 1000.0 / 44100 - kept) <= 0.5, qPrintable(QString::number(frames)));
    }

    // The disk refuses the last audio at a pause: the pause says so at once, and the next take
    // goes on rather than stopping at its first tick with that old message.
    void aFaultMetAtAPauseIsToldThereAndStopsNothingLater() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit none = old;
        none.rlim_cur = QFileInfo(rig.device().spoolPath()).size();
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &none), 0);
        rig.fake->advance(400);  // inline: the spool refuses these frames and the stream ends
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);
        QCOMPARE(rig.label(), QString("一時停止"));
        QCOMPARE(rig.platform.messages.size(), 1);
        rig.key(Qt::Key_Space, Qt::ControlModifier);
        QCOMPARE(rig.label(), QString("録音中..."));
        rig.advanceAndTick(500);
        rig.advanceAndTick(500);
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.platform.messages.size(), 1);
    }

    void sleepIsHeldOffOnlyWhileRecording() {
        RecorderRig rig;
        rig.start();
        QVERIFY(!rig.platform.sleepInhibited);
        rig.key(Qt::Key_Space);
        QVERIFY(rig.platform.sleepInhibited);
        rig.key(Qt::Key_Space, Qt::ControlModifier);  // pause
        QVERIFY(!rig.platform.sleepInhibited);
        rig.key(Qt::Key_Space, Qt::ControlModifier);  // resume
        QVERIFY(rig.platform.sleepInhibited);
        rig.key(Qt::Key_Space);  // stop
        QVERIFY(!rig.platform.sleepInhibited);
        rig.key(Qt::Key_Space);  // play
        QVERIFY(!rig.platform.sleepInhibited);
        rig.platform.answers.enqueue(MsgResult::No);
        rig.trigger("MMNew");
        rig.click("SBTimer");  // 00:00:00: the stop timer ends the next recording at once
        rig.key(Qt::Key_Space);
        QVERIFY(rig.platform.sleepInhibited);
        rig.advanceAndTick(500);
        QCOMPARE(rig.label(), QString("停止"));
        QVERIFY(!rig.platform.sleepInhibited);
        QCOMPARE(rig.platform.sleepChanges, 6);
    }
};

QTEST_MAIN(TestNeverLose)
#include "tst_neverlose.moc"
