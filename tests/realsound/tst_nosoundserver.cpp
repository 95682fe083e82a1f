// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The device with no sound server to talk to.
#include "audiobackend.h"
#include "tmediaplayer.h"

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

        QByteArray templ("RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00"
                         "\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00"
                         "data\x00\x00\x00\x00", 44);
        player.FileName = dir.filePath(QStringLiteral("tavr.wav"));
        QFile f(player.FileName);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(templ);
        f.close();
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
