// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The recorder's window and the program itself on the real sound server (a 440 Hz source and
// a null sink), in real time.
#include "audiobackend.h"
#include "scriptedplatform.h"
#include "tmediaplayer.h"
#include "unit1.h"
#include "widgets.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "wavtestutil.h"

#include <cmath>
#include <vector>

namespace {
using wavtest::readSound;
using wavtest::Sound;

// Periods between rising zero crossings, in frames; a dropped or doubled stretch of a 440 Hz
// sine shows as a period far from rate / 440.
QList<double> periods(const std::vector<double> &x, size_t from, size_t to) {
    QList<double> out;
    double last = -1;
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double at = double(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
            if (last >= 0)
                out.append(at - last);
            last = at;
        }
    }
    return out;
}

bool steadySine(const Sound &s, size_t from, size_t to, QString *why) {
    const double expected = s.rate / 440.0;
    const QList<double> p = periods(wavtest::channelOf(s, 0), from, to);
    if (p.size() < int((to - from) / expected) - 3) {
        *why = QStringLiteral("only %1 periods").arg(p.size());
        return false;
    }
    for (int i = 0; i < p.size(); ++i) {
        if (std::abs(p[i] - expected) > 0.5) {
            *why = QStringLiteral("period %1 is %2 frames").arg(i).arg(p[i]);
            return false;
        }
    }
    return true;
}

struct Window {
    QTemporaryDir dir;
    ScriptedPlatform platform;
    std::unique_ptr<TForm1> form;
    Window() {
        form = std::make_unique<TForm1>(platform, makeAudioBackend(),
                                        AppPaths(dir.path() + "/tavr", dir.path() + "/state"), QStringList{});
        form->show();
    }
    QString label() const { return form->findChild<TStatusLabel *>("Label1")->caption(); }
    QString panel() const { return form->findChild<TStatusPanel *>("Panel2")->caption(); }
    void saveAs(const QString &path) {
        platform.saveAnswers.enqueue(path);
        form->SBSaveClick();
    }
};
}  // namespace

class TestWindowRealSound : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QFileInfo::exists(qEnvironmentVariable("PULSE_SERVER").section(':', 1)))
            QSKIP("no test server of this kind is running here");
    }

    void pausedRecordingOnlyGrowsAtItsEnd() {
        Window w;
        w.form->SBRecClick();
        QTest::qWait(1000);
        w.form->SBPauseClick();
        QCOMPARE(w.label(), QString("一時停止"));
        w.saveAs(w.dir.path() + "/first.wav");
        QTest::qWait(700);  // the source runs on; none of it may reach the recording
        w.form->SBRecClick();
        QTest::qWait(1000);
        w.form->SBStopClick();
        w.saveAs(w.dir.path() + "/whole.wav");

        const Sound first = readSound(w.dir.path() + "/first.wav");
        const Sound whole = readSound(w.dir.path() + "/whole.wav");
        QCOMPARE(first.rate, 44100);
        QVERIFY2(std::abs(first.frames - 44100) < 4410, qPrintable(QString::number(first.frames)));
        QVERIFY2(std::abs(whole.frames - 2 * 44100) < 2 * 4410, qPrintable(QString::number(whole.frames)));
        for (size_t i = 0; i < first.samples.size(); ++i)
            if (first.samples[i] != whole.samples[i])
                QFAIL(qPrintable(QString("frame %1 changed after the resume").arg(i / size_t(first.channels))));
        QString why;
        // Each part is one unbroken stretch of the sine (the start of a stream may ramp in).
        QVERIFY2(steadySine(whole, 2205, size_t(first.frames) - 100, &why), qPrintable(why));
        QVERIFY2(steadySine(whole, size_t(first.frames) + 2205, size_t(whole.frames), &why), qPrintable(why));
    }

    void playbackReachesItsEndAndTheWindowShowsTheStop() {
        Window w;
        w.form->SBRecClick();
        QTest::qWait(1500);
        w.form->SBStopClick();
        const qint32 length = w.form->mediaPlayer().Length();
        QVERIFY(length >= 1400 && length <= 1700);
        w.form->SBPlayClick();
        QCOMPARE(w.label(), QString("再生中..."));
        QTRY_COMPARE_WITH_TIMEOUT(w.label(), QString("停止"), 5000);
        QCOMPARE(w.form->mediaPlayer().Position(), 0);
        QCOMPARE(w.panel(), QString("00:00:00/00:00:01"));
        QVERIFY(w.platform.messages.isEmpty());
    }

    // tavr -rec with a 2-second stop timer armed and auto-save on: the program records the
    // source by itself and leaves a time-stamped file beside itself.
    void recArgumentWithTheStopTimerSavesATimeStampedFile() {
        QTemporaryDir dir;
        const QString exe = dir.path() + "/tavr";
        QVERIFY(QFile::copy(qEnvironmentVariable("TAVR_EXE"), exe));
        QFile ini(dir.path() + "/tavr.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Setting]\nTimer=00:00:02\nTimerON=1\nAutoSave=1\n");
        ini.close();
        QProcess tavr;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", dir.path() + "/state");
        tavr.setProcessEnvironment(env);
        tavr.start(exe, {"-rec"});
        QVERIFY(tavr.waitForStarted());
        const QRegularExpression stamped("^\\d{10}\\.wav$");
        QString saved;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QString &name : QDir(dir.path()).entryList({"*.wav"}))
                    if (stamped.match(name).hasMatch())
                        saved = dir.path() + "/" + name;
                return !saved.isEmpty();
            }(),
            10000);
        tavr.kill();
        tavr.waitForFinished();
        const Sound s = readSound(saved);
        QCOMPARE(s.rate, 44100);
        QCOMPARE(s.channels, 2);
        QVERIFY2(s.frames >= 2 * 44100 && s.frames < 3 * 44100, qPrintable(QString::number(s.frames)));
        QString why;
        QVERIFY2(steadySine(s, 2205, size_t(s.frames), &why), qPrintable(why));
    }
};

QTEST_MAIN(TestWindowRealSound)
#include "tst_window_realsound.moc"
