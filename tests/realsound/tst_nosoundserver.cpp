// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The device with no sound server to talk to.
#include "audiobackend.h"
#include "tmediaplayer.h"
#include "wavtestutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestNoSoundServer : public QObject {
    Q_OBJECT

private slots:
    void reportsNoDevicesAndRefusesToRecord()
    {
        QTemporaryDir dir;
        TMediaPlayer player(makeAudioBackend(), dir.filePath(QStringLiteral("spool")));
        QElapsedTimer t;
        t.start();
        QCOMPARE(player.outputDeviceCount(), 0);

        player.FileName = dir.filePath(QStringLiteral("tavr.wav"));
        QVERIFY(wavtest::writeFile(player.FileName, wavtest::templateBytes(44100, 16, 2)));
        player.Open();  // opening a file needs no server
        player.Record();
        const quint32 code = player.ErrorCode();
        QVERIFY(code != 0);
        QCOMPARE(player.Mode(), ModeStopped);
        const DeviceFault fault = player.takeFault();
        QCOMPARE(fault.code, code);
        QVERIFY(!fault.text.isEmpty());
        player.Play();  // nothing recorded: nothing to play, and no crash
        QCOMPARE(player.Mode(), ModeStopped);
        QVERIFY2(t.elapsed() < 20000, "must not hang");
    }
};

QTEST_GUILESS_MAIN(TestNoSoundServer)
#include "tst_nosoundserver.moc"
