// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Start-up, New, the format command, the work file and the unsaved-recording question.
#include "recorderrig.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include "wavtestutil.h"


#include <sys/stat.h>

namespace {
QByteArray expectedTemplate(int rate, int bits, int channels) {
    return wavtest::templateBytes(rate, bits, channels);
}

const QString kQuestion = QStringLiteral("ファイルは保存されていません。\n\rファイルを保存しますか？");
}  // namespace

class TestNewFormat : public QObject {
    Q_OBJECT
private slots:
    void startUpPreparesANewRecording() {
        RecorderRig rig;
        rig.start();
        QVERIFY(rig.platform.messages.isEmpty());
        QCOMPARE(rig.label(), QString("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ"));
        QCOMPARE(rig.panel(), QString("00:00:00/00:00:00"));
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(44100, 16, 2));
        QVERIFY(rig.device().Opened());
        QCOMPARE(rig.device().Length(), 0);
        QCOMPARE(rig.device().FileName, rig.workFile());
        QVERIFY(rig.form->fileSaved());
        QVERIFY(!rig.form->playing());
        QVERIFY(!rig.timerOn());
        QVERIFY(rig.button("SBRec")->isEnabled());
        for (const char *name : {"SBSave", "SBPlay", "SBPause", "SBStop"})
            QVERIFY2(!rig.button(name)->isEnabled(), name);
        QVERIFY(!rig.action("MMSave")->isEnabled());
        QCOMPARE(rig.action("Sosa1")->text(), QString("録音(&C)"));
        QCOMPARE(MainWindowUi::clientWidth(rig.form.get()), 245);
        QCOMPARE(MainWindowUi::clientHeight(rig.form.get()), 51);
        // The help file is named after the executable.
        rig.trigger("Contents1");
        QCOMPARE(rig.platform.helpCalls, QStringList{rig.dir.path() + "/tavr.hlp"});
    }

    void noSoundCardWarnsAndGoesOn() {
        RecorderRig rig;
        rig.start({}, 0);
        QCOMPARE(rig.platform.messages.size(), 1);
        const auto &m = rig.platform.messages.first();
        QCOMPARE(m.caption, QString("警告"));
        QCOMPARE(m.text, QString("サウンドカードがありません。\n\rTavrinが動作しない可能性があります。"));
        QCOMPARE(m.buttons, MsgButtons::Ok);
        QCOMPARE(m.icon, MsgIcon::None);
        QVERIFY(rig.device().Opened());
        QCOMPARE(rig.label(), QString("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ"));
    }

    void everyFormatWritesItsTemplate_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("label");
        const int rates[] = {11025, 22050, 44100};
        for (int group = 0; group < 3; ++group) {
            for (int i = 0; i < 4; ++i) {
                const int bits = i < 2 ? 8 : 16;
                const int channels = i % 2 ? 2 : 1;
                const QString label = QStringLiteral("%1Hz %2ﾋﾞｯﾄ %3")
                                          .arg(rates[group])
                                          .arg(bits)
                                          .arg(channels == 2 ? "ｽﾃﾚｵ" : "ﾓﾉﾗﾙ");
                const int position = group * 5 + i;
                QTest::newRow(qPrintable(QString("SS%1").arg(position)))
                    << position << rates[group] << bits << channels << label;
            }
        }
    }
    void everyFormatWritesItsTemplate() {
        QFETCH(int, position);
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(int, channels);
        QFETCH(QString, label);
        RecorderRig rig;
        rig.start();
        const quint16 idBefore = rig.device().DeviceId();
        rig.action(qPrintable(QString("SS%1").arg(position)))->trigger();
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(rate, bits, channels));
        QCOMPARE(rig.label(), label);
        QVERIFY(rig.device().Opened());
        QVERIFY(rig.device().DeviceId() != idBefore);
        QVERIFY(rig.action(qPrintable(QString("SS%1").arg(position)))->isChecked());
        int checked = 0;
        for (QAction *a : rig.find<QMenu>("MMSelect")->actions())
            checked += a->isChecked();
        QCOMPARE(checked, 1);
    }

    void theCheckedFormatRunsInFull() {
        RecorderRig rig;
        rig.start();
        QFile::remove(rig.workFile());
        rig.trigger("SS13");
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(44100, 16, 2));
        QVERIFY(rig.platform.messages.isEmpty());
    }

    void newRewritesAMissingWorkFileAndOpensTwice() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SS2");
        QVERIFY(QFile::remove(rig.workFile()));
        const quint16 idBefore = rig.device().DeviceId();
        rig.trigger("MMNew");
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(11025, 16, 1));
        QCOMPARE(int(rig.device().DeviceId()), idBefore + 2);
        QVERIFY(rig.device().Opened());
        QVERIFY(rig.form->fileSaved());
        QVERIFY(rig.button("SBRec")->isEnabled());
        QVERIFY(!rig.button("SBStop")->isEnabled());
        QCOMPARE(rig.label(), QString("11025Hz 16ﾋﾞｯﾄ ﾓﾉﾗﾙ"));
    }

    void aDamagedWorkFileIsWrittenAfresh() {
        RecorderRig rig;
        QFile f(rig.workFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is not a wave file at all, just some text somebody put here");
        f.close();
        rig.start();
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(44100, 16, 2));
        QVERIFY(rig.device().Opened());
    }

    void guardDuringRecordingAsksWithoutBeep() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SSosa");
        rig.advanceAndTick(1500);
        rig.platform.answers.enqueue(MsgResult::Cancel);
        rig.trigger("MMNew");
        QCOMPARE(rig.platform.beeps, 0);
        QCOMPARE(rig.platform.messages.size(), 1);
        const auto &m = rig.platform.messages.first();
        QCOMPARE(m.caption, QString("確認"));
        QCOMPARE(m.text, kQuestion);
        QCOMPARE(m.buttons, MsgButtons::YesNoCancel);
        QCOMPARE(m.icon, MsgIcon::Question);
        // Cancel: the recording goes on untouched.
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.device().Mode(), ModeRecording);
        QVERIFY(!rig.form->fileSaved());
        QCOMPARE(rig.device().Length(), 1500);
    }

    void guardAfterRecordingBeepsAndNoDiscards() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SSosa");
        rig.advanceAndTick(1000);
        rig.trigger("SSosa");  // stop
        rig.platform.answers.enqueue(MsgResult::No);
        rig.trigger("SS0");
        QCOMPARE(rig.platform.beeps, 1);
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(11025, 8, 1));
        QCOMPARE(rig.device().Length(), 0);
        QVERIFY(rig.form->fileSaved());
        QVERIFY(rig.action("SS0")->isChecked());
    }

    void guardYesSavesThenProceeds() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SSosa");
        rig.advanceAndTick(2000);
        const QString target = rig.dir.path() + "/take.wav";
        rig.platform.answers.enqueue(MsgResult::Yes);
        rig.platform.saveAnswers.enqueue(target);
        rig.trigger("MMNew");
        // Saved while the recording went on, then New discarded it.
        const QByteArray saved = rig.readFile(target);
        QCOMPARE(saved.size(), 44 + 2000 * 44100 / 1000 * 4);
        QCOMPARE(rig.device().Length(), 0);
        QCOMPARE(rig.label(), QString("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ"));
        QVERIFY(rig.form->fileSaved());
        QCOMPARE(rig.form->saveDialog().initialDir, rig.dir.path());
        QVERIFY(rig.form->saveDialog().fileName.isEmpty());
    }

    void guardYesThenCancelledDialogAborts() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SSosa");
        rig.advanceAndTick(500);
        rig.trigger("SSosa");
        rig.platform.answers.enqueue(MsgResult::Yes);
        rig.platform.saveAnswers.enqueue(std::nullopt);
        rig.trigger("SS5");
        QVERIFY(rig.action("SS13")->isChecked());
        QVERIFY(!rig.action("SS5")->isChecked());
        QCOMPARE(rig.device().Length(), 500);
        QVERIFY(!rig.form->fileSaved());
        QCOMPARE(rig.readFile(rig.workFile()), expectedTemplate(44100, 16, 2));
    }

    void aFailedSaveInTheGuardKeepsTheRecording() {
        RecorderRig rig;
        rig.start();
        rig.trigger("SSosa");
        rig.advanceAndTick(500);
        rig.trigger("SSosa");
        rig.platform.answers.enqueue(MsgResult::Yes);
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/no/such/folder/take.wav");
        rig.trigger("MMNew");
        QCOMPARE(rig.platform.errors().size(), 1);
        QVERIFY(rig.platform.errors().first().contains("take.wav"));
        QCOMPARE(rig.device().Length(), 500);
        QVERIFY(!rig.form->fileSaved());
        QCOMPARE(rig.label(), QString("停止"));
    }

    // Files planted where the program's own are expected: a link is neither read nor written
    // through, a FIFO does not hang the start, and what the program creates is private.
    void plantedFilesAreNeitherFollowedNorWaitedOn() {
        RecorderRig rig;
        const QString other = rig.dir.path() + "/other.wav";
        QFile f(other);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(expectedTemplate(44100, 16, 2) + QByteArray(400, 'x')) > 0);
        f.close();
        const QByteArray otherBefore = rig.readFile(other);
        QVERIFY(QFile::link(other, rig.workFile()));
        QCOMPARE(::mkfifo(QFile::encodeName(rig.iniFile()).constData(), 0600), 0);
        rig.start();
        QVERIFY(rig.device().Opened());
        QCOMPARE(rig.device().Length(), 0);  // not the planted sound
        QVERIFY(!QFileInfo(rig.workFile()).isSymLink());
        QCOMPARE(rig.readFile(other), otherBefore);
        QCOMPARE(QFileInfo(rig.workFile()).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(QFileInfo(rig.iniFile()).exists() && !QFileInfo(rig.iniFile()).isFile());

        // A FIFO in the work file's place gives way to a fresh template.
        RecorderRig fifo;
        QCOMPARE(::mkfifo(QFile::encodeName(fifo.workFile()).constData(), 0600), 0);
        fifo.start();
        QVERIFY(fifo.device().Opened());
        QCOMPARE(fifo.readFile(fifo.workFile()), expectedTemplate(44100, 16, 2));
    }

    void workFileThatCannotBeCreated() {
        RecorderRig rig;
        rig.start();
        QVERIFY(QFile::remove(rig.workFile()));
        QVERIFY(QDir().mkdir(rig.workFile()));  // a folder where the file should be
        rig.trigger("SS0");
        QCOMPARE(rig.platform.errors(),
                 QStringList{QString("ファイル %1 を作成できません.").arg(rig.workFile())});
        QVERIFY(rig.action("SS0")->isChecked());
        QVERIFY(!rig.device().Opened());
        QVERIFY(rig.form->fileSaved());
    }

    void recordOnTheClosedDeviceEndsTheProgram() {
        RecorderRig rig;
        rig.start();
        QVERIFY(QFile::remove(rig.workFile()));
        QVERIFY(QDir().mkdir(rig.workFile()));
        rig.trigger("SS0");  // fails after closing the device
        rig.platform.messages.clear();
        bool ended = false;
        try {
            rig.form->SSosaClick();
        } catch (const ProgramTerminated &) {
            ended = true;
        }
        QVERIFY(ended);
        QCOMPARE(rig.platform.messages.size(), 1);
        const auto &last = rig.platform.messages.last();
        QCOMPARE(last.caption, QString("エラー"));
        QCOMPARE(last.text, QString("MCIエラーが発生しました。"));
        QCOMPARE(last.buttons, MsgButtons::Ok);
        QCOMPARE(last.icon, MsgIcon::None);
    }
};

QTEST_MAIN(TestNewFormat)
#include "tst_newformat.moc"
